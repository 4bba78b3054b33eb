#include "pause.h"

#include <cerrno>
#include <thread>

#include <poll.h>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace platform {

// With the default timer slack of 50 us every 100 us sleep lasts about 160 us, some four seconds
// over a full image: the thread's slack is made as small as the kernel allows while this lives.
ExactPauses::ExactPauses() {
#if defined(__linux__)
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (slack > 0 && prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0) {
        saved_slack_ = static_cast<unsigned long>(slack);
    }
#endif
}

ExactPauses::~ExactPauses() {
#if defined(__linux__)
    if (saved_slack_ != 0) {
        prctl(PR_SET_TIMERSLACK, saved_slack_, 0, 0, 0);
    }
#endif
}

void ExactPauses::pause(std::chrono::microseconds duration) {
    std::this_thread::sleep_for(duration);
}

bool waitUnlessSignalled(int ms) {
    return !(::poll(nullptr, 0, ms) < 0 && errno == EINTR);
}

} // namespace platform
