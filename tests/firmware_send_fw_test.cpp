// The firmware transfer against the simulated unit: the phases, the image in
// flash, the size checks, the partition handling and the faults that stop it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "capture.h"
#include "firmware_helpers.h"

using namespace fwtest;

namespace {

constexpr uint32_t P1 = FW_PARTITION_1_START_BLOCK * MX25_BLOCK_SIZE; // 0x03400000
constexpr uint32_t P2 = FW_PARTITION_2_START_BLOCK * MX25_BLOCK_SIZE; // 0x03800000

struct Outcome {
    bool ok = false;
    std::string out;
    std::vector<Progress> progress;
};

class SendFw : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    }

    // Writes the image to a file and sends it, recording lines and progress.
    Outcome send(const Bytes &image, bool with_progress = true) {
        const std::string path = dir.write("image" + std::to_string(++files) + ".bin", image);
        EXPECT_FALSE(path.empty());
        return sendPath(path.c_str(), with_progress);
    }
    Outcome sendPath(const char *path, bool with_progress = true) {
        Outcome o;
        o.out = captureStdout([&] {
            o.ok = send_fw(&comms, path, with_progress ? recordProgress : nullptr, &o.progress);
        });
        return o;
    }
    // Starts the test again with a fresh unit.
    void restart() {
        sim::reset();
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    }

    static std::vector<std::size_t> packetSizes() {
        std::vector<std::size_t> sizes;
        for (const sim::Message &m : requestsWith(CANMSG_WRITE_MX25)) {
            sizes.push_back(m.data.size());
        }
        return sizes;
    }
    static bool flashClean() { return sim::unit().flash().violations().empty(); }

    CommsManager comms;
    TempDir dir;
    int files = 0;
};

} // namespace

TEST_F(SendFw, WholeTransferOfASmallImage) {
    // Two blocks, a payload of 100 bytes and trailing bytes that are no part of it.
    const Bytes image = makeImage({70000, 100, -1, 50});
    const Outcome o = send(image);
    EXPECT_TRUE(o.ok);
    EXPECT_TRUE(flashClean());

    // Every step in order, with the diagnostics of each.
    EXPECT_EQ(o.out,
              "send_fw: Getting current MX25 partition...\n"
              "get_mx25_partition: Sending command - CAN_ID=0x00000287, msg_len=0\n"
              "get_mx25_partition: write() returned 6 bytes\n"
              "get_mx25_partition: Successfully sent get partition command\n"
              "get_mx25_partition: ACK received, get partition command acknowledged\n"
              "get_mx25_partition: Waiting for mx25_ack response...\n"
              "get_mx25_partition: read() returned 12 bytes\n"
              "get_mx25_partition: Response received - CAN_ID=0x00000256, msg_len=5\n"
              "get_mx25_partition: Response data[0-7]: 0xAC 0xB1 0xB1 0xB1 0xB1 \n"
              "get_mx25_partition: op_type=0xAC, extracted partition_value=0xB1B1B1B1\n"
              "get_mx25_partition: Partition retrieved successfully (partition=0xB1B1B1B1, "
              "raw=0xB1B1B1B1)\n"
              "send_fw: Using partition_1 (BANK1), starting at page 832\n"
              "send_fw: Read firmware header (total_size=70000, plaintext_size=1515870782, "
              "encrypted_size=100, offset=0x1234ABCD)\n"
              "send_fw: Firmware size: 70000 bytes, will erase 2 blocks (pages 832 to 833)\n"
              "mx25_erase: Successfully sent erase command (op_type=0xBE, block/sector=832)\n"
              "mx25_erase: ACK received, erase command acknowledged\n"
              "mx25_erase: Erase completed successfully (address=0x03400000)\n"
              "mx25_erase: Successfully sent erase command (op_type=0xBE, block/sector=833)\n"
              "mx25_erase: ACK received, erase command acknowledged\n"
              "mx25_erase: Erase completed successfully (address=0x03410000)\n"
              "send_fw: All blocks erased, setting address and sending firmware header...\n"
              "send_fw: Setting MX25 address to 0x03400000 for header\n"
              "set_mx25_addr: Successfully sent address (0x03400000)\n"
              "set_mx25_addr: Address set successfully (0x03400000)\n"
              "send_fw: Firmware header written successfully (address=0x03400000)\n"
              "send_fw: Encrypted data size: 100 bytes (0x00000064)\n"
              "send_fw: Starting firmware data transmission...\n"
              "send_fw: Firmware transmission completed successfully (100 bytes, 2 packets)\n");

    EXPECT_EQ(requestIds(),
              (std::vector<uint32_t>{CANMSG_GET_PARTITION, CANMSG_ERASE_MX25, CANMSG_ERASE_MX25,
                                     CANMSG_SET_ADDR_MX25, CANMSG_WRITE_MX25, CANMSG_WRITE_MX25,
                                     CANMSG_WRITE_MX25}));
    EXPECT_EQ(requestsWith(CANMSG_SET_ADDR_MX25)[0].data, le32(P1));
    EXPECT_EQ(packetSizes(), (std::vector<std::size_t>{64, 64, 36}));
    EXPECT_EQ(o.progress,
              (std::vector<Progress>{{1, 2, 0}, {2, 2, 0}, {64, 100, 1}, {100, 100, 1}}));

    // The header exactly as in the file, then the payload in file order; the
    // trailing bytes never reached the unit and the rest stays erased.
    EXPECT_EQ(sim::unit().flash().read(P1, 164), Bytes(image.begin(), image.begin() + 164));
    EXPECT_EQ(requestsWith(CANMSG_WRITE_MX25)[0].data, Bytes(image.begin(), image.begin() + 64));
    for (uint32_t a : {P1 + 164, P1 + 214, P1 + 2 * MX25_BLOCK_SIZE - 1}) {
        EXPECT_TRUE(sim::unit().flash().isErased(a)) << std::hex << a;
    }
}

TEST_F(SendFw, PayloadSizes) {
    struct Case {
        uint32_t encrypted_size;
        std::vector<std::size_t> packets; // header included
        std::vector<Progress> uploads;
        const char *completion;
    };
    const std::vector<Case> cases = {
        {0, {64}, {}, "send_fw: Firmware transmission completed successfully (0 bytes, 0 packets)"},
        {100,
         {64, 64, 36},
         {{64, 100, 1}, {100, 100, 1}},
         "send_fw: Firmware transmission completed successfully (100 bytes, 2 packets)"},
        {192,
         {64, 64, 64, 64},
         {{64, 192, 1}, {128, 192, 1}, {192, 192, 1}},
         "send_fw: Firmware transmission completed successfully (192 bytes, 3 packets)"},
        {1,
         {64, 1},
         {{1, 1, 1}},
         "send_fw: Firmware transmission completed successfully (1 bytes, 1 packets)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.encrypted_size);
        restart();
        const Bytes image = makeImage({MX25_BLOCK_SIZE, c.encrypted_size, -1, 64});
        const Outcome o = send(image);
        EXPECT_TRUE(o.ok);
        EXPECT_EQ(packetSizes(), c.packets);
        EXPECT_EQ(ofPhase(o.progress, 1), c.uploads);
        EXPECT_EQ(lines(o.out).back(), c.completion);
        EXPECT_EQ(sim::unit().flash().read(P1, image.size() - 64),
                  Bytes(image.begin(), image.end() - 64));
        EXPECT_TRUE(sim::unit().flash().isErased(P1 + 64 + c.encrypted_size));
        EXPECT_TRUE(flashClean());
    }
}

TEST_F(SendFw, ProgressLineEveryHundredPackets) {
    const Bytes image = makeImage({MX25_BLOCK_SIZE, 12864}); // 201 packets
    Outcome o = send(image, false);
    EXPECT_TRUE(o.ok);
    EXPECT_TRUE(o.progress.empty()); // no callback: the same transfer, no reports
    std::vector<std::string> progress_lines;
    for (const std::string &l : lines(o.out)) {
        if (l.rfind("send_fw: Progress:", 0) == 0) {
            progress_lines.push_back(l);
        }
    }
    EXPECT_EQ(progress_lines, (std::vector<std::string>{
                                  "send_fw: Progress: 6400/12864 bytes (49.8%)",
                                  "send_fw: Progress: 12800/12864 bytes (99.5%)",
                              }));
    EXPECT_EQ(lines(o.out).back(),
              "send_fw: Firmware transmission completed successfully (12864 bytes, 201 packets)");
    EXPECT_EQ(sim::unit().flash().read(P1, image.size()), image);
    EXPECT_TRUE(flashClean());
}

TEST_F(SendFw, BlockCountsAndFit) {
    struct Case {
        const char *name;
        uint32_t total_size;
        uint32_t encrypted_size;
        std::string verdict; // the size line, or the line that refuses the image
        unsigned erases;
    };
    const std::vector<Case> cases = {
        {"whole partition", 4194304u, 0,
         "send_fw: Firmware size: 4194304 bytes, will erase 64 blocks (pages 832 to 895)", 64},
        {"one byte too many", 4194305u, 0,
         "send_fw: Error: Firmware too large for partition (65 blocks needed, but partition "
         "only has 64 blocks)",
         0},
        {"largest total_size", 0xFFFFFFFFu, 0,
         "send_fw: Error: Firmware too large for partition (65536 blocks needed, but partition "
         "only has 64 blocks)",
         0},
        {"one byte takes a block", 1, 0,
         "send_fw: Firmware size: 1 bytes, will erase 1 blocks (pages 832 to 832)", 1},
        {"exactly fills its block", MX25_BLOCK_SIZE, MX25_BLOCK_SIZE - 64,
         "send_fw: Firmware size: 65536 bytes, will erase 1 blocks (pages 832 to 832)", 1},
        {"one byte past its block", MX25_BLOCK_SIZE, MX25_BLOCK_SIZE - 63,
         "send_fw: Error: Image data (65537 bytes) does not fit in the 1 erased blocks", 0},
        {"total_size 0 takes nothing", 0, 0,
         "send_fw: Error: Image data (64 bytes) does not fit in the 0 erased blocks", 0},
        {"no wrap-around", 4194304u, 0xFFFFFFC0u,
         "send_fw: Error: Image data (4294967296 bytes) does not fit in the 64 erased blocks", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        // The payload in the file is kept short: the size checks read the header only.
        const Outcome o = send(makeImage(
            {c.total_size, c.encrypted_size, std::min<long long>(c.encrypted_size, 200), 0}));
        EXPECT_TRUE(hasLine(o.out, c.verdict))
            << o.out.substr(o.out.size() > 600 ? o.out.size() - 600 : 0);
        EXPECT_EQ(requestsWith(CANMSG_ERASE_MX25).size(), c.erases);
        if (c.erases == 0) {
            EXPECT_FALSE(o.ok);
            EXPECT_EQ(lines(o.out).back(), c.verdict);
            EXPECT_EQ(requestIds(), (std::vector<uint32_t>{CANMSG_GET_PARTITION}));
            EXPECT_TRUE(o.progress.empty());
        } else {
            const std::vector<Progress> erased = ofPhase(o.progress, 0);
            ASSERT_EQ(erased.size(), c.erases);
            EXPECT_EQ(erased.back(), (Progress{c.erases, c.erases, 0}));
        }
        EXPECT_TRUE(flashClean());
    }
}

TEST_F(SendFw, FileShorterThanItsHeaderSays) {
    const Bytes image = makeImage({MX25_BLOCK_SIZE, 200, 150, 0});
    const Outcome o = send(image);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(packetSizes(), (std::vector<std::size_t>{64, 64, 64, 22}));
    const std::vector<std::string> l = lines(o.out);
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l[l.size() - 2], "send_fw: Reached end of file");
    EXPECT_EQ(l.back(), "send_fw: Firmware transmission incomplete (150/200 bytes sent, "
                        "3 packets)");
    EXPECT_EQ(o.progress.back(), (Progress{150, 200, 1}));
    EXPECT_EQ(sim::unit().flash().read(P1, image.size()), image);
    EXPECT_TRUE(flashClean());
}

TEST_F(SendFw, FileProblems) {
    const std::string missing = dir.path() + "/missing.bin";
    Outcome o = sendPath(missing.c_str());
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(lines(o.out).back(),
              "send_fw: Failed to open file " + missing + ": " + std::strerror(ENOENT));

    // A directory opens but cannot be read.
    o = sendPath(dir.path().c_str());
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(lines(o.out).back(), "send_fw: Failed to read firmware header from " + dir.path() +
                                       ": " + std::strerror(EISDIR));

#ifndef _WIN32
    // A named pipe would hold the open until a writer comes, and /dev/zero never ends: neither
    // is an image, and nothing is erased for them.
    const std::string fifo = dir.path() + "/pipe.bin";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &path : {fifo, std::string("/dev/zero")}) {
        o = sendPath(path.c_str());
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(lines(o.out).back(),
                  "send_fw: Failed to open file " + path + ": not a regular file");
    }
    std::remove(fifo.c_str());
#endif

    // A header cut short, or an empty file: the end of the file is no error of the system, so
    // the text says how short the file is (not the "Success" of no error).
    const Bytes image = makeImage({MX25_BLOCK_SIZE, 0});
    for (std::size_t size : {std::size_t{63}, std::size_t{0}}) {
        const std::string path =
            dir.write("short.bin", Bytes(image.begin(), image.begin() + static_cast<long>(size)));
        o = sendPath(path.c_str());
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(lines(o.out).back(), "send_fw: Failed to read firmware header from " + path +
                                           ": file ends after " + std::to_string(size) +
                                           " of 64 header bytes");
    }

    o = sendPath(nullptr);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.out, "send_fw: Invalid encrypted file path\n");

    // Nothing beyond the partition queries reached the unit (one for each file that opened and
    // was not a pipe or a device: Windows has neither of those two).
#if defined(_WIN32)
    const std::size_t queries = 4;
#else
    const std::size_t queries = 6;
#endif
    EXPECT_EQ(requestIds(), (std::vector<uint32_t>(queries, CANMSG_GET_PARTITION)));

    CommsManager unconnected;
    o.out = captureStdout([&] { o.ok = send_fw(&unconnected, missing.c_str(), nullptr, nullptr); });
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.out, "send_fw: CommsManager not connected\n");
    EXPECT_TRUE(o.progress.empty());
}

TEST_F(SendFw, Partitions) {
    // The second bank: erased and written from block 896.
    sim::unit().flash().setPartition(partition_2);
    const Bytes image = makeImage({2 * MX25_BLOCK_SIZE, 300});
    Outcome o = send(image);
    EXPECT_TRUE(o.ok);
    EXPECT_TRUE(hasLine(o.out, "send_fw: Using partition_2 (BANK2), starting at page 896"));
    EXPECT_TRUE(hasLine(o.out, "send_fw: Firmware size: 131072 bytes, will erase 2 blocks "
                               "(pages 896 to 897)"));
    EXPECT_TRUE(hasLine(o.out, "send_fw: Setting MX25 address to 0x03800000 for header"));
    EXPECT_EQ(requestsWith(CANMSG_ERASE_MX25)[1].data, (Bytes{0xBE, 0x81, 0x03}));
    EXPECT_EQ(sim::unit().flash().read(P2, image.size()), image);
    EXPECT_TRUE(flashClean());

    // No usable partition: nothing is sent beyond the query, the file is never read.
    struct Case {
        mx25_partition reported;
        bool nack;
    };
    for (const Case &c : {Case{partition_none, false}, Case{partition_debug, false},
                          Case{partition_unknown, false}, Case{partition_1, true}}) {
        SCOPED_TRACE(c.reported);
        restart();
        sim::unit().flash().setPartition(c.reported);
        sim::unit().flash().setPartitionNack(c.nack);
        o = send(image);
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(lines(o.out).back(),
                  "send_fw: Invalid partition (partition_none), cannot proceed");
        EXPECT_EQ(requestIds(), (std::vector<uint32_t>{CANMSG_GET_PARTITION}));
        EXPECT_TRUE(o.progress.empty());
    }
}

TEST_F(SendFw, WrongRepliesStopTheTransfer) {
    struct Case {
        const char *name;
        sim::Fault fault;
        std::vector<std::string> last_lines;
        unsigned writes; // write requests the unit received
    };
    const std::vector<Case> cases = {
        {"erase confirms another block",
         replaceReply(CANMSG_ERASE_MX25, status(OP_BLOCK_ERASE, P1), 1, 1),
         {"mx25_erase: Address mismatch (expected=0x03410000, got=0x03400000)",
          "send_fw: Erase of page 833 failed, stopping"},
         0},
        {"set address echoes OP_SETADDR",
         replaceReply(CANMSG_SET_ADDR_MX25, status(OP_SETADDR, P1), 0),
         {"set_mx25_addr: Op type mismatch (expected=OP_NONE/0x00, got=0xA1)",
          "send_fw: Setting header address failed, stopping"},
         0},
        {"set address reply without address",
         replaceReply(CANMSG_SET_ADDR_MX25, status(OP_NONE, P1, 4), 0),
         {"set_mx25_addr: Address mismatch (expected=0x03400000, got=0xFFFFFFFF)",
          "send_fw: Setting header address failed, stopping"},
         0},
        {"header confirmed as another operation",
         replaceReply(CANMSG_WRITE_MX25, status(OP_NONE, P1), 0, 0),
         {"send_fw: Header write op type mismatch (expected=OP_WRITE/0xAA, got=0x00)"},
         1},
        {"payload packet confirmed as another operation",
         replaceReply(CANMSG_WRITE_MX25, status(OP_READ, P1), 0, 2),
         {"send_fw: Op type mismatch in response (expected=OP_WRITE/0xAA, got=0xDD)",
          "send_fw: Firmware transmission incomplete (64/200 bytes sent, 1 packets)"},
         3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        sim::unit().addFault(c.fault);
        const Outcome o = send(makeImage({2 * MX25_BLOCK_SIZE, 200}));
        EXPECT_FALSE(o.ok);
        const std::vector<std::string> l = lines(o.out);
        ASSERT_GE(l.size(), c.last_lines.size());
        EXPECT_EQ(std::vector<std::string>(l.end() - c.last_lines.size(), l.end()), c.last_lines);
        EXPECT_EQ(requestsWith(CANMSG_WRITE_MX25).size(), c.writes);
        EXPECT_TRUE(flashClean());
    }
}

TEST_F(SendFw, FaultMatrix) {
    // Where the fault strikes: the request identifier and its occurrence, the
    // reply affected, and the transfer's own last line. Three blocks to erase,
    // a payload of five packets; the fifth write request is payload packet 3.
    struct Place {
        const char *name;
        uint32_t can_id;
        unsigned occurrence;
        int reply;
        std::string last_line;
        unsigned erases_reported; // phase 0 reports before the fault
        unsigned writes_sent;     // write requests the unit received, the failing one included
    };
    const std::string no_partition = "send_fw: Invalid partition (partition_none), cannot proceed";
    const std::vector<Place> places = {
        {"partition query, ack", CANMSG_GET_PARTITION, 0, 0, no_partition, 0, 0},
        {"partition query, status", CANMSG_GET_PARTITION, 0, 1, no_partition, 0, 0},
        {"first erase, ack", CANMSG_ERASE_MX25, 0, 0, "send_fw: Erase of page 832 failed, stopping",
         0, 0},
        {"second erase, status", CANMSG_ERASE_MX25, 1, 1,
         "send_fw: Erase of page 833 failed, stopping", 1, 0},
        {"last erase, ack", CANMSG_ERASE_MX25, 2, 0, "send_fw: Erase of page 834 failed, stopping",
         2, 0},
        {"last erase, status", CANMSG_ERASE_MX25, 2, 1,
         "send_fw: Erase of page 834 failed, stopping", 2, 0},
        {"address setting", CANMSG_SET_ADDR_MX25, 0, 0,
         "send_fw: Setting header address failed, stopping", 3, 0},
        {"header", CANMSG_WRITE_MX25, 0, 0, "send_fw: Header write acknowledgment failed", 3, 1},
        {"payload packet 3", CANMSG_WRITE_MX25, 4, 0,
         "send_fw: Firmware transmission incomplete (192/300 bytes sent, 3 packets)", 3, 5},
    };
    const sim::FaultKind kinds[] = {sim::FaultKind::NoReply, sim::FaultKind::LateReply,
                                    sim::FaultKind::Nack, sim::FaultKind::Unplug,
                                    sim::FaultKind::UnplugBeforeWrite};
    const char *const kind_names[] = {"time-out", "late reply", "NACK", "unplug",
                                      "unplug before the request"};
    const Bytes image = makeImage({3 * MX25_BLOCK_SIZE, 300});

    for (const Place &p : places) {
        for (std::size_t k = 0; k < std::size(kinds); ++k) {
            const sim::FaultKind kind = kinds[k];
            const bool before_write = kind == sim::FaultKind::UnplugBeforeWrite;
            if (before_write && p.reply != 0) {
                continue; // the request never goes out: its replies are all one case
            }
            SCOPED_TRACE(std::string(p.name) + ", " + kind_names[k]);
            restart();
            sim::unit().addFault(sim::Fault::on(kind, p.can_id, p.occurrence, p.reply));
            const Outcome o = send(image);
            EXPECT_FALSE(o.ok);
            EXPECT_TRUE(flashClean());
            const std::vector<std::string> l = lines(o.out);
            ASSERT_FALSE(l.empty());
            const bool header = p.can_id == CANMSG_WRITE_MX25 && p.occurrence == 0;
            // A header that never went out has its own line.
            EXPECT_EQ(l.back(), header && before_write ? "send_fw: Failed to send firmware header"
                                                       : p.last_line);

            // No erase was reported past the fault, nothing was written past it.
            EXPECT_EQ(ofPhase(o.progress, 0).size(), p.erases_reported);
            EXPECT_EQ(requestsWith(CANMSG_WRITE_MX25).size(),
                      before_write && p.writes_sent > 0 ? p.writes_sent - 1 : p.writes_sent);

            // The line of the failing step in the payload names the packet.
            if (p.can_id == CANMSG_WRITE_MX25 && p.occurrence > 0) {
                EXPECT_EQ(l[l.size() - 2],
                          before_write ? "send_fw: Failed to send firmware data packet 3"
                                       : "send_fw: MX25 write acknowledgment failed at packet 3");
                EXPECT_EQ(o.progress.back(), (Progress{192, 300, 1}));
            }
        }
    }
}
