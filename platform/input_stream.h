#ifndef PLATFORM_INPUT_STREAM_H
#define PLATFORM_INPUT_STREAM_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A file that a person named, open for reading: whatever it turns out to be, opening it never
// waits (not for a named pipe's writer either), and no read waits past the caller's deadline.
class InputStream {
public:
    enum class Kind { Regular, Directory, Stream }; // Stream: a pipe, a socket or a device
    enum class Read { Data, End, TimedOut, Failed };
    using Deadline = std::chrono::steady_clock::time_point;

    InputStream() = default;
    ~InputStream();
    InputStream(const InputStream &) = delete;
    InputStream &operator=(const InputStream &) = delete;

    // False, with the system's reason in `why`, when it cannot be opened.
    bool open(const std::string &path, std::string *why);
    Kind kind() const { return kind_; }
    // The size of a regular file when it was opened.
    std::uint64_t size() const { return size_; }

    // Reads at most `capacity` bytes into `buffer`: Data with `*got` bytes, End, Failed with the
    // system's reason in `why`, or (a stream only) TimedOut when nothing came by `deadline`.
    Read read(char *buffer, std::size_t capacity, std::size_t *got, Deadline deadline,
              std::string *why);

private:
    std::intptr_t handle_ = -1;              // a file descriptor, or a HANDLE on Windows
    [[maybe_unused]] void *event_ = nullptr; // Windows: signals the end of an overlapped read
    Kind kind_ = Kind::Regular;
    std::uint64_t size_ = 0;
    // Windows: where the next read of a regular file starts.
    [[maybe_unused]] std::uint64_t offset_ = 0;
};

} // namespace platform

#endif // PLATFORM_INPUT_STREAM_H
