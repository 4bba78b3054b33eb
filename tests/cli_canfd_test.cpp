// efis-cli with the unit on its CAN FD bus (the simulated bus behind the SocketCAN calls): the
// unit named by --can and --serial is updated there, and waited for there after its reboot.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli_run.h"
#include "firmware_helpers.h"
#include "sim_unit.h"

TEST(CliCanFd, TheUnitChosenOnTheBusIsUpdatedAndWaitedForThere) {
    sim::reset();
    sim::unit().flash().setPartition(partition_1); // on USB, and not the one meant
    sim::SimUnit &bus_unit = sim::addUnit("sim:second", 0x0BADCAFEu);
    bus_unit.enumeration().clear();
    bus_unit.setCanInterface("efis-sim-can");
    bus_unit.flash().setPartition(partition_1);
    sim::RebootBehaviour away;
    away.away_looks = 1;
    bus_unit.setRebootBehaviour(away);
    fwtest::TempDir dir;
    const std::string image = dir.write("image.bin", fwtest::makeImage({MX25_BLOCK_SIZE, 3000}));

    const CliRun r = cli({"flash", image, "--no-backup", "--reboot", "--can", "efis-sim-can",
                          "--serial", "0x0BADCAFE"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_NE(r.out.find("the unit is back\n"), std::string::npos) << r.out;
    EXPECT_EQ(bus_unit.reboots(), 1u);
    EXPECT_GT(bus_unit.flash().writeCount(), 0u);
    EXPECT_TRUE(std::all_of(bus_unit.received().begin(), bus_unit.received().end(),
                            [](const sim::Message &m) { return m.iface == CAN_FD; }));
    EXPECT_EQ(sim::unit().reboots(), 0u);
    EXPECT_TRUE(std::all_of(sim::unit().received().begin(), sim::unit().received().end(),
                            [](const sim::Message &m) { return m.can_id == CANMSG_WHOAMI; }));
}
