// The unit is plugged in but its interface cannot be opened: the comms manager
// keeps every line it always prints and adds one that names the node, the cause
// and the remedy. A unit that is simply missing gets no such line.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "capture.h"
#include "comms.h"
#include "hid_access.h"
#include "sim_unit.h"

namespace {

const std::string kFailureLines = "Attempting to connect to USB HID device 0x1209:0x0001\n"
                                  "Failed to connect to USB HID device\n"
                                  "Attempting to connect to CAN FD interface: can0\n"
                                  "Failed to connect to CAN FD interface\n"
                                  "Failed to connect via both USB HID and CAN FD\n";

std::string connectOutput(CommsManager &comms, bool *ok) {
    return captureStdout([&] { *ok = comms.establish_connection(); });
}

} // namespace

TEST(UnitAccess, RefusedOpenAddsOneLineNamingNodeCauseAndRemedy) {
    struct Case {
        int error;
        const char *line;
    };
    const Case cases[] = {
#if defined(_WIN32)
        // Every user may open a HID device on Windows: a refusal is another program or a policy.
        {EACCES, "USB HID device sim:efis-display-unit cannot be opened: permission denied. "
                 "Close any other program that may hold the unit, then unplug and replug it; if "
                 "it stays refused, ask the computer's administrator whether a policy blocks USB "
                 "devices.\n"},
#else
        {EACCES, "USB HID device sim:efis-display-unit cannot be opened: permission denied. "
                 "Install the efis-config package or the udev rule from the README, then "
                 "unplug and replug the unit.\n"},
#endif
        {EBUSY, "USB HID device sim:efis-display-unit cannot be opened: it is in use by "
                "another program. Close that program, then start the tool again.\n"},
        {ENODEV, "USB HID device sim:efis-display-unit cannot be opened: it disappeared while "
                 "it was being opened. Plug the unit in again, then start the tool again.\n"},
        {EIO, "USB HID device sim:efis-display-unit cannot be opened: Input/output error. "
              "Unplug and replug the unit, then start the tool again.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        sim::reset();
        sim::unit().setOpenError(c.error);
        CommsManager comms;
        bool ok = true;
        EXPECT_EQ(connectOutput(comms, &ok), kFailureLines + c.line);
        EXPECT_FALSE(ok);
        EXPECT_FALSE(comms.isConnected());
        EXPECT_EQ(comms.getUSBHID()->refusedError(), c.error);
        EXPECT_EQ(sim::hidCalls().enumerate, sim::hidCalls().free_enumeration);
    }
}

TEST(UnitAccess, MissingUnitOrWorkingOpenSaysNothingMore) {
    sim::reset();
    sim::unit().enumeration().clear();
    CommsManager comms;
    bool ok = true;
    EXPECT_EQ(connectOutput(comms, &ok), kFailureLines);
    EXPECT_FALSE(comms.getUSBHID()->openRefused());

    // Once access is granted the next connect opens the unit and forgets the refusal.
    sim::reset();
    sim::unit().setOpenError(EACCES);
    USBHID usb;
    EXPECT_FALSE(usb.connect(vendor_id, product_id));
    EXPECT_TRUE(usb.openRefused());
    sim::unit().setOpenError(0);
    EXPECT_TRUE(usb.connect(vendor_id, product_id));
    EXPECT_FALSE(usb.openRefused());
    EXPECT_EQ(usb.refusedPath(), "");
    EXPECT_EQ(usb.refusedError(), 0);
}

// Device nodes are Linux's; on Windows the probe asks only about a HID interface path.
#ifndef _WIN32
TEST(UnitAccess, ProbeAsksTheSystemAboutANodeAndKeepsTheBackendsWordOtherwise) {
    // A node that does not exist (any more) is reported as gone, whatever the backend said.
    EXPECT_EQ(probeHidNode("/dev/efis-config-test-no-such-node", EACCES), ENOENT);
    // A node that opens now leaves only the backend's own answer.
    char path[] = "/tmp/efis-access-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(probeHidNode(path, EBUSY), EBUSY);
    std::remove(path);
    // A bus address of another backend names no file: nothing to ask.
    EXPECT_EQ(probeHidNode("1-2:1.0", EACCES), EACCES);
    EXPECT_EQ(probeHidNode(nullptr, 0), 0);
}
#endif
