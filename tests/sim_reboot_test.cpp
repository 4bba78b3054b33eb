// The simulated unit's reboot: it restarts from the record it last stored, and can leave the bus
// for a while, come back as another unit or with its settings reset, or not come back.
#include <gtest/gtest.h>

#include "sim_link.h"

namespace {

const Bytes REBOOT{0x48};

// Whether the device list names the unit.
bool listed() {
    hid_device_info *list = hid_enumerate(0, 0);
    bool found = false;
    for (hid_device_info *d = list; d != nullptr; d = d->next) {
        found = found || std::string(d->path) == "sim:efis-display-unit";
    }
    hid_free_enumeration(list);
    return found;
}

Bytes setVne(uint8_t value) {
    return {VNE_INDEX, value, 0, 0, 0};
}

} // namespace

TEST(SimReboot, KeepsOnlyWhatWasStored) {
    Link link;
    link.exchange(CANMSG_SET_USER_SETTING, setVne(171));
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 171);
    link.exchange(CANMSG_ENTER_BL, REBOOT);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 150) << "sent, never stored";

    link.exchange(CANMSG_SET_USER_SETTING, setVne(171));
    link.exchange(CANMSG_SAVE_USER_SETTINGS, {1, 2, 3, 4});
    link.exchange(CANMSG_SET_USER_SETTING, setVne(99));
    link.exchange(CANMSG_ENTER_BL, REBOOT);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 171);
    EXPECT_EQ(sim::unit().settings().crc32, 0x04030201u);
    EXPECT_EQ(sim::unit().reboots(), 2u);
    EXPECT_TRUE(listed()) << "by default the unit restarts in place";
}

TEST(SimReboot, LeavesTheBusAndComesBackAsConfigured) {
    Link link;
    sim::RebootBehaviour away;
    away.away_looks = 2;
    away.serial_after = 0xCAFE0001u;
    Settings_t reset = sim::SimUnit::defaultSettings();
    reset.vspeeds.Vne = 0;
    away.settings_after = reset;
    sim::unit().setRebootBehaviour(away);
    link.exchange(CANMSG_ENTER_BL, REBOOT);
    EXPECT_EQ(link.send(CANMSG_WHOAMI, {0xEF, 0x15}), -1) << "gone from the bus";
    EXPECT_FALSE(listed());
    EXPECT_FALSE(listed());
    EXPECT_TRUE(listed());
    EXPECT_EQ(link.exchange(CANMSG_WHOAMI, {0xEF, 0x15}),
              std::vector<std::string>{"05 00 23 01 00 00 08 EF 15 00 00 CA FE 00 01"});
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 0);
    EXPECT_EQ(sim::unit().storedSettings().vspeeds.Vne, 0);

    sim::RebootBehaviour gone;
    gone.never_returns = true;
    sim::unit().setRebootBehaviour(gone);
    link.exchange(CANMSG_ENTER_BL, REBOOT);
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(listed());
    }
}
