// The simulated unit's flash: contents, erases, sparse storage, violation flags,
// and the flash requests that reach it through the hidapi functions.
#include <gtest/gtest.h>

#include "sim_link.h"

using Replies = std::vector<std::string>;
using sim::SimFlash;

namespace {
constexpr uint32_t P1 = 0x03400000u;
constexpr uint32_t P2 = 0x03800000u;

std::vector<SimFlash::ViolationKind> kinds(const SimFlash &f) {
    std::vector<SimFlash::ViolationKind> out;
    for (const SimFlash::Violation &v : f.violations()) {
        out.push_back(v.kind);
    }
    return out;
}
} // namespace

TEST(SimFlash, UntouchedBytesHoldOldContentsAndTakeNoMemory) {
    SimFlash f;
    EXPECT_GE(SimFlash::SIZE, 0x03C00000u);
    for (uint32_t a : {0u, P1, P2 + 12345u, SimFlash::SIZE - 1}) {
        EXPECT_NE(f.byteAt(a), 0xFF) << a;
        EXPECT_EQ(f.byteAt(a), SimFlash::previousContents(a));
        EXPECT_FALSE(f.isErased(a));
    }
    EXPECT_NE(f.byteAt(P1), f.byteAt(P1 + 1));
    EXPECT_EQ(f.read(SimFlash::SIZE - 2, 10).size(), 2u); // stops at the end of the chip
    EXPECT_EQ(f.allocatedBlocks(), 0u);
}

TEST(SimFlash, WritesOnlyClearBitsAndAreFlaggedUnlessErased) {
    SimFlash f;
    ASSERT_TRUE(f.eraseSector(P1 / MX25_SECTOR_SIZE));
    EXPECT_EQ(f.allocatedBlocks(), 1u);
    EXPECT_TRUE(f.isErased(P1 + MX25_SECTOR_SIZE - 1));
    EXPECT_FALSE(f.isErased(P1 + MX25_SECTOR_SIZE)); // the next sector is untouched
    f.setAddress(P1);
    const uint8_t first[2] = {0xF0, 0x0F};
    const uint8_t second[1] = {0x3C};
    ASSERT_TRUE(f.write(first, 2));
    EXPECT_EQ(f.address(), P1 + 2);
    EXPECT_TRUE(f.violations().empty());
    f.setAddress(P1);
    ASSERT_TRUE(f.write(second, 1));
    EXPECT_EQ(f.read(P1, 3), (Bytes{0x30, 0x0F, 0xFF}));
    ASSERT_EQ(f.violations().size(), 1u);
    EXPECT_EQ(f.violations()[0].address, P1);
    EXPECT_EQ(f.violations()[0].kind, SimFlash::ViolationKind::NotErased);
    EXPECT_EQ(f.writeCount(), 2u);
}

TEST(SimFlash, EraseBlockAndChip) {
    SimFlash f;
    EXPECT_FALSE(f.eraseBlock(SimFlash::SIZE / MX25_BLOCK_SIZE));
    EXPECT_FALSE(f.eraseSector(SimFlash::SIZE / MX25_SECTOR_SIZE));
    ASSERT_TRUE(f.eraseBlock(832));
    EXPECT_TRUE(f.isErased(P1) && f.isErased(P1 + MX25_BLOCK_SIZE - 1));
    EXPECT_FALSE(f.isErased(P1 + MX25_BLOCK_SIZE));

    f.eraseChip();
    EXPECT_EQ(f.allocatedBlocks(), 0u);
    EXPECT_TRUE(f.isErased(0) && f.isErased(SimFlash::SIZE - 1));
    EXPECT_EQ(f.byteAt(P2), 0xFF);
    f.setAddress(P1 + MX25_BLOCK_SIZE - 1); // one write across two blocks
    const uint8_t data[2] = {0x12, 0x34};
    ASSERT_TRUE(f.write(data, 2));
    EXPECT_EQ(f.allocatedBlocks(), 2u);
    EXPECT_TRUE(f.isErased(P1 + MX25_BLOCK_SIZE + 1));
    EXPECT_EQ(f.eraseCount(), 2u);
}

TEST(SimFlash, WritesOutsideTheReportedPartitionAreFlagged) {
    SimFlash f;
    f.eraseChip();
    const uint8_t byte[1] = {0};
    struct Case {
        mx25_partition partition;
        uint32_t address;
        bool outside;
    };
    const Case cases[] = {
        // every address written once, so that only the partition can be at fault
        {partition_1, P1, false},        {partition_1, P2 - 1, false},
        {partition_1, P2, true},         {partition_1, P1 - 1, true},
        {partition_2, P2 + 1, false},    {partition_2, P1 + 1, true},
        {partition_debug, P1 + 2, true}, {partition_unknown, P2 + 2, true},
        {partition_none, 0, true},
    };
    for (const Case &c : cases) {
        f.setPartition(c.partition);
        f.setAddress(c.address);
        const std::size_t before = f.violations().size();
        ASSERT_TRUE(f.write(byte, 1));
        EXPECT_EQ(f.violations().size() - before, c.outside ? 1u : 0u) << std::hex << c.address;
    }
    // The violation names the first byte outside: the partition's end for a write that crosses
    // it, the write's own address for one that starts beyond it or before it.
    f.setPartition(partition_1);
    const uint8_t zeros[4] = {0, 0, 0, 0};
    struct Crossing {
        uint32_t address;
        uint32_t first;
    };
    for (const Crossing &c : {Crossing{P2 - 3, P2}, Crossing{P2 + 0x100, P2 + 0x100},
                              Crossing{P1 - 0x100, P1 - 0x100}}) {
        f.setAddress(c.address);
        const std::size_t before = f.violations().size();
        ASSERT_TRUE(f.write(zeros, sizeof(zeros)));
        ASSERT_GT(f.violations().size(), before);
        // The partition is checked before the bytes (one of them may have been written before).
        EXPECT_EQ(f.violations()[before].kind, SimFlash::ViolationKind::OutsidePartition);
        EXPECT_EQ(f.violations()[before].address, c.first) << std::hex << c.address;
    }
    // A write that leaves the chip writes nothing.
    f.setAddress(SimFlash::SIZE - 1);
    const uint8_t two[2] = {0, 0};
    EXPECT_FALSE(f.write(two, 2));
    EXPECT_EQ(f.address(), SimFlash::SIZE - 1);
    EXPECT_EQ(kinds(f).back(), SimFlash::ViolationKind::OutOfRange);
    uint32_t start = 1;
    uint32_t end = 1;
    SimFlash::partitionRange(partition_2, &start, &end);
    EXPECT_EQ(start, P2);
    EXPECT_EQ(end, 0x03C00000u);
}

TEST(SimFlash, FlashRequestsAndTheirReplies) {
    Link link;
    const char *const ERASE_ACK = "05 00 55 02 00 00 06 16 04 00 00 EF 15";
    const char *const NACK = "05 00 57 02 00 00 00";
    EXPECT_EQ(link.exchange(CANMSG_ERASE_MX25, {OP_BLOCK_ERASE, 0x40, 0x03}),
              (Replies{ERASE_ACK, "05 00 56 02 00 00 05 BE 00 00 40 03"}));
    EXPECT_EQ(link.exchange(CANMSG_ERASE_MX25, {OP_SECTOR_ERASE, 0x34, 0x12}),
              (Replies{ERASE_ACK, "05 00 56 02 00 00 05 AE 00 40 23 01"}));
    EXPECT_EQ(link.exchange(CANMSG_ERASE_MX25, {OP_BLOCK_ERASE, 0x00, 0x04}),
              (Replies{ERASE_ACK, NACK})); // block 1024 is beyond the chip
    EXPECT_EQ(link.exchange(CANMSG_ERASE_MX25, {OP_READ, 0, 0}), (Replies{ERASE_ACK, NACK}));

    EXPECT_EQ(link.exchange(CANMSG_SET_ADDR_MX25, {0x00, 0x00, 0x40, 0x03}),
              Replies{"05 00 56 02 00 00 05 00 00 00 40 03"});
    EXPECT_EQ(link.exchange(CANMSG_WRITE_MX25, Bytes(64, 0x5A)),
              Replies{"05 00 56 02 00 00 05 AA 00 00 40 03"});
    EXPECT_EQ(link.exchange(CANMSG_WRITE_MX25, {0x01, 0x02, 0x03}),
              Replies{"05 00 56 02 00 00 05 AA 40 00 40 03"});
    EXPECT_EQ(sim::unit().flash().address(), P1 + 67);
    EXPECT_EQ(sim::unit().flash().read(P1 + 63, 5), (Bytes{0x5A, 1, 2, 3, 0xFF}));
    // Only the sector erased outside the partition is flagged.
    ASSERT_EQ(sim::unit().flash().violations().size(), 1u);
    EXPECT_EQ(sim::unit().flash().violations()[0].address, 0x01234000u);
    EXPECT_EQ(sim::unit().flash().violations()[0].kind,
              SimFlash::ViolationKind::EraseOutsidePartition);
    EXPECT_EQ(link.exchange(CANMSG_SET_ADDR_MX25, {0, 0, 0, 0x04}), Replies{NACK});
    EXPECT_EQ(sim::unit().flash().address(), P1 + 67);

    EXPECT_EQ(link.exchange(CANMSG_ERASE_MX25, {OP_CHIP_ERASE, 7, 0}),
              (Replies{ERASE_ACK, "05 00 56 02 00 00 05 CE 00 00 00 00"}));
    EXPECT_EQ(sim::unit().flash().allocatedBlocks(), 0u);
}

TEST(SimFlash, ErasesOutsideTheReportedPartitionAreFlagged) {
    SimFlash f;
    struct Case {
        mx25_partition partition;
        bool block; // else a sector
        uint32_t number;
        bool outside;
        uint32_t first; // first offending byte when outside
    };
    const Case cases[] = {
        {partition_1, true, 832, false, 0},
        {partition_1, true, 895, false, 0},
        {partition_1, true, 896, true, P2},
        {partition_1, true, 831, true, P1 - MX25_BLOCK_SIZE},
        {partition_1, false, P1 / MX25_SECTOR_SIZE, false, 0},
        {partition_1, false, P2 / MX25_SECTOR_SIZE - 1, false, 0},
        {partition_1, false, P2 / MX25_SECTOR_SIZE, true, P2},
        {partition_1, false, 0, true, 0},
        {partition_2, true, 896, false, 0},
        {partition_2, true, 832, true, P1},
        {partition_none, true, 832, true, P1},
    };
    for (const Case &c : cases) {
        f.setPartition(c.partition);
        const std::size_t before = f.violations().size();
        ASSERT_TRUE(c.block ? f.eraseBlock(c.number) : f.eraseSector(c.number));
        ASSERT_EQ(f.violations().size() - before, c.outside ? 1u : 0u) << c.number;
        if (c.outside) {
            EXPECT_EQ(f.violations().back().address, c.first) << c.number;
            EXPECT_EQ(f.violations().back().kind, SimFlash::ViolationKind::EraseOutsidePartition);
        }
    }
    // A chip erase takes what the unit runs with it.
    f.setPartition(partition_1);
    f.eraseChip();
    EXPECT_EQ(kinds(f).back(), SimFlash::ViolationKind::EraseOutsidePartition);
    EXPECT_EQ(f.violations().back().address, 0u);
}

TEST(SimFlash, ReportedPartitionOrRefusal) {
    Link link;
    const char *const ACK = "05 00 55 02 00 00 06 87 02 00 00 EF 15";
    const std::pair<mx25_partition, const char *> cases[] = {
        {partition_1, "05 00 56 02 00 00 05 AC B1 B1 B1 B1"},
        {partition_2, "05 00 56 02 00 00 05 AC B2 B2 B2 B2"},
        {partition_debug, "05 00 56 02 00 00 05 AC B3 B3 B3 B3"},
        {partition_unknown, "05 00 56 02 00 00 05 AC FF FF FF FF"},
        {partition_none, "05 00 56 02 00 00 05 AC 00 00 00 00"},
    };
    for (const auto &c : cases) {
        sim::unit().flash().setPartition(c.first);
        EXPECT_EQ(link.exchange(CANMSG_GET_PARTITION, {}), (Replies{ACK, c.second}));
    }
    sim::unit().flash().setPartitionNack(true);
    EXPECT_EQ(link.exchange(CANMSG_GET_PARTITION, {}), (Replies{ACK, "05 00 57 02 00 00 00"}));
}
