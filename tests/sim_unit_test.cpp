// The simulated unit as the tool meets it: reply bytes per request, the settings
// record, stores, fault injection, late replies and unplugging, all through the
// hidapi functions.
#include <gtest/gtest.h>

#include <cstring>

#include "get_set.h"
#include "sim_link.h"

using Replies = std::vector<std::string>;

namespace {
const char *const SET_ACK = "05 00 55 02 00 00 06 78 03 00 00 EF 15";
const char *const SET_NACK = "05 00 54 02 00 00 06 78 03 00 00 EF 15";
const Bytes SET_VNE_180 = {VNE_INDEX, 180, 0, 0, 0};
} // namespace

TEST(SimUnit, RepliesToEachSettingsRequest) {
    Link link;
    EXPECT_EQ(link.exchange(CANMSG_WHOAMI, {0xEF, 0x15}),
              Replies{"05 00 23 01 00 00 08 EF 15 00 00 12 34 56 78"});
    EXPECT_EQ(link.exchange(CANMSG_REQUEST_USER_SETTING, {VNE_INDEX}),
              Replies{"05 00 77 03 00 00 04 96 00 00 00"});
    // Registration characters go out first character most significant.
    EXPECT_EQ(link.exchange(CANMSG_REQUEST_USER_SETTING, {REGISTRATION_1_INDEX}),
              Replies{"05 00 77 03 00 00 04 42 41 2D 47"});
    EXPECT_EQ(link.exchange(CANMSG_REQUEST_USER_SETTING, {SETTINGS_MAGIC_NUM}),
              Replies{"05 00 77 03 00 00 04 5A 56 57 5F"});

    EXPECT_EQ(link.exchange(CANMSG_SET_USER_SETTING, SET_VNE_180), Replies{SET_ACK});
    Settings_t &held = sim::unit().settings();
    EXPECT_EQ(held.vspeeds.Vne, 180);
    EXPECT_EQ(held.crc32, sim::SimUnit::storeChecksum(held)); // recomputed by the accessor
    EXPECT_EQ(link.exchange(CANMSG_SET_USER_SETTING, {40, 1, 0, 0, 0}), Replies{SET_NACK});

    EXPECT_TRUE(link.exchange(CANMSG_ENTER_BL, {0x48}).empty());
    EXPECT_TRUE(sim::unit().rebootRequested());
    ASSERT_EQ(sim::unit().received().size(), 7u);
    EXPECT_EQ(sim::unit().received()[4].data, SET_VNE_180);
}

TEST(SimUnit, DefaultRecordIsConfiguredAndValid) {
    const Settings_t s = sim::SimUnit::defaultSettings();
    EXPECT_EQ(s.units.units_value, 0xCAu); // knots, feet, Celsius, inHg
    EXPECT_EQ(std::memcmp(s.registration, "G-ABCD\0\0\0\0\0\0", 12), 0);
    EXPECT_EQ(s.sky_color[0], 0xFF87CEEBu);
    EXPECT_EQ(s.volt_alerts.max_volts, 155);
    EXPECT_EQ(s.pitch_correction, 0.5f);
    EXPECT_EQ(s.num_elements, 26u);
    Settings_t zeroed = s;
    zeroed.crc32 = 0;
    EXPECT_EQ(s.crc32, settings_CalcCRC(&zeroed));
}

TEST(SimUnit, StoreKeepsAGoodChecksumAndFlagsABadOne) {
    Link link;
    link.exchange(CANMSG_SET_USER_SETTING, SET_VNE_180);
    // The tool's checksum: its copy of the record with crc32 cleared.
    Settings_t tool = sim::unit().settings();
    tool.crc32 = 0x11111111u;
    const uint32_t good = sim::SimUnit::storeChecksum(tool);
    const uint32_t bad = good ^ 1u;
    for (uint32_t crc : {bad, good}) {
        EXPECT_EQ(link.exchange(CANMSG_SAVE_USER_SETTINGS,
                                {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8),
                                 static_cast<uint8_t>(crc >> 16), static_cast<uint8_t>(crc >> 24)}),
                  (Replies{"05 00 56 02 00 00 05 AE 00 00 00 00",
                           "05 00 55 02 00 00 06 79 03 00 00 EF 15"}));
    }
    const auto &stores = sim::unit().stores();
    ASSERT_EQ(stores.size(), 2u);
    EXPECT_TRUE(stores[0].corrupt);
    EXPECT_EQ(stores[0].crc, bad);
    EXPECT_EQ(stores[0].record.crc32, bad) << "kept under the checksum given, as the unit does";
    EXPECT_FALSE(stores[1].corrupt);
    EXPECT_EQ(stores[1].crc, good);
    EXPECT_EQ(stores[1].record.vspeeds.Vne, 180);
    EXPECT_TRUE(sim::unit().corruptStoreSeen());
    EXPECT_EQ(settings_get_value(&sim::unit().settings(), SETTINGS_CHECKSUM_INDEX), good);
}

TEST(SimUnit, MalformedAndUnknownRequestsGetNoReply) {
    Link link;
    const Bytes cases[] = {
        {5, 0x23, 1},                                           // shorter than a header
        {5, 0x23, 1, 0, 0, 2, 0xEF},                            // announces more than it carries
        {5, 0x15, 4, 0, 0, 65},                                 // beyond the record's 64 bytes
        {6, 0x23, 1, 0, 0, 2, 0xEF, 0x15},                      // another report number
        outputReport(CANMSG_SET_SENSOR_CALIB, {2, 1, 0, 0, 0}), // a request it does not serve
        outputReport(CANMSG_REQUEST_USER_SETTING, {}),          // get without an index
        {5, 0x23, 1, 0, 0, 2, 0xEF, 0x15, 0x00},                // a byte after the payload
        // Requests of another length than the unit's own
        outputReport(CANMSG_REQUEST_USER_SETTING, {6, 0}),
        outputReport(CANMSG_SET_USER_SETTING, {6, 180, 0, 0, 0, 0}),
        outputReport(CANMSG_SAVE_USER_SETTINGS, {1, 2, 3}),
        outputReport(CANMSG_ERASE_MX25, {OP_BLOCK_ERASE, 0x40, 0x03, 0}),
        outputReport(CANMSG_SET_ADDR_MX25, {0, 0, 0x40, 0x03, 0}),
        outputReport(CANMSG_GET_PARTITION, {0}),
    };
    const Settings_t before = sim::unit().settings();
    for (const Bytes &report : cases) {
        EXPECT_EQ(link.write(report), static_cast<int>(report.size())) << hex(report);
        EXPECT_TRUE(link.replies().empty()) << hex(report);
    }
    EXPECT_EQ(sim::unit().outputReports().size(), 13u);
    // Only the well-formed reports are requests.
    EXPECT_EQ(sim::unit().received().size(), 8u);
    EXPECT_EQ(std::memcmp(&sim::unit().settings(), &before, sizeof(before)), 0);
    EXPECT_TRUE(sim::unit().stores().empty());
    EXPECT_EQ(sim::unit().flash().eraseCount(), 0u);
}

TEST(SimUnit, EachFaultKindOnASet) {
    using sim::FaultKind;
    struct Case {
        const char *name;
        sim::Fault fault;
        int written;
        Replies replies;
        bool takes_effect;
    };
    sim::Fault replace = sim::Fault::on(FaultKind::Replace, CANMSG_SET_USER_SETTING);
    replace.replacement.can_id = CANMSG_ACK;
    replace.replacement.msg_len = 8;
    replace.replacement.data = {1, 2};
    sim::Fault raw = sim::Fault::on(FaultKind::Raw, CANMSG_SET_USER_SETTING);
    raw.raw = {5, 0, 0x55};
    const Case cases[] = {
        {"no reply", sim::Fault::on(FaultKind::NoReply, CANMSG_SET_USER_SETTING), 11, {}, true},
        {"nack", sim::Fault::on(FaultKind::Nack, CANMSG_SET_USER_SETTING), 11, {SET_NACK}, false},
        {"replace", replace, 11, {"05 00 55 02 00 00 08 01 02"}, true},
        {"raw", raw, 11, {"05 00 55"}, true},
        {"unplug", sim::Fault::on(FaultKind::Unplug, CANMSG_SET_USER_SETTING), 11, {}, false},
        {"unplug before", sim::Fault::on(FaultKind::UnplugBeforeWrite, 0x378), -1, {}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Link link;
        sim::unit().addFault(c.fault);
        EXPECT_EQ(link.send(CANMSG_SET_USER_SETTING, SET_VNE_180), c.written);
        EXPECT_EQ(link.replies(), c.replies);
        EXPECT_EQ(sim::unit().settings().vspeeds.Vne, c.takes_effect ? 180 : 150);
    }
}

TEST(SimUnit, FaultsSelectTheirRequestAndReply) {
    using sim::FaultKind;
    Link link;
    // Second get only, by occurrence; the fourth request of all, by number.
    sim::unit().addFault(sim::Fault::on(FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING, 1));
    sim::unit().addFault(sim::Fault::atRequest(FaultKind::Nack, 3));
    EXPECT_EQ(link.exchange(CANMSG_REQUEST_USER_SETTING, {VMIN_INDEX}).size(), 1u);
    EXPECT_TRUE(link.exchange(CANMSG_REQUEST_USER_SETTING, {VMIN_INDEX}).empty());
    EXPECT_EQ(link.exchange(CANMSG_REQUEST_USER_SETTING, {VMIN_INDEX}).size(), 1u);
    EXPECT_EQ(link.exchange(CANMSG_SET_USER_SETTING, SET_VNE_180), Replies{SET_NACK});

    // Per reply of a two-reply request: the ones before go out, silence or a
    // refusal ends the exchange.
    const Replies erase = link.exchange(CANMSG_ERASE_MX25, {OP_BLOCK_ERASE, 0x40, 0x03});
    ASSERT_EQ(erase.size(), 2u);
    sim::unit().addFault(sim::Fault::on(FaultKind::NoReply, CANMSG_ERASE_MX25, {}, 1));
    EXPECT_EQ(link.exchange(CANMSG_ERASE_MX25, {OP_BLOCK_ERASE, 0x40, 0x03}), Replies{erase[0]});
    sim::unit().onlyFault(sim::Fault::on(FaultKind::NoReply, CANMSG_ERASE_MX25, {}, 0));
    EXPECT_TRUE(link.exchange(CANMSG_ERASE_MX25, {OP_BLOCK_ERASE, 0x40, 0x03}).empty());
    sim::unit().onlyFault(sim::Fault::on(FaultKind::Nack, CANMSG_ERASE_MX25, {}, 1));
    const unsigned erases = sim::unit().flash().eraseCount();
    EXPECT_EQ(link.exchange(CANMSG_ERASE_MX25, {OP_BLOCK_ERASE, 0x40, 0x03}),
              (Replies{erase[0], "05 00 57 02 00 00 00"}));
    EXPECT_EQ(sim::unit().flash().eraseCount(), erases);
}

TEST(SimUnit, LateRepliesArriveAfterATimeOutOrBeforeTheNextRequest) {
    Link link;
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::LateReply, CANMSG_GET_PARTITION, {}, 1));
    link.send(CANMSG_GET_PARTITION, {});
    EXPECT_EQ(link.read(), "05 00 55 02 00 00 06 87 02 00 00 EF 15");
    EXPECT_EQ(sim::unit().heldBackReports(), 1u);
    EXPECT_EQ(link.read(), "");                                    // the tool's read times out ...
    EXPECT_EQ(link.read(), "05 00 56 02 00 00 05 AC B1 B1 B1 B1"); // ... then it is there

    // Not read before the next request: queued ahead of that request's reply.
    sim::unit().onlyFault(sim::Fault::on(sim::FaultKind::LateReply, CANMSG_REQUEST_USER_SETTING));
    link.send(CANMSG_REQUEST_USER_SETTING, {VMIN_INDEX});
    sim::unit().clearFaults();
    link.send(CANMSG_REQUEST_USER_SETTING, {VS0_INDEX});
    EXPECT_EQ(sim::unit().heldBackReports(), 0u);
    EXPECT_EQ(link.replies(),
              (Replies{"05 00 77 03 00 00 04 28 00 00 00", "05 00 77 03 00 00 04 2D 00 00 00"}));
}

TEST(SimUnit, UnpluggedUnitFailsEveryCall) {
    Link link;
    sim::unit().injectInputReport({5, 0, 0x55});
    sim::unit().unplug();
    EXPECT_EQ(link.send(CANMSG_WHOAMI, {0xEF, 0x15}), -1);
    EXPECT_EQ(link.read(), "error");
    EXPECT_EQ(hid_enumerate(0, 0), nullptr);
    EXPECT_EQ(hid_open_path(sim::unit().enumeration().front().path.c_str()), nullptr);
    EXPECT_TRUE(sim::unit().received().empty());
}
