// The platform files' contracts, against the system the tests run on (Linux, or Windows under
// wine): what the rest of the tool relies on whichever file implements them.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "device_probe.h"
#include "input_file.h"
#include "pause.h"

#if defined(_WIN32)
#include <windows.h>

#include "exclusive_lock.h"
#else
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "interrupt.h"
#endif

namespace {

std::string scratchFolder() {
    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string base = testing::TempDir();
    return base + (base.empty() || base.back() == '/' || base.back() == '\\' ? "" : "/") +
           "efis_platform_" + test->name();
}

// A stream that holds nothing and does not end while the object lives: a FIFO with a writer on
// POSIX, a named pipe with a connected server on Windows.
class SilentStream {
public:
    SilentStream() {
#if defined(_WIN32)
        path_ = "\\\\.\\pipe\\efis-platform-test-" + std::to_string(GetCurrentProcessId());
        server_ = CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 4096,
                                   4096, 0, nullptr);
#else
        path_ = scratchFolder() + ".fifo";
        ::unlink(path_.c_str());
        if (::mkfifo(path_.c_str(), 0600) == 0) {
            writer_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC); // a writer that never writes
        }
#endif
    }
    ~SilentStream() {
#if defined(_WIN32)
        if (server_ != INVALID_HANDLE_VALUE) {
            CloseHandle(server_);
        }
#else
        if (writer_ >= 0) {
            ::close(writer_);
        }
        ::unlink(path_.c_str());
#endif
    }
    SilentStream(const SilentStream &) = delete;
    SilentStream &operator=(const SilentStream &) = delete;

    bool made() const {
#if defined(_WIN32)
        return server_ != INVALID_HANDLE_VALUE;
#else
        return writer_ >= 0;
#endif
    }
    const std::string &path() const {
        return path_;
    }

private:
    std::string path_;
#if defined(_WIN32)
    HANDLE server_ = INVALID_HANDLE_VALUE;
#else
    int writer_ = -1;
#endif
};

TEST(PlatformBoundedRead, ReadsAFileWholeAndRefusesWhatIsNoFileToRead) {
    const std::string path = scratchFolder() + ".bin";
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string(3000, 'x') << '\n' << std::string(10, '\0') << "end";
    }
    const input_file::ReadResult whole = input_file::readAll(path, 4096);
    EXPECT_EQ(whole.status, input_file::ReadStatus::Read) << whole.why;
    EXPECT_EQ(whole.data.size(), 3014u);
    EXPECT_EQ(whole.data.substr(3011), "end");

    const input_file::ReadResult large = input_file::readAll(path, 3013);
    EXPECT_EQ(large.status, input_file::ReadStatus::TooLarge);
    EXPECT_EQ(large.why, "it holds more than 3013 bytes");
    std::remove(path.c_str());

    const input_file::ReadResult missing = input_file::readAll(path, 4096);
    EXPECT_EQ(missing.status, input_file::ReadStatus::CannotOpen);
    EXPECT_FALSE(missing.why.empty());

    const input_file::ReadResult folder = input_file::readAll(testing::TempDir(), 4096);
    EXPECT_EQ(folder.status, input_file::ReadStatus::Directory);
}

TEST(PlatformBoundedRead, AStreamThatDoesNotEndIsRefusedAfterTheWait) {
    const SilentStream stream;
    ASSERT_TRUE(stream.made());
    const auto start = std::chrono::steady_clock::now();
    const input_file::ReadResult result = input_file::readAll(stream.path(), 4096, 300);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.status, input_file::ReadStatus::DidNotEnd);
    EXPECT_EQ(result.why, "it is a pipe or a device that did not end within 300 ms");
    // It waited for the stream, and it came back: not at once, not for ever.
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(20));
}

TEST(PlatformPause, LastsAtLeastWhatWasAsked) {
    platform::ExactPauses pauses;
    for (const int us : {100, 2500}) {
        const auto start = std::chrono::steady_clock::now();
        pauses.pause(std::chrono::microseconds(us));
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(us));
    }
}

TEST(PlatformDeviceProbe, ADeviceThatIsGoneReadsAsGone) {
#if defined(_WIN32)
    const char *gone = "\\\\?\\hid#vid_0000&pid_0000#0#{4d1e55b2-f16f-11cf-88cb-001111000030}";
#else
    const std::string missing = scratchFolder() + ".hidraw";
    const char *gone = missing.c_str();
#endif
    const int error = platform::probeDevice(gone, 0);
    EXPECT_TRUE(error == ENOENT || error == ENODEV) << error;
    // A path that is no device path of this system keeps the backend's answer.
    EXPECT_EQ(platform::probeDevice("usb:1-2:1.0", EIO), EIO);
    EXPECT_EQ(platform::probeDevice(nullptr, EIO), EIO);
}

#if defined(_WIN32)
// On POSIX the lock's own suite runs it across processes.
TEST(PlatformLockWindows, OneHolderAtATimeAndOthersLearnWhoHoldsIt) {
    const std::string folder = platform::lockFolder();
    ASSERT_FALSE(folder.empty());
    const std::string path = folder + "\\platform-test.lock";
    platform::ExclusiveLock first;
    ASSERT_EQ(first.take(path, true), platform::ExclusiveLock::Outcome::Taken);
    EXPECT_TRUE(first.writeHolder("efis-cli 1234"));
    platform::ExclusiveLock second;
    EXPECT_EQ(second.take(path, true), platform::ExclusiveLock::Outcome::HeldByOther);
    EXPECT_FALSE(second.held());
    // The lock does not stop others reading who holds it.
    EXPECT_EQ(platform::ExclusiveLock::readHolder(path), "efis-cli 1234");
    first.release();
    EXPECT_EQ(second.take(path, true), platform::ExclusiveLock::Outcome::Taken);
    platform::ExclusiveLock moved(std::move(second));
    EXPECT_TRUE(moved.held());
    EXPECT_EQ(first.take(path, true), platform::ExclusiveLock::Outcome::HeldByOther);
    EXPECT_EQ(first.take(folder + "\\missing.lock", false),
              platform::ExclusiveLock::Outcome::NoFile);
}
#else
TEST(PlatformInterrupt, TheFirstRequestSetsTheFlagAndTheWatchRestoresWhatWasBefore) {
    std::atomic<bool> flag{true};
    struct sigaction before {};
    sigaction(SIGINT, nullptr, &before);
    {
        const platform::InterruptWatch watch(flag);
        EXPECT_FALSE(flag.load()); // a new watch starts clear
        std::raise(SIGINT);
        EXPECT_TRUE(flag.load());
    }
    struct sigaction after {};
    sigaction(SIGINT, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}
#endif

} // namespace
