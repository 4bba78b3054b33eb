#include "image_file.h"

#include "system_text.h"

#include <windows.h>

#include <cerrno>
#include <fcntl.h>
#include <io.h>

namespace platform {

int openForReading(const char *path) {
    const std::wstring name = wideText(path);
    // Windows refuses to open a folder as "permission denied"; it is said as on POSIX instead.
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        errno = EISDIR;
        return -1;
    }
    // Windows opens a named pipe without waiting (it refuses one with no free instance); the
    // caller's fstat() tells a pipe or a device from a file.
    return _wopen(name.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

} // namespace platform
