#ifndef PLATFORM_PAUSE_H
#define PLATFORM_PAUSE_H

#include <chrono>

namespace platform {

// Short pauses that last what they are asked, not a timer tick: the pause between the packets of a
// firmware image is 100 us, and a system whose sleeps round up to its timer period (1 to 15.6 ms
// on Windows by default) would stretch a full image from minutes to a quarter of an hour. Made
// once for a run of pauses on one thread; the system's settings are as before once it ends.
class ExactPauses {
public:
    ExactPauses();
    ~ExactPauses();
    ExactPauses(const ExactPauses &) = delete;
    ExactPauses &operator=(const ExactPauses &) = delete;

    // Returns after `duration`, as soon after as the system allows.
    void pause(std::chrono::microseconds duration);

private:
    // Linux: the thread's timer slack before.
    [[maybe_unused]] unsigned long saved_slack_ = 0;
    // Windows: a high-resolution waitable timer.
    [[maybe_unused]] void *timer_ = nullptr;
};

// Waits `ms` milliseconds, as a read of the unit's interface does for a reply: a signal that
// arrives meanwhile ends the wait early (POSIX), and false says so.
bool waitUnlessSignalled(int ms);

} // namespace platform

#endif // PLATFORM_PAUSE_H
