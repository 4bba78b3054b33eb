// The flash commands (erase, set address, get partition) against the simulated
// unit, through the real comms manager and USB HID transport.
#include <gtest/gtest.h>

#include "capture.h"
#include "firmware_helpers.h"

using namespace fwtest;

namespace {

class FlashCommands : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    }

    CommsManager comms;
    std::vector<Progress> progress;
};

const char *const ERASE_SENT_832 =
    "mx25_erase: Successfully sent erase command (op_type=0xBE, block/sector=832)\n";
const char *const ERASE_ACKED = "mx25_erase: ACK received, erase command acknowledged\n";

} // namespace

TEST_F(FlashCommands, BlockEraseExchange) {
    // Old contents in the block, so that the erase has something to clear.
    sim::unit().flash().setAddress(0x03400010u);
    const uint8_t old[2] = {0x12, 0x34};
    ASSERT_TRUE(sim::unit().flash().write(old, sizeof(old)));
    ASSERT_FALSE(sim::unit().flash().isErased(0x03400010u));

    bool ok = false;
    const std::string out = captureStdout(
        [&] { ok = mx25_erase(&comms, OP_BLOCK_ERASE, 832, recordProgress, &progress, 4, 9); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, std::string(ERASE_SENT_832) + ERASE_ACKED +
                       "mx25_erase: Erase completed successfully (address=0x03400000)\n");
    EXPECT_EQ(progress, (std::vector<Progress>{{5, 9, 0}}));
    ASSERT_EQ(sim::unit().received().size(), 1u);
    const sim::Message &request = sim::unit().received()[0];
    EXPECT_EQ(request.can_id, static_cast<uint32_t>(CANMSG_ERASE_MX25));
    EXPECT_EQ(request.msg_len, 3);
    EXPECT_EQ(request.data, (Bytes{0xBE, 0x40, 0x03}));
    EXPECT_TRUE(sim::unit().flash().isErased(0x03400010u));
    EXPECT_TRUE(sim::unit().flash().isErased(0x0340FFFFu));
}

TEST_F(FlashCommands, SectorAndChipErase) {
    bool ok = false;
    std::string out = captureStdout(
        [&] { ok = mx25_erase(&comms, OP_SECTOR_ERASE, 0x1234, nullptr, nullptr, 0, 1); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, "mx25_erase: Successfully sent erase command (op_type=0xAE, "
                   "block/sector=4660)\n" +
                       std::string(ERASE_ACKED) +
                       "mx25_erase: Erase completed successfully (address=0x01234000)\n");
    EXPECT_EQ(sim::unit().received().back().data, (Bytes{0xAE, 0x34, 0x12}));

    // A chip erase carries the caller's number and accepts whatever address the
    // unit reports, even none at all.
    for (int msg_len : {5, 1}) {
        SCOPED_TRACE(msg_len);
        sim::unit().onlyFault(
            replaceReply(CANMSG_ERASE_MX25, status(OP_CHIP_ERASE, 0x00ABCDEFu, msg_len), 1));
        out = captureStdout(
            [&] { ok = mx25_erase(&comms, OP_CHIP_ERASE, 7, recordProgress, &progress, 0, 1); });
        EXPECT_TRUE(ok);
        EXPECT_EQ(sim::unit().received().back().data, (Bytes{0xCE, 0x07, 0x00}));
        EXPECT_EQ(lines(out).back(),
                  msg_len == 5 ? "mx25_erase: Erase completed successfully (address=0x00ABCDEF)"
                               : "mx25_erase: Erase completed successfully (address=0xFFFFFFFF)");
    }
    EXPECT_EQ(progress, (std::vector<Progress>{{1, 1, 0}, {1, 1, 0}}));
}

TEST_F(FlashCommands, EraseFailures) {
    struct Case {
        const char *name;
        std::vector<sim::Fault> faults;
        std::string tail; // the lines after the request was sent
    };
    const std::string late_or_silent_ack =
        "No ACK received from device (timeout or no data).\nmx25_erase: ACK validation failed\n";
    const std::string late_or_silent_status =
        ERASE_ACKED + std::string("wait_for_mx25_ack: No response received (timeout or no "
                                  "data).\nmx25_erase: Erase operation failed or timeout\n");
    const std::vector<Case> cases = {
        {"ack times out",
         {sim::Fault::on(sim::FaultKind::NoReply, CANMSG_ERASE_MX25, {}, 0)},
         late_or_silent_ack},
        {"ack late",
         {sim::Fault::on(sim::FaultKind::LateReply, CANMSG_ERASE_MX25, {}, 0)},
         late_or_silent_ack},
        {"ack refused",
         {sim::Fault::on(sim::FaultKind::Nack, CANMSG_ERASE_MX25, {}, 0)},
         "ACK validation failed: can_ID mismatch (expected 0x255, got 0x00000254)\n"
         "mx25_erase: ACK validation failed\n"},
        {"status times out",
         {sim::Fault::on(sim::FaultKind::NoReply, CANMSG_ERASE_MX25, {}, 1)},
         late_or_silent_status},
        {"status late",
         {sim::Fault::on(sim::FaultKind::LateReply, CANMSG_ERASE_MX25, {}, 1)},
         late_or_silent_status},
        {"status refused",
         {sim::Fault::on(sim::FaultKind::Nack, CANMSG_ERASE_MX25, {}, 1)},
         ERASE_ACKED + std::string("wait_for_mx25_ack: Operation failed (CAN ID 0x257)\n"
                                   "mx25_erase: Erase operation failed or timeout\n")},
        {"second plain ack in place of the status",
         {replaceReply(CANMSG_ERASE_MX25, ack(CANMSG_ERASE_MX25), 1)},
         ERASE_ACKED + std::string("wait_for_mx25_ack: Unexpected CAN ID (got=0x00000255, "
                                   "expected=0x256 or 0x257)\n"
                                   "mx25_erase: Erase operation failed or timeout\n")},
        {"acknowledgement of another request",
         {replaceReply(CANMSG_ERASE_MX25, ack(CANMSG_SET_ADDR_MX25), 0)},
         "ACK validation failed: data can_ID mismatch (expected 0x00000416, got 0x00000417)\n"
         "mx25_erase: ACK validation failed\n"},
        {"sector erase reported for a block erase",
         {replaceReply(CANMSG_ERASE_MX25, status(OP_SECTOR_ERASE, 0x03400000u), 1)},
         ERASE_ACKED +
             std::string("mx25_erase: Op type mismatch in response (expected=0xBE, got=0xAE)\n")},
        {"another block's address",
         {replaceReply(CANMSG_ERASE_MX25, status(OP_BLOCK_ERASE, 0x03410000u), 1)},
         ERASE_ACKED + std::string("mx25_erase: Address mismatch (expected=0x03400000, "
                                   "got=0x03410000)\n")},
        {"status of msg_len 4 carries no address",
         {replaceReply(CANMSG_ERASE_MX25, status(OP_BLOCK_ERASE, 0x03400000u, 4), 1)},
         ERASE_ACKED + std::string("mx25_erase: Address mismatch (expected=0x03400000, "
                                   "got=0xFFFFFFFF)\n")},
        {"unplugged after the request",
         {sim::Fault::on(sim::FaultKind::Unplug, CANMSG_ERASE_MX25)},
         "USB HID device disconnected\nError reading ACK from device.\nmx25_erase: ACK validation "
         "failed\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
        for (const sim::Fault &f : c.faults) {
            sim::unit().addFault(f);
        }
        progress.clear();
        bool ok = true;
        const std::string out = captureStdout(
            [&] { ok = mx25_erase(&comms, OP_BLOCK_ERASE, 832, recordProgress, &progress, 0, 1); });
        EXPECT_FALSE(ok);
        EXPECT_EQ(out, ERASE_SENT_832 + c.tail);
        EXPECT_TRUE(progress.empty());
    }
}

TEST_F(FlashCommands, EraseNotSent) {
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::UnplugBeforeWrite, CANMSG_ERASE_MX25));
    bool ok = true;
    std::string out = captureStdout(
        [&] { ok = mx25_erase(&comms, OP_BLOCK_ERASE, 832, recordProgress, &progress, 0, 1); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "USB HID device disconnected\nmx25_erase: Failed to send erase command\n");

    CommsManager unconnected;
    out = captureStdout([&] {
        ok = mx25_erase(&unconnected, OP_BLOCK_ERASE, 832, recordProgress, &progress, 0, 1);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "mx25_erase: CommsManager not connected\n");
    out =
        captureStdout([&] { ok = mx25_erase(nullptr, OP_BLOCK_ERASE, 1, nullptr, nullptr, 0, 1); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "mx25_erase: CommsManager not connected\n");
    EXPECT_TRUE(progress.empty());
}

TEST_F(FlashCommands, SetAddress) {
    bool ok = false;
    std::string out = captureStdout([&] { ok = set_mx25_addr(&comms, 0x03800000u); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, "set_mx25_addr: Successfully sent address (0x03800000)\n"
                   "set_mx25_addr: Address set successfully (0x03800000)\n");
    ASSERT_EQ(sim::unit().received().size(), 1u);
    EXPECT_EQ(sim::unit().received()[0].can_id, static_cast<uint32_t>(CANMSG_SET_ADDR_MX25));
    EXPECT_EQ(sim::unit().received()[0].data, (Bytes{0x00, 0x00, 0x80, 0x03}));
    EXPECT_EQ(sim::unit().flash().address(), 0x03800000u);

    struct Case {
        const char *name;
        uint32_t address;
        std::vector<sim::Fault> faults;
        std::string tail;
    };
    const std::string no_status = "wait_for_mx25_ack: No response received (timeout or no "
                                  "data).\nset_mx25_addr: Failed to receive acknowledgment or "
                                  "operation failed\n";
    const std::vector<Case> cases = {
        {"OP_SETADDR echoed",
         0x03400000u,
         {replaceReply(CANMSG_SET_ADDR_MX25, status(OP_SETADDR, 0x03400000u), 0)},
         "set_mx25_addr: Op type mismatch (expected=OP_NONE/0x00, got=0xA1)\n"},
        {"another address",
         0x03400000u,
         {replaceReply(CANMSG_SET_ADDR_MX25, status(OP_NONE, 0x03400040u), 0)},
         "set_mx25_addr: Address mismatch (expected=0x03400000, got=0x03400040)\n"},
        {"status of msg_len 4 carries no address",
         0x03400000u,
         {replaceReply(CANMSG_SET_ADDR_MX25, status(OP_NONE, 0x03400000u, 4), 0)},
         "set_mx25_addr: Address mismatch (expected=0x03400000, got=0xFFFFFFFF)\n"},
        {"no address where 0xFFFFFFFF is expected",
         0xFFFFFFFFu,
         {replaceReply(CANMSG_SET_ADDR_MX25, status(OP_NONE, 0xFFFFFFFFu, 4), 0)},
         "set_mx25_addr: Address mismatch (expected=0xFFFFFFFF, got=0x00000000)\n"},
        {"empty status reads as OP_NONE but has no address",
         0x00000000u,
         {replaceReply(CANMSG_SET_ADDR_MX25, simMessage(CANMSG_MX25_ACK, {}), 0)},
         "set_mx25_addr: Address mismatch (expected=0x00000000, got=0xFFFFFFFF)\n"},
        {"status times out",
         0x03400000u,
         {sim::Fault::on(sim::FaultKind::NoReply, CANMSG_SET_ADDR_MX25)},
         no_status},
        {"status late",
         0x03400000u,
         {sim::Fault::on(sim::FaultKind::LateReply, CANMSG_SET_ADDR_MX25)},
         no_status},
        {"refused",
         0x03400000u,
         {sim::Fault::on(sim::FaultKind::Nack, CANMSG_SET_ADDR_MX25)},
         "wait_for_mx25_ack: Operation failed (CAN ID 0x257)\nset_mx25_addr: Failed to receive "
         "acknowledgment or operation failed\n"},
        {"plain ack in place of the status",
         0x03400000u,
         {replaceReply(CANMSG_SET_ADDR_MX25, ack(CANMSG_SET_ADDR_MX25), 0)},
         "wait_for_mx25_ack: Unexpected CAN ID (got=0x00000255, expected=0x256 or 0x257)\n"
         "set_mx25_addr: Failed to receive acknowledgment or operation failed\n"},
        {"unplugged after the request",
         0x03400000u,
         {sim::Fault::on(sim::FaultKind::Unplug, CANMSG_SET_ADDR_MX25)},
         "USB HID device disconnected\nwait_for_mx25_ack: Error reading response from "
         "device.\nset_mx25_addr: Failed to "
         "receive acknowledgment or operation failed\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
        for (const sim::Fault &f : c.faults) {
            sim::unit().addFault(f);
        }
        char sent[80];
        std::snprintf(sent, sizeof(sent), "set_mx25_addr: Successfully sent address (0x%08X)\n",
                      static_cast<unsigned>(c.address));
        ok = true;
        out = captureStdout([&] { ok = set_mx25_addr(&comms, c.address); });
        EXPECT_FALSE(ok);
        EXPECT_EQ(out, sent + c.tail);
    }

    sim::reset();
    ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::UnplugBeforeWrite, CANMSG_SET_ADDR_MX25));
    out = captureStdout([&] { ok = set_mx25_addr(&comms, 0x03400000u); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "USB HID device disconnected\nset_mx25_addr: Failed to send address\n");
    out = captureStdout([&] { ok = set_mx25_addr(nullptr, 0x03400000u); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "set_mx25_addr: CommsManager not connected\n");
}

namespace {

const char *const PARTITION_SENT =
    "get_mx25_partition: Sending command - CAN_ID=0x00000287, msg_len=0\n"
    "get_mx25_partition: write() returned 6 bytes\n"
    "get_mx25_partition: Successfully sent get partition command\n";
const char *const PARTITION_ACKED =
    "get_mx25_partition: ACK received, get partition command acknowledged\n"
    "get_mx25_partition: Waiting for mx25_ack response...\n";

} // namespace

TEST_F(FlashCommands, PartitionReports) {
    struct Case {
        mx25_partition reported;
        mx25_partition result;
        std::string verdict;
    };
    const std::vector<Case> cases = {
        {partition_1, partition_1,
         "get_mx25_partition: Partition retrieved successfully (partition=0xB1B1B1B1, "
         "raw=0xB1B1B1B1)\n"},
        {partition_2, partition_2,
         "get_mx25_partition: Partition retrieved successfully (partition=0xB2B2B2B2, "
         "raw=0xB2B2B2B2)\n"},
        {partition_none, partition_none,
         "get_mx25_partition: Partition retrieved successfully (partition=0x00, "
         "raw=0x00000000)\n"},
        {partition_debug, partition_none,
         "get_mx25_partition: Invalid partition value received (raw=0xB3B3B3B3)\n"},
        {partition_unknown, partition_none,
         "get_mx25_partition: Invalid partition value received (raw=0xFFFFFFFF)\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reported);
        sim::reset();
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
        sim::unit().flash().setPartition(c.reported);
        mx25_partition result = partition_unknown;
        const std::string out = captureStdout([&] { result = get_mx25_partition(&comms); });
        EXPECT_EQ(result, c.result);
        const Bytes v = le32(static_cast<uint32_t>(c.reported));
        char data_line[160];
        std::snprintf(data_line, sizeof(data_line),
                      "get_mx25_partition: Response data[0-7]: 0x%02X 0x%02X 0x%02X 0x%02X "
                      "0x%02X \n",
                      static_cast<unsigned>(OP_GETPART), v[0], v[1], v[2], v[3]);
        char value_line[120];
        std::snprintf(value_line, sizeof(value_line),
                      "get_mx25_partition: op_type=0x%02X, extracted partition_value=0x%08X\n",
                      static_cast<unsigned>(OP_GETPART), static_cast<unsigned>(c.reported));
        EXPECT_EQ(out, PARTITION_SENT + std::string(PARTITION_ACKED) +
                           "get_mx25_partition: read() returned 12 bytes\n"
                           "get_mx25_partition: Response received - CAN_ID=0x00000256, "
                           "msg_len=5\n" +
                           data_line + value_line + c.verdict);
        ASSERT_EQ(sim::unit().received().size(), 1u);
        EXPECT_EQ(sim::unit().received()[0].can_id, static_cast<uint32_t>(CANMSG_GET_PARTITION));
        EXPECT_EQ(sim::unit().received()[0].msg_len, 0);
    }
}

TEST_F(FlashCommands, PartitionReplyShapes) {
    // The op type is logged, never compared; a short reply's missing bytes read
    // as 0, which is partition_none; a long one shows at most 8 data bytes.
    struct Case {
        const char *name;
        sim::Message reply;
        std::string shown; // from the "Response received" line on
        mx25_partition result;
    };
    const std::vector<Case> cases = {
        {"any op type", simMessage(CANMSG_MX25_ACK, {0x5C, 0xB2, 0xB2, 0xB2, 0xB2}),
         "get_mx25_partition: Response received - CAN_ID=0x00000256, msg_len=5\n"
         "get_mx25_partition: Response data[0-7]: 0x5C 0xB2 0xB2 0xB2 0xB2 \n"
         "get_mx25_partition: op_type=0x5C, extracted partition_value=0xB2B2B2B2\n"
         "get_mx25_partition: Partition retrieved successfully (partition=0xB2B2B2B2, "
         "raw=0xB2B2B2B2)\n",
         partition_2},
        {"op byte alone", simMessage(CANMSG_MX25_ACK, {0xAC}),
         "get_mx25_partition: Response received - CAN_ID=0x00000256, msg_len=1\n"
         "get_mx25_partition: Response data[0-7]: 0xAC \n"
         "get_mx25_partition: op_type=0xAC, extracted partition_value=0x00000000\n"
         "get_mx25_partition: Partition retrieved successfully (partition=0x00, "
         "raw=0x00000000)\n",
         partition_none},
        {"ten data bytes",
         simMessage(CANMSG_MX25_ACK, {0xAC, 0xB1, 0xB1, 0xB1, 0xB1, 1, 2, 3, 4, 5}),
         "get_mx25_partition: Response received - CAN_ID=0x00000256, msg_len=10\n"
         "get_mx25_partition: Response data[0-7]: 0xAC 0xB1 0xB1 0xB1 0xB1 0x01 0x02 0x03 \n"
         "get_mx25_partition: op_type=0xAC, extracted partition_value=0xB1B1B1B1\n"
         "get_mx25_partition: Partition retrieved successfully (partition=0xB1B1B1B1, "
         "raw=0xB1B1B1B1)\n",
         partition_1},
        {"refused", simMessage(CANMSG_MX25_NACK, {}),
         "get_mx25_partition: Response received - CAN_ID=0x00000257, msg_len=0\n"
         "get_mx25_partition: Response data[0-7]: \n"
         "get_mx25_partition: Operation failed (CAN ID 0x257)\n",
         partition_none},
        {"second plain ack", ack(CANMSG_GET_PARTITION),
         "get_mx25_partition: Response received - CAN_ID=0x00000255, msg_len=6\n"
         "get_mx25_partition: Response data[0-7]: 0x87 0x02 0x00 0x00 0xEF 0x15 \n"
         "get_mx25_partition: Unexpected CAN ID (got=0x00000255, expected=0x256 or 0x257)\n",
         partition_none},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
        sim::unit().addFault(replaceReply(CANMSG_GET_PARTITION, c.reply, 1));
        mx25_partition result = partition_unknown;
        const std::string out = captureStdout([&] { result = get_mx25_partition(&comms); });
        EXPECT_EQ(result, c.result);
        char read_line[80];
        std::snprintf(read_line, sizeof(read_line),
                      "get_mx25_partition: read() returned %zu bytes\n", 7 + c.reply.data.size());
        EXPECT_EQ(out, PARTITION_SENT + std::string(PARTITION_ACKED) + read_line + c.shown);
    }
}

TEST_F(FlashCommands, PartitionFailures) {
    struct Case {
        const char *name;
        std::vector<sim::Fault> faults;
        bool nack_setting;
        std::string tail; // after the request was sent
    };
    const std::string ack_silent = "No ACK received from device (timeout or no data).\n"
                                   "get_mx25_partition: ACK validation failed\n";
    const std::string status_silent =
        PARTITION_ACKED + std::string("get_mx25_partition: read() returned 0 bytes\n"
                                      "get_mx25_partition: No response received "
                                      "(timeout or no data).\n");
    const std::vector<Case> cases = {
        {"ack times out",
         {sim::Fault::on(sim::FaultKind::NoReply, CANMSG_GET_PARTITION, {}, 0)},
         false,
         ack_silent},
        {"ack late",
         {sim::Fault::on(sim::FaultKind::LateReply, CANMSG_GET_PARTITION, {}, 0)},
         false,
         ack_silent},
        {"ack refused",
         {sim::Fault::on(sim::FaultKind::Nack, CANMSG_GET_PARTITION, {}, 0)},
         false,
         "ACK validation failed: can_ID mismatch (expected 0x255, got 0x00000254)\n"
         "get_mx25_partition: ACK validation failed\n"},
        {"status times out",
         {sim::Fault::on(sim::FaultKind::NoReply, CANMSG_GET_PARTITION, {}, 1)},
         false,
         status_silent},
        {"status late",
         {sim::Fault::on(sim::FaultKind::LateReply, CANMSG_GET_PARTITION, {}, 1)},
         false,
         status_silent},
        {"unit refuses to name a partition",
         {},
         true,
         PARTITION_ACKED + std::string("get_mx25_partition: read() returned 7 bytes\n"
                                       "get_mx25_partition: Response received - "
                                       "CAN_ID=0x00000257, msg_len=0\n"
                                       "get_mx25_partition: Response data[0-7]: \n"
                                       "get_mx25_partition: Operation failed (CAN ID 0x257)\n")},
        {"unplugged after the request",
         {sim::Fault::on(sim::FaultKind::Unplug, CANMSG_GET_PARTITION)},
         false,
         "USB HID device disconnected\nError reading ACK from device.\nget_mx25_partition: ACK "
         "validation failed\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
        for (const sim::Fault &f : c.faults) {
            sim::unit().addFault(f);
        }
        sim::unit().flash().setPartitionNack(c.nack_setting);
        mx25_partition result = partition_unknown;
        const std::string out = captureStdout([&] { result = get_mx25_partition(&comms); });
        EXPECT_EQ(result, partition_none);
        EXPECT_EQ(out, PARTITION_SENT + c.tail);
    }

    // A request that cannot be sent, and no unit at all.
    sim::reset();
    ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::UnplugBeforeWrite, CANMSG_GET_PARTITION));
    mx25_partition result = partition_unknown;
    std::string out = captureStdout([&] { result = get_mx25_partition(&comms); });
    EXPECT_EQ(result, partition_none);
    EXPECT_EQ(out, "get_mx25_partition: Sending command - CAN_ID=0x00000287, msg_len=0\n"
                   "USB HID device disconnected\n"
                   "get_mx25_partition: write() returned -1 bytes\n"
                   "get_mx25_partition: Failed to send get partition command "
                   "(bytes_written=-1)\n");
    CommsManager unconnected;
    out = captureStdout([&] { result = get_mx25_partition(&unconnected); });
    EXPECT_EQ(result, partition_none);
    EXPECT_EQ(out, "get_mx25_partition: CommsManager not connected\n");
}

// A write that transfers nothing (hid_write returns 0) fails the erase and the set-address,
// while the get-partition request counts it as sent and goes on to wait for the acknowledgement
// that cannot come.
TEST_F(FlashCommands, AWriteOfNothingFailsAllButTheGetPartition) {
    const auto nothing = [](uint32_t can_id) {
        sim::unit().onlyFault(sim::Fault::on(sim::FaultKind::WriteNothing, can_id));
    };

    nothing(CANMSG_ERASE_MX25);
    bool done = true;
    std::string out = captureStdout(
        [&] { done = mx25_erase(&comms, OP_BLOCK_ERASE, 832, nullptr, nullptr, 0, 1); });
    EXPECT_FALSE(done);
    EXPECT_EQ(out, "mx25_erase: Failed to send erase command\n");

    nothing(CANMSG_SET_ADDR_MX25);
    done = true;
    out = captureStdout([&] { done = set_mx25_addr(&comms, 0x03400000u); });
    EXPECT_FALSE(done);
    EXPECT_EQ(out, "set_mx25_addr: Failed to send address\n");

    nothing(CANMSG_GET_PARTITION);
    mx25_partition result = partition_unknown;
    out = captureStdout([&] { result = get_mx25_partition(&comms); });
    EXPECT_EQ(result, partition_none);
    EXPECT_EQ(out, "get_mx25_partition: Sending command - CAN_ID=0x00000287, msg_len=0\n"
                   "get_mx25_partition: write() returned 0 bytes\n"
                   "get_mx25_partition: Successfully sent get partition command\n"
                   "No ACK received from device (timeout or no data).\n"
                   "get_mx25_partition: ACK validation failed\n");

    EXPECT_TRUE(sim::unit().received().empty());
}
