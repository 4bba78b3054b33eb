#ifndef PLATFORM_STREAM_PIPES_H
#define PLATFORM_STREAM_PIPES_H

#include <cstddef>
#include <cstdint>

namespace platform {

// Standard output and standard error of this program turned into pipes that the program reads
// itself, while what is read can be passed on to where each stream went before (a terminal, a
// file, the journal; nowhere when the program started without one).
class StreamPipes {
public:
    enum Stream { Out = 0, Err = 1 };

    StreamPipes() = default;
    ~StreamPipes();
    StreamPipes(const StreamPipes &) = delete;
    StreamPipes &operator=(const StreamPipes &) = delete;

    // Points both streams at new pipes and keeps each line of standard output going out as it is
    // printed. False, with both streams as they were, when that cannot be done.
    bool open();
    // Points both streams back at where they went; what is in the pipes can still be read.
    void restore();
    // Closes the pipes and what was kept (after restore).
    void close();

    // What the pipe of `stream` holds now, without waiting: the bytes read (0: nothing now).
    std::size_t readNow(Stream stream, char *buffer, std::size_t capacity);
    // Writes `length` bytes to where `stream` went before.
    void passOn(Stream stream, const char *bytes, std::size_t length);
    // Waits until a pipe may hold something (true), or until wake() (false).
    bool wait();
    // Ends a wait() under way, or the next one; safe from another thread.
    void wake();

private:
    std::intptr_t read_[2] = {-1, -1}; // the pipes' read ends
    int saved_[2] = {-1, -1};          // descriptors of where the streams went before
    std::intptr_t wake_[2] = {-1, -1}; // POSIX: a pipe; Windows: wake_[0] is an event
};

} // namespace platform

#endif // PLATFORM_STREAM_PIPES_H
