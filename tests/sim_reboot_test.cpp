// The simulated unit's reboot: it restarts from the record it last stored. (Leaving the bus and
// coming back reset or as another unit are exercised by the tests of the flow after an update.)
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
