#include "pause.h"

#include <windows.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace platform {

namespace {

// Below this the remaining time is spent waiting on the performance counter: even a
// high-resolution timer rounds up to about half a millisecond.
constexpr long long SPIN_BELOW_US = 1500;

long long counterNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

long long counterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

} // namespace

ExactPauses::ExactPauses() {
    // Windows 10 (1803) and later: a timer that does not wait for the next system tick. Where
    // there is none, long pauses fall back to Sleep and short ones to the counter alone.
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                    TIMER_ALL_ACCESS);
}

ExactPauses::~ExactPauses() {
    if (timer_ != nullptr) {
        CloseHandle(static_cast<HANDLE>(timer_));
    }
}

void ExactPauses::pause(std::chrono::microseconds duration) {
    static const long long frequency = counterFrequency();
    const long long start = counterNow();
    const long long end = start + duration.count() * frequency / 1000000;
    const long long coarse_us = duration.count() - SPIN_BELOW_US;
    if (coarse_us > 0) {
        if (timer_ != nullptr) {
            LARGE_INTEGER due;
            due.QuadPart = -coarse_us * 10; // relative, in 100 ns units
            if (SetWaitableTimer(static_cast<HANDLE>(timer_), &due, 0, nullptr, nullptr, FALSE)) {
                WaitForSingleObject(static_cast<HANDLE>(timer_), INFINITE);
            }
        } else {
            Sleep(static_cast<DWORD>(coarse_us / 1000));
        }
    }
    // A busy wait: giving up the processor (SwitchToThread) can cost a whole time slice of
    // another program, many times the pause, on a busy machine.
    while (counterNow() < end) {
        YieldProcessor();
    }
}

bool waitUnlessSignalled(int ms) {
    // No signal ends a wait on Windows: Ctrl-C runs its handler on a thread of its own.
    Sleep(static_cast<DWORD>(ms > 0 ? ms : 0));
    return true;
}

} // namespace platform
