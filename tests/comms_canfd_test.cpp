// The CAN FD transport's frame lengths, and the transport on a machine without a CAN FD
// interface (the bus itself is exercised over a virtual CAN interface in the guest check).
#include <gtest/gtest.h>

#include <dirent.h>
#include <net/if.h>

#include <string>

#include "canfd.h"

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
