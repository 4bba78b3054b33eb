#include "input_stream.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

InputStream::~InputStream() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
}

bool InputStream::open(const std::string &path, std::string *why) {
    // Without O_NONBLOCK, opening a named pipe waits for a writer, perhaps for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    handle_ = fd;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        *why = std::strerror(errno);
        return false;
    }
    kind_ = S_ISDIR(info.st_mode)   ? Kind::Directory
            : S_ISREG(info.st_mode) ? Kind::Regular
                                    : Kind::Stream;
    size_ = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    return true;
}

InputStream::Read InputStream::read(char *buffer, std::size_t capacity, std::size_t *got,
                                    Deadline deadline, std::string *why) {
    const int fd = static_cast<int>(handle_);
    *got = 0;
    for (;;) {
        if (kind_ == Kind::Stream) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{fd, POLLIN, 0};
            const int ready = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready < 0) {
                *why = std::strerror(errno);
                return Read::Failed;
            }
            if (ready == 0) {
                return Read::TimedOut;
            }
        }
        const ssize_t n = ::read(fd, buffer, capacity);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (n < 0) {
            *why = std::strerror(errno);
            return Read::Failed;
        }
        if (n == 0) {
            return Read::End;
        }
        *got = static_cast<std::size_t>(n);
        return Read::Data;
    }
}

} // namespace platform
