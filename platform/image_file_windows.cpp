#include "image_file.h"

#include "system_text.h"

#include <string>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace platform {

std::FILE *openRegularFile(const char *path, const char **failure) {
    thread_local std::string why;
    // Backup semantics let a directory open, as it does elsewhere; a pipe or a device is not a
    // disk file and is refused before anything reads it.
    const HANDLE handle = CreateFileW(wideText(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = lastErrorText();
        *failure = why.c_str();
        return nullptr;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        *failure = "not a regular file";
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        *failure = "cannot be read";
        return nullptr;
    }
    std::FILE *file = _fdopen(fd, "rb");
    if (file == nullptr) {
        _close(fd);
        *failure = "cannot be read";
    }
    return file;
}

} // namespace platform
