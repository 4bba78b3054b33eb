#ifndef PLATFORM_EXCLUSIVE_LOCK_H
#define PLATFORM_EXCLUSIVE_LOCK_H

#include <cstdint>
#include <string>

namespace platform {

// An exclusive lock on one file, shared by every program of this tool: taken without waiting,
// held until release() or the object's end, and given back by the system when the holding process
// ends in any way (so a crashed program never leaves a unit locked).
class ExclusiveLock {
public:
    enum class Outcome {
        Taken,       // this object holds the lock
        HeldByOther, // another open description (another program, or another object) holds it
        NoFile       // the file could not be opened or created: nothing is locked
    };

    ExclusiveLock() = default;
    ~ExclusiveLock();
    ExclusiveLock(const ExclusiveLock &) = delete;
    ExclusiveLock &operator=(const ExclusiveLock &) = delete;
    ExclusiveLock(ExclusiveLock &&other) noexcept;
    ExclusiveLock &operator=(ExclusiveLock &&other) noexcept;

    // Opens `path` (created when `create` and missing; never through a symbolic link when it is
    // created) and locks it. A lock already held by this object is released first.
    Outcome take(const std::string &path, bool create);
    void release();
    bool held() const { return handle_ != invalid; }

    // While held: replaces the file's contents with `text` (who holds it), and reads them back.
    // Only for lock files of the tool's own, never for a device node.
    bool writeHolder(const std::string &text);
    static std::string readHolder(const std::string &path);

private:
    static constexpr std::intptr_t invalid = -1;
    std::intptr_t handle_ = invalid; // a file descriptor, or a HANDLE on Windows
};

// The folder for this user's lock files (created when missing, private to the user): the runtime
// folder where the system has one, else a folder under the temporary folder. Empty when none can be
// made.
std::string lockFolder();

} // namespace platform

#endif // PLATFORM_EXCLUSIVE_LOCK_H
