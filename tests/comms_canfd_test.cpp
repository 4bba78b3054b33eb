// The CAN FD transport's frame lengths, the transport without a CAN FD interface, and the unit
// reached over its bus: the simulated bus behind the SocketCAN calls here, a virtual CAN interface
// of the kernel in the guest check.
#include <gtest/gtest.h>

#include <dirent.h>
#include <net/if.h>

#include <string>

#include "canfd.h"
#include "capture.h"
#include "comms.h"
#include "sim_socketcan.h"
#include "sim_unit.h"

namespace {

int openDescriptors() {
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    int n = 0;
    while (readdir(dir) != nullptr) {
        ++n;
    }
    closedir(dir);
    return n;
}

} // namespace

TEST(CanFdFrameLengths, EveryPieceGoesOutInWholeFrames) {
    // A controller pads these up to the next length a frame carries.
    for (std::size_t padded : {9u, 11u, 13u, 37u, 49u, 63u, 65u}) {
        EXPECT_FALSE(CANFD::carriesLength(padded)) << padded;
    }
    // The firmware transfer sends a piece of any length as the longest whole frame, then
    // the rest: at most three writes, none padded, adding up to the piece.
    for (std::size_t piece = 1; piece <= COMMS_MSG_DATA_LEN; ++piece) {
        std::size_t left = piece;
        unsigned writes = 0;
        while (left > 0 && writes < 4) {
            const std::size_t length = CANFD::longestFrameLength(left);
            ASSERT_GT(length, 0u);
            EXPECT_TRUE(CANFD::carriesLength(length)) << piece;
            left -= length;
            ++writes;
        }
        EXPECT_EQ(left, 0u) << piece;
        EXPECT_LE(writes, 3u) << piece;
    }
}

TEST(CanFdWithoutInterface, ConnectFailsCleanly) {
    if (if_nametoindex("can0") != 0) {
        GTEST_SKIP() << "this machine has a can0 interface";
    }
    CANFD can;
    const int before = openDescriptors();
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(can.connect("can0"));
    }
    // A name longer than the kernel's would be cut and could name another interface.
    EXPECT_FALSE(can.connect(std::string(IFNAMSIZ, 'c')));
    EXPECT_EQ(openDescriptors(), before) << "a failed connect left a socket open";
    EXPECT_FALSE(can.isConnected());
    COMMS_MSG_t msg{};
    msg.can_ID = CANMSG_WHOAMI;
    msg.msg_len = 2;
    EXPECT_EQ(can.write(msg), -1);
    EXPECT_EQ(can.read(&msg, 0), -1);
}

TEST(CanFdBus, TheUnitAnswersOverItsBusAndEveryFrameIsWhole) {
    sim::reset();
    sim::unit().enumeration().clear(); // on the bus alone
    sim::unit().setCanInterface("efis-sim-can");
    const sim::CanCalls before = sim::canCalls();
    {
        CommsManager comms;
        UnitChoice choice;
        choice.use_usb = false;
        choice.can_interface = "efis-sim-can";
        comms.choose(choice);
        uint32_t vne = 0;
        captureStdout([&] {
            ASSERT_TRUE(comms.establish_connection());
            EXPECT_EQ(set_value(&comms, SETTINGS_COMMS, VNE_INDEX, 171), 0);
            EXPECT_TRUE(get_value_checked(&comms, SETTINGS_COMMS, VNE_INDEX, &vne));
        });
        EXPECT_EQ(comms.confirmedSerial(CAN_FD), sim::SimUnit::DEFAULT_SERIAL);
        EXPECT_EQ(vne, 171u);
        EXPECT_EQ(sim::unit().received().back().iface, CAN_FD);

        // A length that a controller would pad is refused, and nothing reaches the bus.
        const int frames = sim::canCalls().frames_written;
        COMMS_MSG_t msg{};
        msg.can_ID = CANMSG_SET_USER_SETTING;
        msg.msg_len = 9;
        EXPECT_EQ(comms.getCANFD()->write(msg), -1);
        EXPECT_EQ(sim::canCalls().frames_written, frames);

        // An interface no unit is on cannot be opened; the open one stays as it was.
        CANFD other;
        EXPECT_FALSE(other.connect("efis-sim-none"));
        EXPECT_TRUE(comms.getCANFD()->isConnected());
    }
    EXPECT_EQ(sim::canCalls().opened - before.opened, sim::canCalls().closed - before.closed)
        << "a CAN socket was left open";
}
