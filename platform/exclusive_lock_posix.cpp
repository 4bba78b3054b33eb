#include "exclusive_lock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr mode_t privateFolderMode = 0700;
constexpr mode_t lockFileMode = 0600;
// Holder text is a short line (a program name and a process id); more than this is not ours.
constexpr std::size_t holderTextLimit = 512;

int openForLock(const std::string &path, bool create) {
    // O_NONBLOCK so that a FIFO planted at a lock file's name cannot hold the open.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd;
    if (create) {
        do {
            fd = ::open(path.c_str(), flags | O_RDWR | O_CREAT | O_NOFOLLOW, lockFileMode);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return -1;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    // A device node: any access mode that the user has is enough for flock.
    for (int mode : {O_RDONLY, O_WRONLY}) {
        do {
            fd = ::open(path.c_str(), flags | mode);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0)
            return fd;
        if (errno != EACCES && errno != EPERM)
            break;
    }
    return -1;
}

// A folder of this user's only: made when missing, never a link, never shared with another user.
bool privateFolder(const std::string &path) {
    if (::mkdir(path.c_str(), privateFolderMode) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 0077) != 0 && ::chmod(path.c_str(), privateFolderMode) != 0)
        return false;
    return true;
}

bool usableRuntimeFolder(const char *dir) {
    if (!dir || dir[0] != '/')
        return false;
    struct stat st {};
    return ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

} // namespace

ExclusiveLock::~ExclusiveLock() {
    release();
}

ExclusiveLock::ExclusiveLock(ExclusiveLock &&other) noexcept : handle_(other.handle_) {
    other.handle_ = invalid;
}

ExclusiveLock &ExclusiveLock::operator=(ExclusiveLock &&other) noexcept {
    if (this != &other) {
        release();
        handle_ = other.handle_;
        other.handle_ = invalid;
    }
    return *this;
}

ExclusiveLock::Outcome ExclusiveLock::take(const std::string &path, bool create) {
    release();
    if (path.empty())
        return Outcome::NoFile;
    const int fd = openForLock(path, create);
    if (fd < 0)
        return Outcome::NoFile;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        handle_ = fd;
        return Outcome::Taken;
    }
    const int err = errno;
    ::close(fd);
    // A file system without locks locks nothing; it never refuses a unit.
    return err == EWOULDBLOCK ? Outcome::HeldByOther : Outcome::NoFile;
}

void ExclusiveLock::release() {
    if (handle_ == invalid)
        return;
    // Closing the last descriptor of the open description gives the lock back.
    ::close(static_cast<int>(handle_));
    handle_ = invalid;
}

bool ExclusiveLock::writeHolder(const std::string &text) {
    if (handle_ == invalid)
        return false;
    const int fd = static_cast<int>(handle_);
    if (::ftruncate(fd, 0) != 0)
        return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n =
            ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string ExclusiveLock::readHolder(const std::string &path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return {};
    std::string text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char buffer[holderTextLimit];
        ssize_t n;
        do {
            n = ::pread(fd, buffer, sizeof buffer, 0);
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            text.assign(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

std::string lockFolder() {
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (usableRuntimeFolder(runtime)) {
        const std::string folder = std::string(runtime) + "/efis-config";
        if (privateFolder(folder))
            return folder;
    }
    const char *tmp = std::getenv("TMPDIR");
    std::string base = (tmp && tmp[0] == '/') ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    const std::string folder = base + "/efis-config-" + std::to_string(::geteuid());
    return privateFolder(folder) ? folder : std::string();
}

} // namespace platform
