#ifndef PLATFORM_INTERRUPT_H
#define PLATFORM_INTERRUPT_H

#include <atomic>

namespace platform {

// While it lives, the person's request to stop (Ctrl-C, SIGTERM, Ctrl-Break, closing the console
// window) sets `flag`, which the program reads between exchanges with the unit. Only the first
// request is taken: the next one ends the program as usual. What was in force before is restored
// afterwards. One at a time per program.
class InterruptWatch {
public:
    explicit InterruptWatch(std::atomic<bool> &flag);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    struct Saved;
    Saved *saved_ = nullptr;
};

} // namespace platform

#endif // PLATFORM_INTERRUPT_H
