#include "image_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::FILE *openRegularFile(const char *path, const char **failure) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *failure = std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) {
        *failure = "not a regular file";
        close(fd);
        return nullptr;
    }
    std::FILE *file = fdopen(fd, "rb");
    if (file == nullptr) {
        *failure = std::strerror(errno);
        close(fd);
    }
    return file;
}

} // namespace platform
