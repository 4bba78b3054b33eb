// Several units on one machine, over the simulated units: the list names each by its serial
// number and path, asks nothing of a unit the tool holds open, and a choice opens that unit alone.
#include <gtest/gtest.h>

#include "capture.h"
#include "comms_helpers.h"
#include "discovery.h"

namespace {

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        sim::EnumEntry mouse; // another device of the same vendor and product, not the unit's
        mouse.vendor_id = vendor_id;
        mouse.product_id = product_id;
        mouse.usage_page = 0x0001;
        mouse.path = "sim:keyboard";
        sim::unit().enumeration().insert(sim::unit().enumeration().begin(), mouse);
        sim::addUnit("sim:second", 0x0BADCAFEu);
    }
    static sim::SimUnit &second() { return sim::units()[1]; }
};

} // namespace

TEST_F(Discovery, ListsEveryUnitWithItsSerialNumberAndPath) {
    std::vector<UnitInterface> units;
    captureStdout([&] { units = discover_units("efis-no-such-can"); });
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(describe_unit(units[0]), "EFIS 0x12345678 - USB sim:efis-display-unit");
    EXPECT_EQ(describe_unit(units[1]), "EFIS 0x0BADCAFE - USB sim:second");
    EXPECT_EQ(count_units(units), 2u);
    EXPECT_EQ(sim::hidCalls().open, sim::hidCalls().close) << "every probe closed again";

    // A unit that does not answer is still listed, and counts as a unit of its own.
    second().addFault(sim::Fault::on(sim::FaultKind::NoReply, CANMSG_WHOAMI));
    captureStdout([&] { units = discover_units("efis-no-such-can"); });
    EXPECT_EQ(describe_unit(units[1]), "EFIS (not answering) - USB sim:second");
    EXPECT_EQ(count_units(units), 2u);

    // The same serial number on two interfaces is one unit.
    second().clearFaults();
    second().setSerialNumber(sim::SimUnit::DEFAULT_SERIAL);
    captureStdout([&] { units = discover_units("efis-no-such-can"); });
    EXPECT_EQ(count_units(units), 1u);
}

TEST_F(Discovery, TheUnitHeldOpenIsNotAskedAgainAndAChoiceOpensOneUnitAlone) {
    CommsManager comms;
    captureStdout([&] { ASSERT_TRUE(comms.establish_connection()); });
    EXPECT_EQ(comms.confirmedSerial(USB_HID), sim::SimUnit::DEFAULT_SERIAL);
    const std::size_t asked = sim::unit().received().size();

    std::vector<UnitInterface> units;
    captureStdout([&] { units = discover_units("efis-no-such-can", &comms); });
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].serial, sim::SimUnit::DEFAULT_SERIAL);
    EXPECT_EQ(sim::unit().received().size(), asked) << "no stray reply for the open link";
    EXPECT_EQ(second().received().size(), 1u);

    // The second unit chosen: only it is opened and asked, and the bus is left alone.
    comms.choose(choice_for(units[1]));
    std::string out;
    out = captureStdout([&] { ASSERT_TRUE(comms.establish_connection()); });
    EXPECT_EQ(out, "Attempting to connect to USB HID device 0x1209:0x0001\n"
                   "USB HID device connected, verifying with serial number request...\n"
                   "Successfully connected to USB HID device! Serial number: 0x0BADCAFE\n"
                   "Connected via USB HID\n");
    EXPECT_EQ(comms.getUSBHID()->path(), "sim:second");
    EXPECT_EQ(sim::unit().received().size(), asked);
    captureStdout([&] { EXPECT_EQ(get_value(&comms, SETTINGS_COMMS, VNE_INDEX), 150u); });
    EXPECT_EQ(second().received().size(), 3u);

    // Unplugged while idle: the presence check closes it; plugged in again, it is found anew.
    second().unplug();
    EXPECT_EQ(captureStdout([&] { EXPECT_FALSE(comms.checkPresent()); }),
              "USB HID device disconnected\n");
    EXPECT_TRUE(comms.linkLost());
    EXPECT_EQ(list_unit_interfaces("efis-no-such-can").size(), 1u);
    second().plugIn();
    captureStdout([&] { ASSERT_TRUE(comms.establish_connection()); });
    EXPECT_FALSE(comms.linkLost());
    EXPECT_EQ(comms.confirmedSerial(USB_HID), 0x0BADCAFEu);
}
