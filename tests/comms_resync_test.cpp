// A reply that arrives after the tool gave up on it, against the simulated unit: it must never
// be taken for the answer to a later request, and a link that never missed a reply pays nothing.
#include <gtest/gtest.h>

#include <optional>

#include "capture.h"
#include "comms_helpers.h"
#include "get_set.h"

namespace {

using sim::Fault;
using sim::FaultKind;

const char *const RESYNC_LINE =
    "Link out of step after a missed reply: resynchronising with a serial number request\n";
const char *const RESYNC_FAILED_LINE = "Resynchronisation failed: the unit did not answer in step\n"
                                       "USB HID device not answering - link closed\n";

class Resync : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        // Every field distinct, so that a value shifted to a neighbour shows.
        for (uint32_t i = 0; i < SETTINGS_LAST_INDEX; ++i) {
            const uint32_t value = 0x21 + i;
            ASSERT_TRUE(settings_set_value(&sim::unit().settings(),
                                           static_cast<settings_struct_index>(i), &value));
        }
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    }

    // The 31 fields read one after the other, as a load reads them; nothing for a failed read.
    std::vector<std::optional<uint32_t>> readFields() {
        std::vector<std::optional<uint32_t>> values;
        for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
            uint32_t value = 0;
            values.push_back(
                get_value_checked(&comms, SETTINGS_COMMS, static_cast<uint8_t>(i), &value)
                    ? std::optional<uint32_t>(value)
                    : std::nullopt);
        }
        return values;
    }

    static std::size_t serialRequests() {
        std::size_t n = 0;
        for (const sim::Message &m : sim::unit().received()) {
            n += m.can_id == CANMSG_WHOAMI ? 1 : 0;
        }
        return n;
    }

    CommsManager comms;
};

} // namespace

TEST_F(Resync, AReplyAfterTheNextRequestIsNeverTakenForAnotherField) {
    const Settings_t unit = sim::unit().settings();
    for (unsigned k = 0; k < SETTINGS_LAST_INDEX; ++k) {
        sim::unit().onlyFault(
            Fault::on(FaultKind::ReplyAfterNext, CANMSG_REQUEST_USER_SETTING, k + 31 * k));
        const std::size_t serials = serialRequests();
        std::vector<std::optional<uint32_t>> values;
        const std::string out = captureStdout([&] { values = readFields(); });
        for (unsigned i = 0; i < SETTINGS_LAST_INDEX; ++i) {
            if (i == k) {
                EXPECT_FALSE(values[i].has_value()) << "late field " << k;
            } else {
                EXPECT_EQ(values[i],
                          settings_get_value(&unit, static_cast<settings_struct_index>(i)))
                    << "field " << i << " with field " << k << " late";
            }
        }
        // The next request finds the link out of step once; the last field has no next request.
        const bool followed = k + 1 < SETTINGS_LAST_INDEX;
        EXPECT_EQ(serialRequests() - serials, followed ? 1u : 0u) << k;
        EXPECT_EQ(out.find(RESYNC_LINE) != std::string::npos, followed) << out;
        if (!followed) {
            ASSERT_TRUE(comms.bringInStep(USB_HID)); // for the next round
        }
    }
}

TEST_F(Resync, EveryRequestFamilyIsBroughtBackInStep) {
    // The flash status of an erase arrives after the set-address request went out; the
    // set-address gets its own status, naming its own address.
    sim::unit().flash().setPartition(partition_1);
    sim::unit().onlyFault(Fault::on(FaultKind::ReplyAfterNext, CANMSG_ERASE_MX25, {}, 1));
    const std::string out = captureStdout([&] {
        ASSERT_GT(comms.write(makeMessage(CANMSG_ERASE_MX25, {OP_BLOCK_ERASE, 0x40, 0x03})), 0);
        EXPECT_TRUE(wait_for_ack(&comms, CANMSG_ERASE_MX25));
        EXPECT_FALSE(wait_for_mx25_ack(&comms, nullptr, nullptr));
        sim::unit().clearFaults();
        ASSERT_GT(comms.write(makeMessage(CANMSG_SET_ADDR_MX25, {0x00, 0x00, 0x40, 0x03})), 0);
        uint8_t op = 0xFF;
        uint32_t address = 0;
        EXPECT_TRUE(wait_for_mx25_ack(&comms, &op, &address));
        EXPECT_EQ(op, 0x00);
        EXPECT_EQ(address, 0x03400000u);
    });
    EXPECT_NE(out.find(RESYNC_LINE), std::string::npos) << out;

    // A serial number that came late: the next serial-number exchange and the next settings
    // read each get their own reply, the late ones passed over.
    sim::unit().onlyFault(Fault::atRequest(FaultKind::ReplyAfterNext,
                                           static_cast<unsigned>(sim::unit().received().size())));
    captureStdout([&] { EXPECT_EQ(get_serialnumber(&comms, USB_HID), 0xFFFFFFFFu); });
    sim::unit().clearFaults();
    captureStdout([&] {
        EXPECT_EQ(get_serialnumber(&comms, USB_HID), sim::SimUnit::DEFAULT_SERIAL);
        EXPECT_EQ(get_value(&comms, SETTINGS_COMMS, VNE_INDEX), sim::unit().settings().vspeeds.Vne);
        EXPECT_EQ(get_value(&comms, SETTINGS_COMMS, VLO_INDEX), sim::unit().settings().vspeeds.Vlo);
    });
    EXPECT_EQ(sim::unit().pendingReports(), 0u);
}

TEST_F(Resync, AFailedResynchronisationClosesTheLinkAndTheRestFailsAtOnce) {
    sim::unit().onlyFault(Fault::on(FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING, 0));
    captureStdout([&] { get_value(&comms, SETTINGS_COMMS, VMIN_INDEX); });

    // The unit keeps silent: nothing is asked of it but the serial number.
    sim::unit().onlyFault(Fault::on(FaultKind::NoReply, CANMSG_WHOAMI));
    const std::size_t before = sim::unit().received().size();
    int result = 0;
    EXPECT_EQ(captureStdout([&] { result = set_value(&comms, SETTINGS_COMMS, VNE_INDEX, 99); }),
              std::string(RESYNC_LINE) + RESYNC_FAILED_LINE);
    EXPECT_EQ(result, -1);
    ASSERT_EQ(sim::unit().received().size(), before + 1);
    EXPECT_EQ(sim::unit().received().back().can_id, static_cast<uint32_t>(CANMSG_WHOAMI));
    EXPECT_NE(sim::unit().settings().vspeeds.Vne, 99);

    // The link counts as lost: the rest of a load fails without a request and without waiting.
    EXPECT_FALSE(comms.isConnected());
    EXPECT_TRUE(comms.linkLost());
    sim::unit().clearFaults();
    std::vector<std::optional<uint32_t>> values;
    captureStdout([&] { values = readFields(); });
    EXPECT_EQ(values, std::vector<std::optional<uint32_t>>(SETTINGS_LAST_INDEX));
    EXPECT_EQ(sim::unit().received().size(), before + 1);

    // Connected afresh, the unit is asked again.
    captureStdout([&] { ASSERT_TRUE(comms.establish_connection()); });
    EXPECT_FALSE(comms.linkLost());
    EXPECT_EQ(captureStdout([&] { result = set_value(&comms, SETTINGS_COMMS, VNE_INDEX, 99); }),
              "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 99);
}

TEST_F(Resync, TheNormalPathSendsNoExtraRequest) {
    // A load: four header words and 31 fields, nothing else.
    const std::string out = captureStdout([&] {
        for (uint8_t header : {252, 253, 254, 255}) {
            get_value(&comms, SETTINGS_COMMS, header);
        }
        readFields();
    });
    EXPECT_EQ(sim::unit().received().size(), 35u);
    EXPECT_EQ(out, "");
}
