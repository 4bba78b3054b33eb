#include "input_file.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace input_file {

namespace {

// Closes the descriptor when the read is over, on every path.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

ReadResult failure(ReadStatus status, std::string why) {
    ReadResult result;
    result.status = status;
    result.why = std::move(why);
    return result;
}

ReadResult tooLarge(std::size_t limit) {
    return failure(ReadStatus::TooLarge, "it holds more than " + sizeText(limit));
}

// Reads the file to its end. A pipe, a socket or a device (`stream`) may take at most `wait_ms`
// to deliver all of it; a regular file is read at once.
ReadResult readToEnd(int fd, std::size_t limit, int wait_ms, bool stream) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
    ReadResult result;
    result.status = ReadStatus::Read;
    char buffer[65536];
    for (;;) {
        if (stream) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            pollfd p{fd, POLLIN, 0};
            const int ready = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready < 0) {
                return failure(ReadStatus::ReadFailed, std::strerror(errno));
            }
            if (ready == 0) {
                return failure(ReadStatus::DidNotEnd,
                               "it is a pipe or a device that did not end within " +
                                   (wait_ms % 1000 == 0 ? std::to_string(wait_ms / 1000) + " s"
                                                        : std::to_string(wait_ms) + " ms"));
            }
        }
        const ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (n < 0) {
            return failure(ReadStatus::ReadFailed, std::strerror(errno));
        }
        if (n == 0) {
            return result;
        }
        // A regular file may have grown since its size was taken.
        if (result.data.size() + static_cast<std::size_t>(n) > limit) {
            return tooLarge(limit);
        }
        result.data.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

std::string sizeText(std::size_t bytes) {
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0) {
        return std::to_string(bytes / (1024 * 1024)) + " MiB";
    }
    if (bytes >= 1024 && bytes % 1024 == 0) {
        return std::to_string(bytes / 1024) + " KiB";
    }
    return std::to_string(bytes) + " bytes";
}

ReadResult readAll(const std::string &path, std::size_t limit, int wait_ms) {
    // Without O_NONBLOCK, opening a named pipe waits for a writer, perhaps for ever.
    const Descriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        return failure(ReadStatus::CannotOpen, std::strerror(errno));
    }
    struct stat info {};
    if (fstat(fd.get(), &info) != 0) {
        return failure(ReadStatus::CannotOpen, std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        return failure(ReadStatus::Directory, "it is a directory");
    }
    const bool regular = S_ISREG(info.st_mode);
    // A regular file's size says at once whether it fits.
    if (regular && (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > limit)) {
        return tooLarge(limit);
    }
    return readToEnd(fd.get(), limit, wait_ms, !regular);
}

} // namespace input_file
