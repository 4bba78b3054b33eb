#include "image_file.h"

#include <cerrno>

#include <fcntl.h>

namespace platform {

int openForReading(const char *path) {
    int fd;
    do {
        fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace platform
