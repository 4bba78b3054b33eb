#include "stream_pipes.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int STREAM_FD[2] = {STDOUT_FILENO, STDERR_FILENO};

void writeAll(int fd, const char *bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t n = write(fd, bytes, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // where the stream went is gone: the caller still has the bytes
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
}

void closeFd(std::intptr_t &fd) {
    if (fd >= 0) {
        ::close(static_cast<int>(fd));
        fd = -1;
    }
}

void closeFd(int &fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

StreamPipes::~StreamPipes() {
    close();
}

bool StreamPipes::open() {
    std::fflush(stdout);
    std::fflush(stderr);
    int pipes[2][2] = {{-1, -1}, {-1, -1}};
    int wake[2] = {-1, -1};
    bool ok = pipe2(pipes[0], O_CLOEXEC) == 0 && pipe2(pipes[1], O_CLOEXEC) == 0 &&
              pipe2(wake, O_CLOEXEC) == 0;
    wake_[0] = wake[0];
    wake_[1] = wake[1];
    for (int s = 0; ok && s < 2; ++s) {
        saved_[s] = fcntl(STREAM_FD[s], F_DUPFD_CLOEXEC, 3);
        ok = saved_[s] >= 0 && fcntl(pipes[s][0], F_SETFL, O_NONBLOCK) == 0;
    }
    for (int s = 0; ok && s < 2; ++s) {
        ok = dup2(pipes[s][1], STREAM_FD[s]) >= 0;
    }
    for (int s = 0; s < 2; ++s) {
        closeFd(pipes[s][1]); // the stream's descriptor is the write end now
        read_[s] = pipes[s][0];
    }
    if (!ok) {
        restore();
        close();
        return false;
    }
    // A pipe would make standard output fully buffered: keep each line going out as printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return true;
}

void StreamPipes::restore() {
    for (int s = 0; s < 2; ++s) {
        if (saved_[s] >= 0) {
            dup2(saved_[s], STREAM_FD[s]);
        }
    }
}

void StreamPipes::close() {
    for (int s = 0; s < 2; ++s) {
        closeFd(read_[s]);
        closeFd(saved_[s]);
        closeFd(wake_[s]);
    }
}

std::size_t StreamPipes::readNow(Stream stream, char *buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(read_[stream]), buffer, capacity);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

void StreamPipes::passOn(Stream stream, const char *bytes, std::size_t length) {
    writeAll(saved_[stream], bytes, length);
}

bool StreamPipes::wait() {
    for (;;) {
        pollfd fds[3] = {{static_cast<int>(read_[0]), POLLIN, 0},
                         {static_cast<int>(read_[1]), POLLIN, 0},
                         {static_cast<int>(wake_[0]), POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        return fds[2].revents == 0;
    }
}

void StreamPipes::wake() {
    const char wake = 1;
    writeAll(static_cast<int>(wake_[1]), &wake, 1);
}

} // namespace platform
