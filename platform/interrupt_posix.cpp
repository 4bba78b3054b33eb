#include "interrupt.h"

#include <csignal>
#include <cstring>

namespace platform {

namespace {

std::atomic<std::atomic<bool> *> watched{nullptr};

extern "C" void onInterrupt(int) {
    if (std::atomic<bool> *flag = watched.load(); flag != nullptr) {
        flag->store(true);
    }
}

} // namespace

struct InterruptWatch::Saved {
    struct sigaction interrupt {};
    struct sigaction terminate {};
};

InterruptWatch::InterruptWatch(std::atomic<bool> &flag) : saved_(new Saved) {
    flag.store(false);
    watched.store(&flag);
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND; // the second request ends the program
    sigaction(SIGINT, &action, &saved_->interrupt);
    sigaction(SIGTERM, &action, &saved_->terminate);
}

InterruptWatch::~InterruptWatch() {
    sigaction(SIGINT, &saved_->interrupt, nullptr);
    sigaction(SIGTERM, &saved_->terminate, nullptr);
    watched.store(nullptr);
    delete saved_;
}

} // namespace platform
