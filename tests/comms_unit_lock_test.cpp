// One program per unit: a second link to a unit that another holds is refused before anything is
// sent, says who holds it, and is taken once the holder lets go; an interrupted wait is not a
// failed exchange; an erased serial number is a unit all the same.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "capture.h"
#include "comms.h"
#include "discovery.h"
#include "get_set.h"
#include "sim_unit.h"
#include "unit_lock.h"

namespace {

std::string me() {
    return std::string(program_invocation_short_name) + ", process " + std::to_string(getpid());
}

class UnitLockTest : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
};

} // namespace

TEST_F(UnitLockTest, ASecondLinkIsRefusedBeforeAnyExchangeAndTakesTheUnitOnceFree) {
    auto first = std::make_unique<CommsManager>();
    captureStdout([&] { ASSERT_TRUE(first->establish_connection()); });
    const std::size_t requests = sim::unit().received().size();

    CommsManager second;
    bool connected = true;
    const std::string out = captureStdout([&] { connected = second.establish_connection(); });
    EXPECT_FALSE(connected);
    EXPECT_EQ(sim::unit().received().size(), requests) << "the second link sent something";
    const std::string line = "EFIS 0x12345678 at sim:efis-display-unit is in use by another "
                             "program (" +
                             me() + ")";
    EXPECT_NE(out.find("Failed to connect to USB HID device\n" + line + "\n"), std::string::npos)
        << out;
    std::string text;
    ASSERT_TRUE(second.unitInUse(&text));
    EXPECT_EQ(text, line);

    // The Device menu's list names the holder and does not ask the unit.
    const std::vector<UnitInterface> units = discover_units("no-such-can");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_TRUE(units[0].in_use);
    EXPECT_EQ(describe_unit(units[0]),
              "EFIS 0x12345678 - USB sim:efis-display-unit - in use by " + me());
    EXPECT_EQ(sim::unit().received().size(), requests);
    EXPECT_TRUE(UnitLock::inUse(USB_HID, "sim:efis-display-unit"));

    // Let go (a disconnect, or the end of the program): the next attempt takes it.
    first.reset();
    EXPECT_FALSE(UnitLock::inUse(USB_HID, "sim:efis-display-unit"));
    captureStdout([&] { connected = second.establish_connection(); });
    EXPECT_TRUE(connected);
    EXPECT_FALSE(second.unitInUse());
}

TEST_F(UnitLockTest, ADeviceNodeIsLockedForEveryUserAndTheHolderIsNamedWhereKnown) {
    // A unit whose interface is a node on the file system, as a hidraw node is: the lock on the
    // node itself refuses a program whose lock folder is another (another user's).
    char node_template[] = "/tmp/efis-node-XXXXXX";
    const int fd = mkstemp(node_template);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string node = node_template;
    sim::unit().enumeration().front().path = node;
    const std::string saved_runtime = std::getenv("XDG_RUNTIME_DIR");

    CommsManager first;
    captureStdout([&] { ASSERT_TRUE(first.establish_connection()); });

    char other_template[] = "/tmp/efis-other-user-XXXXXX";
    ASSERT_NE(mkdtemp(other_template), nullptr);
    setenv("XDG_RUNTIME_DIR", other_template, 1);
    CommsManager second;
    const std::string out = captureStdout([&] { EXPECT_FALSE(second.establish_connection()); });
    EXPECT_NE(out.find("The EFIS at " + node + " is in use by another program\n"),
              std::string::npos)
        << out;
    setenv("XDG_RUNTIME_DIR", saved_runtime.c_str(), 1);
    EXPECT_EQ(system(("rm -rf '" + std::string(other_template) + "' '" + node + "'").c_str()), 0);
}

TEST(UnitLockText, HolderFilesAreReadAsFarAsTheyCanBeTrusted) {
    UnitHolder holder;
    holder.program = "efis-config";
    holder.pid = 4242;
    holder.serial = 0x12345678u;
    const UnitHolder back = parse_holder(holder_text(holder));
    EXPECT_EQ(back.program, "efis-config");
    EXPECT_EQ(back.pid, 4242u);
    EXPECT_EQ(back.serial, 0x12345678u);
    EXPECT_EQ(in_use_text(USB_HID, "/dev/hidraw3", back),
              "EFIS 0x12345678 at /dev/hidraw3 is in use by another program (efis-config, "
              "process 4242)");
    EXPECT_EQ(in_use_text(CAN_FD, "can0", UnitHolder()),
              "The EFIS on CAN FD can0 is in use by another program");

    // Whatever a file holds, the text shown stays one plain line.
    const UnitHolder odd = parse_holder("program=\x1b]0;pwned\x07x\npid=12abc\nserial=zz\n");
    EXPECT_EQ(odd.program, "]0;pwnedx");
    EXPECT_EQ(odd.pid, 0u);
    EXPECT_EQ(odd.serial, 0xFFFFFFFFu);
}

TEST_F(UnitLockTest, AnErasedSerialNumberIsAUnitThatAnswers) {
    sim::unit().setSerialNumber(0xFFFFFFFFu);
    CommsManager comms;
    bool connected = false;
    const std::string out = captureStdout([&] { connected = comms.establish_connection(); });
    EXPECT_TRUE(connected) << out;
    EXPECT_NE(out.find("The unit's serial number is erased (0xFFFFFFFF)\n"), std::string::npos);
    uint32_t serial = 0;
    EXPECT_TRUE(get_serialnumber_checked(&comms, USB_HID, &serial));
    EXPECT_EQ(serial, 0xFFFFFFFFu);
    comms.getUSBHID()->disconnect();
    const std::vector<UnitInterface> units = discover_units("no-such-can");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(describe_unit(units[0]), "EFIS (serial number erased) - USB sim:efis-display-unit");
}

namespace {

extern "C" void noteSignal(int) {}

} // namespace

TEST_F(UnitLockTest, ASignalDuringTheWaitForAReplyIsNotAFailedExchange) {
    // The handler is installed as a program that stops between exchanges installs it: without
    // SA_RESTART, so the wait in the kernel ends with EINTR.
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction saved {};
    sigaction(SIGUSR1, &action, &saved);

    CommsManager comms;
    captureStdout([&] { ASSERT_TRUE(comms.establish_connection()); });
    sim::unit().setReplyWaitMillis(50);
    const unsigned interrupted_before = sim::interruptedWaits().load();
    const pthread_t reader = pthread_self();
    std::atomic<bool> done{false};
    std::thread signaller([&] {
        // Until one signal has landed inside a wait.
        while (!done.load() && sim::interruptedWaits().load() == interrupted_before) {
            pthread_kill(reader, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(7));
        }
    });
    uint32_t values[3] = {};
    bool read[3] = {};
    const std::string out = captureStdout([&] {
        for (int i = 0; i < 3; ++i) {
            read[i] = get_value_checked(&comms, SETTINGS_COMMS, static_cast<uint8_t>(VNE_INDEX),
                                        &values[i]);
        }
    });
    done = true;
    signaller.join();
    sigaction(SIGUSR1, &saved, nullptr);

    EXPECT_GT(sim::interruptedWaits().load(), interrupted_before);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(read[i]) << out;
        EXPECT_EQ(values[i], settings_get_value(&sim::unit().settings(), VNE_INDEX));
    }
    EXPECT_EQ(out, "");
    EXPECT_TRUE(comms.isConnected());
}
