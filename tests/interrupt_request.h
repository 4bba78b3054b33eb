#ifndef TESTS_INTERRUPT_REQUEST_H
#define TESTS_INTERRUPT_REQUEST_H

// The person's Ctrl-C, delivered to this test program as the system delivers it: SIGINT to the
// main thread, so that it lands in the read the thread waits in. On Windows the request is a
// console control event, which reaches only a program with a console of its own (and would reach
// every program sharing it, the test runner too): the tests that need it skip there, saying so.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#if defined(_WIN32)
#define EFIS_SKIP_WITHOUT_CONSOLE_INTERRUPT()                                                      \
    GTEST_SKIP() << "a console control event would reach the test runner as well"
#else
#define EFIS_SKIP_WITHOUT_CONSOLE_INTERRUPT()                                                      \
    do {                                                                                           \
    } while (false)
#include <pthread.h>

#include <csignal>
#endif

class InterruptRequest {
public:
    // Requests the interrupt `after` from now, from a thread of its own.
    explicit InterruptRequest(std::chrono::milliseconds after) {
#if !defined(_WIN32)
        const pthread_t main_thread = pthread_self();
        thread_ = std::thread([after, main_thread] {
            std::this_thread::sleep_for(after);
            pthread_kill(main_thread, SIGINT);
        });
#else
        (void)after;
#endif
    }
    ~InterruptRequest() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    InterruptRequest(const InterruptRequest &) = delete;
    InterruptRequest &operator=(const InterruptRequest &) = delete;

private:
    std::thread thread_;
};

#endif // TESTS_INTERRUPT_REQUEST_H
