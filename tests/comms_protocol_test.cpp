// The settings protocol operations and the acknowledgement checks, against the
// simulated unit.
#include <gtest/gtest.h>

#include "capture.h"
#include "comms_helpers.h"
#include "get_set.h"

namespace {

class Protocol : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    }

    // Runs body and returns what it printed.
    template <typename F> std::string run(F body) { return captureStdout(body); }

    CommsManager comms;
};

} // namespace

TEST_F(Protocol, RoadOfOneEdit) {
    int result = -1;
    EXPECT_EQ(run([&] { result = set_value(&comms, SETTINGS_COMMS, VNE_INDEX, 180); }), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(lastReport(), "05 78 03 00 00 05 06 B4 00 00 00");
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 180);
}

TEST_F(Protocol, GetValueRequestAndReply) {
    sim::unit().addFault(
        replaceReply(CANMSG_REQUEST_USER_SETTING,
                     simMessage(CANMSG_SEND_USER_SETTING, {0x78, 0x56, 0x34, 0x12})));
    EXPECT_EQ(get_value(&comms, SETTINGS_COMMS, SETTINGS_CHECKSUM_INDEX), 0x12345678u);
    EXPECT_EQ(lastReport(), "05 76 03 00 00 01 FC");
    EXPECT_EQ(sim::unit().lastReadTimeout(), 1000);

    // The sensor target asks with its own identifier.
    sim::reset();
    ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    get_value(&comms, SENSOR_COMMS, 3);
    EXPECT_EQ(lastReport(), "05 54 03 00 00 01 03");
}

TEST_F(Protocol, GetValueReadsTheUnitsRecord) {
    Settings_t &record = sim::unit().settings();
    for (uint32_t index : {0u, 1u, 6u, 9u, 11u, 14u, 25u, 29u, 252u, 253u, 254u, 255u}) {
        const uint32_t expected =
            settings_get_value(&record, static_cast<settings_struct_index>(index));
        uint32_t value = 0;
        EXPECT_TRUE(get_value_checked(&comms, SETTINGS_COMMS, static_cast<uint8_t>(index), &value));
        EXPECT_EQ(value, expected) << index;
        EXPECT_EQ(get_value(&comms, SETTINGS_COMMS, static_cast<uint8_t>(index)), expected);
    }
}

TEST_F(Protocol, CheckedReadTellsWhiteFromFailure) {
    const uint32_t white = 0xFFFFFFFFu;
    ASSERT_TRUE(settings_set_value(&sim::unit().settings(), SKY_COLOR_0_INDEX, &white));
    uint32_t value = 0;
    EXPECT_TRUE(get_value_checked(&comms, SETTINGS_COMMS, SKY_COLOR_0_INDEX, &value));
    EXPECT_EQ(value, white);

    sim::unit().addFault(sim::Fault::on(sim::FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING));
    value = 7;
    std::string out;
    out = run([&] { EXPECT_FALSE(get_value_checked(&comms, SETTINGS_COMMS, 14, &value)); });
    EXPECT_EQ(out, "No response received from device (timeout or no data).\n");
    EXPECT_EQ(value, 7u);
}

TEST_F(Protocol, GetValueFailures) {
    struct Case {
        const char *name;
        std::vector<sim::Fault> faults;
        const char *out;
    };
    const Case cases[] = {
        {"three bytes",
         {replaceReply(CANMSG_REQUEST_USER_SETTING,
                       simMessage(CANMSG_SEND_USER_SETTING, {1, 2, 3}))},
         ""},
        {"other identifier",
         {replaceReply(CANMSG_REQUEST_USER_SETTING, simMessage(CANMSG_ACK, {1, 2, 3, 4}))},
         ""},
        {"short report",
         {rawReply(CANMSG_REQUEST_USER_SETTING, {5, 0, 0x77})},
         "Error reading response from device.\n"},
        {"time-out",
         {sim::Fault::on(sim::FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING)},
         "No response received from device (timeout or no data).\n"},
        {"unplugged mid-exchange",
         {sim::Fault::on(sim::FaultKind::Unplug, CANMSG_REQUEST_USER_SETTING)},
         "USB HID device disconnected\nError reading response from device.\n"},
        {"unplugged before",
         {sim::Fault::on(sim::FaultKind::UnplugBeforeWrite, 0x376)},
         "USB HID device disconnected\nFailed to send COMMS_MSG_t to device.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (const sim::Fault &f : c.faults) {
            sim::unit().addFault(f);
        }
        uint32_t value = 0;
        EXPECT_EQ(run([&] { value = get_value(&comms, SETTINGS_COMMS, 6); }), c.out);
        EXPECT_EQ(value, 0xFFFFFFFFu);
    }
}

TEST_F(Protocol, SetValueMessageAndAcknowledgement) {
    EXPECT_EQ(set_value(&comms, SETTINGS_COMMS, VMIN_INDEX, 0x55), 0);
    EXPECT_EQ(lastReport(), "05 78 03 00 00 05 01 55 00 00 00");
    EXPECT_EQ(sim::unit().settings().vspeeds.Vmin, 0x55);
    // The value is little-endian from data byte 1 on.
    EXPECT_EQ(set_value(&comms, SETTINGS_COMMS, SKY_COLOR_1_INDEX, 0xFF112233u), 0);
    EXPECT_EQ(lastReport(), "05 78 03 00 00 05 0F 33 22 11 FF");
    EXPECT_EQ(set_value(&comms, SENSOR_COMMS, 2, 1), -1); // the unit answers no sensor set
    EXPECT_EQ(hex(sim::unit().outputReports().back()).substr(0, 17), "05 56 03 00 00 05");
}

TEST_F(Protocol, AcknowledgementChecksInOrder) {
    struct Case {
        const char *name;
        sim::Fault fault;
        const char *line;
    };
    const Case cases[] = {
        {"negative acknowledgement", sim::Fault::on(sim::FaultKind::Nack, CANMSG_SET_USER_SETTING),
         "ACK validation failed: can_ID mismatch (expected 0x255, got 0x00000254)\n"},
        {"length",
         replaceReply(CANMSG_SET_USER_SETTING, simMessage(CANMSG_ACK, {0x78, 3, 0, 0, 0xEF})),
         "ACK validation failed: msg_len mismatch (expected 0x06, got 0x05)\n"},
        {"length above the record",
         rawReply(CANMSG_SET_USER_SETTING, {5, 0, 0x55, 2, 0, 0, 0x90, 0x78, 3, 0, 0, 0xEF, 0x15}),
         "ACK validation failed: msg_len mismatch (expected 0x06, got 0x90)\n"},
        {"other request acknowledged",
         replaceReply(CANMSG_SET_USER_SETTING, simMessage(CANMSG_ACK, {0x76, 3, 0, 0, 0xEF, 0x15})),
         "ACK validation failed: data can_ID mismatch (expected 0x00000378, got 0x00000376)\n"},
        {"swapped markers",
         replaceReply(CANMSG_SET_USER_SETTING, simMessage(CANMSG_ACK, {0x78, 3, 0, 0, 0x15, 0xEF})),
         "ACK validation failed: data[4-5] mismatch (expected 0x15 0xEF, got 0x15 0xEF)\n"},
        {"markers announced but not carried",
         rawReply(CANMSG_SET_USER_SETTING, {5, 0, 0x55, 2, 0, 0, 6, 0x78, 3, 0, 0}),
         "ACK validation failed: data[4-5] mismatch (expected 0x15 0xEF, got 0x00 0x00)\n"},
        {"time-out", sim::Fault::on(sim::FaultKind::NoReply, CANMSG_SET_USER_SETTING),
         "No ACK received from device (timeout or no data).\n"},
        {"unplugged", sim::Fault::on(sim::FaultKind::Unplug, CANMSG_SET_USER_SETTING),
         "USB HID device disconnected\nError reading ACK from device.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        sim::unit().addFault(c.fault);
        int result = 0;
        EXPECT_EQ(run([&] { result = set_value(&comms, SETTINGS_COMMS, 1, 0x55); }), c.line);
        EXPECT_EQ(result, -1);
    }
}

TEST_F(Protocol, StoreValueSendsTheChecksum) {
    // store_value expects a single acknowledgement of the store request.
    sim::unit().addFault(replaceReply(CANMSG_SAVE_USER_SETTINGS,
                                      simMessage(CANMSG_ACK, {0x79, 3, 0, 0, 0xEF, 0x15})));
    EXPECT_EQ(store_value(&comms, SETTINGS_COMMS, 0xA1B2C3D4u), 0);
    EXPECT_EQ(hex(sim::unit().outputReports().back()), "05 79 03 00 00 04 D4 C3 B2 A1");
    EXPECT_EQ(store_value(&comms, SENSOR_COMMS, 1), -1);
    EXPECT_EQ(hex(sim::unit().outputReports().back()), "05 57 03 00 00 04 01 00 00 00");
}

TEST(ProtocolNotConnected, RefusedWithoutSending) {
    sim::reset();
    CommsManager comms; // never connected
    uint32_t value = 0;
    EXPECT_EQ(captureStdout([&] { value = get_value(&comms, SETTINGS_COMMS, 6); }),
              "CommsManager not connected.\n");
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_EQ(captureStdout([&] { value = get_value(nullptr, SETTINGS_COMMS, 6); }),
              "CommsManager not connected.\n");
    EXPECT_EQ(captureStdout([&] {
                  EXPECT_EQ(set_value(&comms, SETTINGS_COMMS, 6, 1), -1);
                  EXPECT_EQ(store_value(&comms, SETTINGS_COMMS, 1), -1);
                  EXPECT_FALSE(wait_for_ack(&comms, 0x378));
                  EXPECT_FALSE(wait_for_mx25_ack(&comms, nullptr, nullptr));
                  EXPECT_EQ(get_serialnumber(&comms, USB_HID), 0xFFFFFFFFu);
                  EXPECT_EQ(get_serialnumber(&comms, CAN_FD), 0xFFFFFFFFu);
                  EXPECT_EQ(get_serialnumber(nullptr, USB_HID), 0xFFFFFFFFu);
              }),
              "");
    EXPECT_TRUE(sim::unit().outputReports().empty());
}

TEST_F(Protocol, LateReplyIsDiscardedBeforeTheNextRequest) {
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::LateReply, CANMSG_REQUEST_USER_SETTING, 0));
    uint32_t first = 0;
    EXPECT_EQ(run([&] { first = get_value(&comms, SETTINGS_COMMS, VMIN_INDEX); }),
              "No response received from device (timeout or no data).\n");
    EXPECT_EQ(first, 0xFFFFFFFFu);

    // Without the discard the late Vmin would be taken as the answer for Vne.
    uint32_t second = 0;
    EXPECT_EQ(run([&] { second = get_value(&comms, SETTINGS_COMMS, VNE_INDEX); }),
              "Link out of step after a missed reply: resynchronising with a serial number "
              "request\n"
              "Discarded stale message (canID=0x00000377, len=4)\n");
    EXPECT_EQ(second, sim::unit().settings().vspeeds.Vne);
}

TEST_F(Protocol, UnaskedMessagesAreDiscardedOneLineEach) {
    sim::unit().injectInputReport({5, 0, 0x55, 2, 0, 0, 6, 0x78, 3, 0, 0, 0xEF, 0x15});
    sim::unit().injectInputReport({5, 0, 0x56, 2, 0, 0, 5, 0xAA, 0, 0, 0, 0});
    int result = -1;
    EXPECT_EQ(run([&] { result = set_value(&comms, SETTINGS_COMMS, VNE_INDEX, 99); }),
              "Discarded stale message (canID=0x00000255, len=6)\n"
              "Discarded stale message (canID=0x00000256, len=5)\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 99);
}

TEST_F(Protocol, UnplugInTheMiddleOfAnExchange) {
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::Unplug, CANMSG_SET_USER_SETTING));
    std::string out = run([&] { EXPECT_EQ(set_value(&comms, SETTINGS_COMMS, 6, 180), -1); });
    EXPECT_EQ(out, "USB HID device disconnected\nError reading ACK from device.\n");
    // The transport closed the vanished device: every later exchange fails at once, without
    // touching the device again, and the manager tells that the link was lost.
    EXPECT_FALSE(comms.isConnected());
    EXPECT_TRUE(comms.linkLost());
    const int calls = sim::hidCalls().close;
    out = run([&] { EXPECT_EQ(get_value(&comms, SETTINGS_COMMS, 6), 0xFFFFFFFFu); });
    EXPECT_EQ(out, "CommsManager not connected.\n");
    out = run([&] { EXPECT_EQ(set_value(&comms, SETTINGS_COMMS, 6, 1), -1); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(sim::hidCalls().close, calls);
}

TEST_F(Protocol, MxStatusReply) {
    struct Case {
        const char *name;
        Bytes raw;
        bool ok;
        uint8_t op;
        uint32_t address;
        const char *line;
    };
    const Case cases[] = {
        {"ack with address",
         {5, 0, 0x56, 2, 0, 0, 5, 0xBE, 0, 0, 0x40, 3},
         true,
         0xBE,
         0x03400000u,
         ""},
        {"ack without address",
         {5, 0, 0x56, 2, 0, 0, 4, 0xAA, 1, 2, 3},
         true,
         0xAA,
         0xDEADBEEFu,
         ""},
        {"nack",
         {5, 0, 0x57, 2, 0, 0, 5, 0xBE, 0, 0, 0, 0},
         false,
         0x11,
         0xDEADBEEFu,
         "wait_for_mx25_ack: Operation failed (CAN ID 0x257)\n"},
        {"other",
         {5, 0, 0x55, 2, 0, 0, 6, 0x16, 4, 0, 0, 0xEF, 0x15},
         false,
         0x11,
         0xDEADBEEFu,
         "wait_for_mx25_ack: Unexpected CAN ID (got=0x00000255, expected=0x256 or 0x257)\n"},
        {"short",
         {5, 0, 0x56},
         false,
         0x11,
         0xDEADBEEFu,
         "wait_for_mx25_ack: Error reading response from device.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        sim::unit().injectInputReport(c.raw);
        uint8_t op = 0x11;
        uint32_t address = 0xDEADBEEFu;
        bool ok = !c.ok;
        EXPECT_EQ(run([&] { ok = wait_for_mx25_ack(&comms, &op, &address); }), c.line);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(op, c.op);
        EXPECT_EQ(address, c.address);
    }
    SetUp();
    EXPECT_EQ(run([&] { EXPECT_FALSE(wait_for_mx25_ack(&comms, nullptr, nullptr)); }),
              "wait_for_mx25_ack: No response received (timeout or no data).\n");
}

// A write that transfers nothing (hid_write returns 0) is a failed send for every request of
// the settings protocol: nothing reaches the unit and nothing is waited for.
TEST_F(Protocol, AWriteOfNothingIsAFailedSend) {
    const auto nothing = [](uint32_t can_id) {
        sim::unit().onlyFault(sim::Fault::on(sim::FaultKind::WriteNothing, can_id));
    };
    const Settings_t before = sim::unit().settings();

    nothing(CANMSG_WHOAMI);
    uint32_t serial = 0;
    EXPECT_EQ(run([&] { serial = get_serialnumber(&comms, USB_HID); }),
              "get_serialnumber: Failed to send message to device.\n");
    EXPECT_EQ(serial, 0xFFFFFFFFu);

    nothing(CANMSG_REQUEST_USER_SETTING);
    uint32_t value = 0;
    EXPECT_EQ(run([&] { value = get_value(&comms, SETTINGS_COMMS, VNE_INDEX); }),
              "Failed to send COMMS_MSG_t to device.\n");
    EXPECT_EQ(value, 0xFFFFFFFFu);

    nothing(CANMSG_SET_USER_SETTING);
    int result = 0;
    EXPECT_EQ(run([&] { result = set_value(&comms, SETTINGS_COMMS, VNE_INDEX, 180); }), "");
    EXPECT_EQ(result, -1);

    nothing(CANMSG_SAVE_USER_SETTINGS);
    result = 0;
    EXPECT_EQ(run([&] { result = store_value(&comms, SETTINGS_COMMS, 0x12345678u); }), "");
    EXPECT_EQ(result, -1);

    EXPECT_TRUE(sim::unit().received().empty());
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, before.vspeeds.Vne);
    EXPECT_TRUE(sim::unit().stores().empty());
}
