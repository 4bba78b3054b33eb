#include "image_file.h"

#include "system_text.h"

#include <fcntl.h>
#include <io.h>

namespace platform {

int openForReading(const char *path) {
    // Windows opens a named pipe without waiting (it refuses one with no free instance); the
    // caller's fstat() tells a pipe or a device from a file.
    return _wopen(wideText(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

} // namespace platform
