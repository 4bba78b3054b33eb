// The image sent is the image checked: the file is read once, whole, and a file rewritten or cut
// short while the transfer runs changes nothing that reaches the unit.
#include <gtest/gtest.h>

#include <unistd.h>

#include "capture.h"
#include "firmware_helpers.h"
#include "firmware_image.h"

using namespace fwtest;

namespace {

constexpr uint32_t P1 = FW_PARTITION_1_START_BLOCK * MX25_BLOCK_SIZE;

// What happens to the file once the unit has erased its first block.
struct Meddle {
    std::string path;
    bool truncate = false; // else: rewritten with another image of the same size
    Bytes other;
    bool done = false;
};

void meddleAfterFirstErase(uint32_t, uint32_t, int phase, void *user) {
    auto *m = static_cast<Meddle *>(user);
    if (m->done || phase != 0) {
        return;
    }
    m->done = true;
    if (m->truncate) {
        ASSERT_EQ(::truncate(m->path.c_str(), 70), 0);
        return;
    }
    std::FILE *f = std::fopen(m->path.c_str(), "r+b"); // in place, as a rebuild writes it
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(m->other.data(), 1, m->other.size(), f), m->other.size());
    std::fclose(f);
}

class ImageOnce : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        sim::unit().flash().setPartition(partition_1);
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    }
    CommsManager comms;
    TempDir dir;
};

} // namespace

TEST_F(ImageOnce, AFileRewrittenOrCutShortDuringTheTransferChangesNothingSent) {
    const Bytes image = makeImage({2 * MX25_BLOCK_SIZE, 5000});
    Bytes other = makeImage({2 * MX25_BLOCK_SIZE, 5000});
    for (std::size_t i = FW_HEADER_SIZE; i < other.size(); ++i) {
        other[i] = static_cast<uint8_t>(~other[i]);
    }
    other[0] ^= 0xFF;
    for (const bool checked_first : {false, true}) {
        for (const bool truncate : {false, true}) {
            SCOPED_TRACE(std::string(checked_first ? "image read and checked first" : "by path") +
                         (truncate ? ", cut short" : ", rewritten"));
            sim::reset();
            sim::unit().flash().setPartition(partition_1);
            ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
            Meddle meddle;
            meddle.path = dir.write(truncate ? "cut.bin" : "rewritten.bin", image);
            meddle.truncate = truncate;
            meddle.other = other;
            FwTransferResult result;
            const std::string out = captureStdout([&] {
                if (checked_first) {
                    const FirmwareImage read = read_firmware_image(meddle.path.c_str());
                    ASSERT_TRUE(read.check.ok());
                    result = send_fw_image(&comms, read, meddleAfterFirstErase, &meddle, nullptr);
                } else {
                    result = send_fw_cancellable(&comms, meddle.path.c_str(), meddleAfterFirstErase,
                                                 &meddle, nullptr);
                }
            });
            ASSERT_TRUE(meddle.done);
            EXPECT_EQ(result.end, FwTransferEnd::Completed) << out;
            EXPECT_EQ(sim::unit().flash().read(P1, image.size()), image);
            EXPECT_TRUE(hasLine(out, "send_fw: Firmware transmission completed successfully "
                                     "(5000 bytes, 79 packets)"))
                << out;
        }
    }
}

TEST_F(ImageOnce, AnImageThatFailedItsCheckIsNeverSent) {
    const std::string path = dir.write("short.bin", makeImage({MX25_BLOCK_SIZE, 1000, 236}));
    const FirmwareImage read = read_firmware_image(path.c_str());
    ASSERT_EQ(read.check.problem, ImageProblem::PayloadShort);
    const std::size_t before = sim::unit().received().size();
    FwTransferResult result;
    const std::string out =
        captureStdout([&] { result = send_fw_image(&comms, read, nullptr, nullptr, nullptr); });
    EXPECT_EQ(result.end, FwTransferEnd::Failed);
    EXPECT_EQ(out, "send_fw: The image did not pass its check, nothing is sent\n");
    EXPECT_EQ(sim::unit().received().size(), before);

    // Bytes beyond what a partition takes are never read: the check works on what was read.
    Bytes large = makeImage({MX25_BLOCK_SIZE, 100, -1, 0});
    large.resize(FW_IMAGE_MAX_BYTES + 4096, 0xEE);
    const FirmwareImage big = read_firmware_image(dir.write("large.bin", large).c_str());
    EXPECT_TRUE(big.check.ok());
    EXPECT_EQ(big.check.file_size, FW_IMAGE_MAX_BYTES + 4096);
    EXPECT_EQ(big.bytes.size(), FW_IMAGE_MAX_BYTES);
}
