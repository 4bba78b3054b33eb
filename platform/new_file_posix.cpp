#include "new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace platform {

namespace {

WriteResult failed(int error) {
    WriteResult result;
    result.outcome = WriteOutcome::Failed;
    result.error = std::strerror(error);
    return result;
}

// Writes all of `data` to `fd` and flushes it to the disk; 0, or the errno of the failure.
int writeAll(int fd, const std::string &data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}

// Creates `path` new; -1 with errno set when it cannot.
int createNew(const std::string &path) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Writes `data` into the file just created at `path`, and closes it; on failure the file is
// removed.
WriteResult fill(int fd, const std::string &path, const std::string &data) {
    int error = writeAll(fd, data);
    if (::close(fd) != 0 && error == 0 && errno != EINTR) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(path.c_str());
        return failed(error);
    }
    return {WriteOutcome::Written, {}};
}

} // namespace

WriteResult writeNewFile(const std::string &path, const std::string &data) {
    const int fd = createNew(path);
    if (fd < 0) {
        // O_EXCL reports a dangling link, a file and a folder alike as taken.
        if (errno == EEXIST) {
            return {WriteOutcome::Exists, {}};
        }
        return failed(errno);
    }
    return fill(fd, path, data);
}

WriteResult replaceFile(const std::string &path, const std::string &data) {
    struct stat there {};
    if (::lstat(path.c_str(), &there) == 0 && S_ISDIR(there.st_mode)) {
        return failed(EISDIR);
    }
    // A temporary beside the file, so that the rename stays on one file system.
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof(suffix), ".%08x.tmp", static_cast<unsigned>(random()));
        const std::string temporary = path + suffix;
        const int fd = createNew(temporary);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return failed(errno);
        }
        const WriteResult written = fill(fd, temporary, data);
        if (written.outcome != WriteOutcome::Written) {
            return written;
        }
        // rename() replaces a link at `path` by the file; it never writes to the link's target.
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            return failed(error);
        }
        return {WriteOutcome::Written, {}};
    }
    return failed(EEXIST);
}

} // namespace platform
