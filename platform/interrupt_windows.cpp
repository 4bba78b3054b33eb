#include "interrupt.h"

#include <windows.h>

namespace platform {

namespace {

std::atomic<std::atomic<bool> *> watched{nullptr};
std::atomic<bool> requested{false};

// How long closing the console window waits for the exchange under way to end: Windows ends the
// program when this handler returns, and at the latest after about five seconds.
constexpr DWORD CLOSE_GRACE_MS = 4500;

// Runs on a thread of its own that Windows starts for each event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    std::atomic<bool> *flag = watched.load();
    if (flag == nullptr) {
        return FALSE;
    }
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (requested.exchange(true)) {
            return FALSE; // the second request: the default handler ends the program
        }
        flag->store(true);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        requested.store(true);
        flag->store(true);
        // The main thread stops between exchanges and ends the program meanwhile.
        Sleep(CLOSE_GRACE_MS);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

struct InterruptWatch::Saved {};

InterruptWatch::InterruptWatch(std::atomic<bool> &flag) {
    flag.store(false);
    requested.store(false);
    watched.store(&flag);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptWatch::~InterruptWatch() {
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    watched.store(nullptr);
}

} // namespace platform
