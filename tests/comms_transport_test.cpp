// The USB HID transport, the CAN FD transport on a machine without a can0 interface (as
// here, and as every test below assumes) and the comms manager's connection and routing,
// against the simulated unit through the hidapi functions.
#include <gtest/gtest.h>

#include <cstring>

#include "capture.h"
#include "comms_helpers.h"

namespace {

class UsbTransport : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_TRUE(usb.connect(vendor_id, product_id));
    }
    USBHID usb;
};

} // namespace

TEST_F(UsbTransport, OutputReportLayout) {
    EXPECT_EQ(usb.write(makeMessage(0x376, {7})), 7);
    EXPECT_EQ(lastReport(), "05 76 03 00 00 01 07");

    EXPECT_EQ(usb.write(makeMessage(0x287, {})), 6);
    EXPECT_EQ(lastReport(), "05 87 02 00 00 00");

    // The interface byte is not sent, and nothing follows the payload.
    COMMS_MSG_t msg = makeMessage(0x378, {0x06, 0xB4, 0, 0, 0});
    msg.iface = CAN_FD;
    msg.data[5] = 0xAA;
    msg.padding[0] = 0xBB;
    EXPECT_EQ(usb.write(msg), 11);
    EXPECT_EQ(lastReport(), "05 78 03 00 00 05 06 B4 00 00 00");

    const uint8_t raw[] = {1, 2, 3};
    EXPECT_EQ(usb.write(raw, sizeof(raw)), 4);
    EXPECT_EQ(lastReport(), "05 01 02 03");
}

TEST_F(UsbTransport, LengthBeyondTheRecordIsRefusedAndNothingSent) {
    const size_t before = sim::unit().outputReports().size();
    for (int len : {65, 70, 255}) {
        COMMS_MSG_t msg = makeMessage(0x415, {});
        msg.msg_len = static_cast<uint8_t>(len);
        EXPECT_EQ(usb.write(msg), -1) << len;
    }
    EXPECT_EQ(sim::unit().outputReports().size(), before);
    COMMS_MSG_t full = makeMessage(0x415, {});
    full.msg_len = 64;
    EXPECT_EQ(usb.write(full), 70);
}

TEST_F(UsbTransport, InputReportParsing) {
    struct Case {
        const char *name;
        Bytes report;
        int result;
        uint32_t can_id;
        uint8_t msg_len;
        Bytes data; // expected data bytes; all others zero
    };
    Bytes full128(128, 0x5A);
    full128[1] = 0;
    full128[2] = 0x15;
    full128[3] = 0x04;
    full128[4] = 0;
    full128[5] = 0;
    full128[6] = 0xFF; // announces 255 bytes: no more than 64 may land in the record
    const Case cases[] = {
        {"ack",
         {5, 0, 0x55, 2, 0, 0, 6, 0x78, 3, 0, 0, 0xEF, 0x15},
         13,
         0x255,
         6,
         {0x78, 3, 0, 0, 0xEF, 0x15}},
        {"fewer carried than announced",
         {5, 0, 0x77, 3, 0, 0, 8, 1, 2, 3, 4},
         11,
         0x377,
         8,
         {1, 2, 3, 4}},
        {"more carried than announced", {5, 0, 0x77, 3, 0, 0, 2, 1, 2, 3, 4}, 11, 0x377, 2, {1, 2}},
        {"header only", {5, 0, 0x23, 1, 0, 0, 8}, 7, 0x123, 8, {}},
        {"above 64 announced, few carried",
         {5, 0, 0x56, 2, 0, 0, 200, 9, 8},
         9,
         0x256,
         200,
         {9, 8}},
        {"128 bytes announcing 255", full128, 128, 0x415, 255, Bytes(64, 0x5A)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::unit().injectInputReport(c.report);
        COMMS_MSG_t msg;
        std::memset(&msg, 0xCC, sizeof(msg));
        ASSERT_EQ(usb.read(&msg), c.result);
        EXPECT_EQ(msg.iface, 0);
        EXPECT_EQ(uint32_t{msg.can_ID}, c.can_id);
        EXPECT_EQ(msg.msg_len, c.msg_len);
        for (size_t i = 0; i < sizeof(msg.data); ++i) {
            EXPECT_EQ(msg.data[i], i < c.data.size() ? c.data[i] : 0) << i;
        }
        EXPECT_EQ(msg.padding[0], 0);
        EXPECT_EQ(msg.padding[1], 0);
    }
    EXPECT_EQ(sim::unit().lastReadTimeout(), USBHID::READ_TIMEOUT_MS);
}

TEST_F(UsbTransport, ShortReportIsAnErrorAndLeavesTheMessageUntouched) {
    for (size_t len : {1u, 6u}) {
        sim::unit().injectInputReport(Bytes(len, 0x11));
        COMMS_MSG_t msg;
        std::memset(&msg, 0xCC, sizeof(msg));
        EXPECT_EQ(usb.read(&msg), -1) << len;
        EXPECT_EQ(uint32_t{msg.can_ID}, 0xCCCCCCCCu);
    }
    EXPECT_EQ(sim::unit().pendingReports(), 0u); // consumed and dropped

    // Nothing waiting: a time-out, 0, message untouched.
    COMMS_MSG_t msg;
    std::memset(&msg, 0xCC, sizeof(msg));
    EXPECT_EQ(usb.read(&msg), 0);
    EXPECT_EQ(uint32_t{msg.can_ID}, 0xCCCCCCCCu);
    EXPECT_EQ(usb.read(nullptr), -1);
}

TEST_F(UsbTransport, AVanishedDeviceIsClosedAndSaidOnce) {
    sim::unit().unplug();
    COMMS_MSG_t msg{};
    int written = 0;
    const std::string out = captureStdout([&] {
        written = usb.write(makeMessage(0x376, {1}));
        EXPECT_EQ(usb.read(&msg), -1);
        EXPECT_FALSE(usb.checkPresent());
    });
    EXPECT_EQ(written, -1);
    EXPECT_EQ(out, "USB HID device disconnected\n");
    EXPECT_FALSE(usb.isConnected());
    EXPECT_TRUE(usb.lost());
    EXPECT_EQ(sim::hidCalls().close, 1);

    // A failure of a device that is still listed is the exchange's, not the device's.
    sim::unit().plugIn();
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    EXPECT_FALSE(usb.lost());
    EXPECT_TRUE(captureStdout([&] { EXPECT_TRUE(usb.checkPresent()); }).empty());
    sim::unit().enumeration().clear(); // unlisted while idle: noticed by the presence check
    EXPECT_EQ(captureStdout([&] { EXPECT_FALSE(usb.checkPresent()); }),
              "USB HID device disconnected\n");
}

TEST(UsbConnect, TakesTheFirstInterfaceOnTheVendorUsagePage) {
    sim::reset();
    auto &list = sim::unit().enumeration();
    ASSERT_FALSE(list.empty());
    sim::EnumEntry keyboard = list.front();
    keyboard.usage_page = 0x0001;
    keyboard.path = "keyboard-interface";
    keyboard.is_unit = false;
    sim::EnumEntry other = list.front();
    other.product_id = 0x0002;
    other.path = "other-product";
    other.is_unit = false;
    list.insert(list.begin(), {keyboard, other});

    USBHID usb;
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    // The unit answers, so the interface opened is the unit's.
    ASSERT_GT(usb.write(makeMessage(CANMSG_WHOAMI, {0xEF, 0x15})), 0);
    COMMS_MSG_t reply{};
    EXPECT_GT(usb.read(&reply), 0);
    EXPECT_EQ(uint32_t{reply.can_ID}, static_cast<uint32_t>(CANMSG_WHOAMI));
    EXPECT_EQ(sim::hidCalls().enumerate, sim::hidCalls().free_enumeration);
}

TEST(UsbConnect, FailuresLeaveTheTransportNotConnected) {
    struct Case {
        const char *name;
        void (*arrange)();
    };
    const Case cases[] = {
        {"no device", [] { sim::unit().enumeration().clear(); }},
        {"vendor page missing",
         [] {
             for (auto &e : sim::unit().enumeration()) {
                 e.usage_page = 0x000C;
             }
         }},
        {"other IDs only",
         [] {
             for (auto &e : sim::unit().enumeration()) {
                 e.vendor_id = 0x1234;
             }
         }},
        {"open fails", [] { sim::unit().setOpenFails(true); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        USBHID usb;
        ASSERT_TRUE(usb.connect(vendor_id, product_id)); // connected before
        c.arrange();
        EXPECT_FALSE(usb.connect(vendor_id, product_id));
        EXPECT_FALSE(usb.isConnected());
        EXPECT_EQ(usb.write(makeMessage(0x376, {1})), -1);
        EXPECT_EQ(sim::hidCalls().enumerate, sim::hidCalls().free_enumeration);
        EXPECT_EQ(sim::hidCalls().close, 1); // the earlier connection was closed first
    }
}

TEST(UsbConnect, DestructionClosesTheDeviceAndLeavesHidapiToTheOthers) {
    sim::reset();
    sim::SimUnit &second = sim::addUnit("sim:second", 0x2222u);
    USBHID other;
    ASSERT_TRUE(other.connect(vendor_id, product_id, "sim:second"));
    for (int i = 0; i < 3; ++i) {
        CommsManager comms; // a reconnect of the window builds a new manager each time
        captureStdout([&] { ASSERT_TRUE(comms.establish_connection()); });
    }
    EXPECT_EQ(sim::hidCalls().close, 3);
    EXPECT_LE(sim::hidCalls().init, 1) << "initialised once per process";
    EXPECT_EQ(sim::hidCalls().exit, 0);
    COMMS_MSG_t whoami = makeMessage(CANMSG_WHOAMI, {0xEF, 0x15});
    EXPECT_GT(other.write(whoami), 0) << "the other unit's interface still works";
    EXPECT_EQ(second.received().size(), 1u);
}

TEST(CanFdWithoutInterface, EveryOperationFails) {
    CANFD can;
    EXPECT_FALSE(can.connect("can0"));
    EXPECT_FALSE(can.isConnected());
    COMMS_MSG_t msg{};
    EXPECT_EQ(can.read(&msg), -1);
    EXPECT_EQ(can.write(msg), -1);
    EXPECT_EQ(can.write(msg.data, 1), -1);
    can.disconnect();
    EXPECT_FALSE(can.isConnected());
}

TEST(EstablishConnection, ConfirmsTheUnitBySerialNumber) {
    sim::reset();
    sim::unit().setSerialNumber(0x12345678u);
    CommsManager comms;
    bool ok = false;
    const std::string out = captureStdout([&] { ok = comms.establish_connection(); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, "Attempting to connect to USB HID device 0x1209:0x0001\n"
                   "USB HID device connected, verifying with serial number request...\n"
                   "Successfully connected to USB HID device! Serial number: 0x12345678\n"
                   "Attempting to connect to CAN FD interface: can0\n"
                   "Failed to connect to CAN FD interface\n"
                   "Connected via USB HID\n");
    EXPECT_EQ(hex(sim::unit().outputReports().at(0)), "05 23 01 00 00 02 EF 15");
    EXPECT_TRUE(comms.isConnected());
    EXPECT_EQ(comms.getActiveInterface(), USB_HID);
}

TEST(EstablishConnection, UnconfirmedUnitIsDisconnected) {
    struct Case {
        const char *name;
        sim::Fault fault;
        const char *line; // the get_serialnumber line, empty for none
    };
    const Case cases[] = {
        {"no reply", sim::Fault::on(sim::FaultKind::NoReply, CANMSG_WHOAMI),
         "get_serialnumber: No response received from device (timeout or no data).\n"},
        {"unplugged after the request", sim::Fault::on(sim::FaultKind::Unplug, CANMSG_WHOAMI),
         "USB HID device disconnected\nget_serialnumber: Error reading response from device.\n"},
        {"unplugged before the request",
         sim::Fault::on(sim::FaultKind::UnplugBeforeWrite, CANMSG_WHOAMI),
         "USB HID device disconnected\nget_serialnumber: Failed to send message to device.\n"},
        {"wrong length",
         replaceReply(CANMSG_WHOAMI, simMessage(CANMSG_WHOAMI, {0xEF, 0x15, 0, 0, 1, 2, 3})),
         "get_serialnumber: Invalid response format (canID=0x00000123, len=7)\n"},
        {"wrong identifier", replaceReply(CANMSG_WHOAMI, simMessage(CANMSG_ACK, Bytes(8, 0))),
         "get_serialnumber: Invalid response format (canID=0x00000255, len=8)\n"},
        {"bad header",
         replaceReply(CANMSG_WHOAMI,
                      simMessage(CANMSG_WHOAMI, {0xEF, 0x15, 0x00, 0x01, 1, 2, 3, 4})),
         "get_serialnumber: Invalid header bytes in response.\n"},
        {"swapped markers",
         replaceReply(CANMSG_WHOAMI,
                      simMessage(CANMSG_WHOAMI, {0x15, 0xEF, 0x00, 0x00, 1, 2, 3, 4})),
         "get_serialnumber: Invalid header bytes in response.\n"},
        {"short report", rawReply(CANMSG_WHOAMI, {5, 0, 0x23, 1}),
         "get_serialnumber: Error reading response from device.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        sim::unit().addFault(c.fault);
        CommsManager comms;
        bool ok = true;
        const std::string out = captureStdout([&] { ok = comms.establish_connection(); });
        EXPECT_FALSE(ok);
        EXPECT_EQ(out, std::string("Attempting to connect to USB HID device 0x1209:0x0001\n"
                                   "USB HID device connected, verifying with serial number "
                                   "request...\n") +
                           c.line +
                           "Failed to get serial number from USB HID device - disconnecting\n"
                           "Attempting to connect to CAN FD interface: can0\n"
                           "Failed to connect to CAN FD interface\n"
                           "Failed to connect via both USB HID and CAN FD\n");
        EXPECT_FALSE(comms.isConnected());
        EXPECT_FALSE(comms.getUSBHID()->isConnected());
    }
}

TEST(EstablishConnection, NoDeviceAtAll) {
    sim::reset();
    sim::unit().enumeration().clear();
    CommsManager comms;
    bool ok = true;
    const std::string out = captureStdout([&] { ok = comms.establish_connection(); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "Attempting to connect to USB HID device 0x1209:0x0001\n"
                   "Failed to connect to USB HID device\n"
                   "Attempting to connect to CAN FD interface: can0\n"
                   "Failed to connect to CAN FD interface\n"
                   "Failed to connect via both USB HID and CAN FD\n");
    EXPECT_TRUE(sim::unit().outputReports().empty());
}

TEST(Routing, EveryMessageGoesOutOnTheLiveInterface) {
    sim::reset();
    CommsManager comms;
    EXPECT_EQ(comms.getActiveInterface(), USB_HID);
    EXPECT_FALSE(comms.isConnected());
    COMMS_MSG_t msg = makeMessage(0x376, {1});
    int result = 0;
    EXPECT_EQ(captureStdout([&] { result = comms.write(msg); }), "No interface connected.\n");
    EXPECT_EQ(result, -1);
    COMMS_MSG_t reply{};
    EXPECT_EQ(comms.read(&reply), -1);
    EXPECT_TRUE(sim::unit().outputReports().empty());

    ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    msg.iface = CAN_FD; // the caller's choice of interface is ignored
    EXPECT_EQ(comms.write(msg), 7);
    EXPECT_EQ(msg.iface, CAN_FD); // and its message is not changed
    EXPECT_EQ(lastReport(), "05 76 03 00 00 01 01");
    EXPECT_GT(comms.read(&reply), 0);
    EXPECT_EQ(uint32_t{reply.can_ID}, static_cast<uint32_t>(CANMSG_SEND_USER_SETTING));
    EXPECT_EQ(comms.read(nullptr), -1);
    EXPECT_FALSE(comms.connectCANFD("can0"));
}
