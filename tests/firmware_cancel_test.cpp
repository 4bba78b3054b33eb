// Stopping a transfer by its cancel flag, and the check of an image file before anything is sent.
#include <gtest/gtest.h>

#include "capture.h"
#include "firmware_helpers.h"
#include "firmware_image.h"

using namespace fwtest;

namespace {

constexpr uint32_t P1 = FW_PARTITION_1_START_BLOCK * MX25_BLOCK_SIZE;

// Sets the flag once the transfer reports `phase` at `current` or beyond, and notes how many
// requests the unit had taken by then.
struct CancelAt {
    int phase;
    uint32_t current;
    FwCancelFlag flag{false};
    std::size_t requests_at_cancel = 0;
};

void cancelWhenReached(uint32_t current, uint32_t, int phase, void *user) {
    auto *at = static_cast<CancelAt *>(user);
    if (!at->flag && phase == at->phase && current >= at->current) {
        at->flag = true;
        at->requests_at_cancel = sim::unit().received().size();
    }
}

class CancelTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    }
    FwTransferResult send(const std::string &path, CancelAt *at, std::string *out) {
        FwTransferResult result;
        *out = captureStdout([&] {
            result =
                at != nullptr
                    ? send_fw_cancellable(&comms, path.c_str(), cancelWhenReached, at, &at->flag)
                    : send_fw_cancellable(&comms, path.c_str(), nullptr, nullptr, nullptr);
        });
        return result;
    }
    CommsManager comms;
    TempDir dir;
};

} // namespace

TEST_F(CancelTransfer, StopsAfterTheConfirmedWriteAndTheNextUpdateRunsToItsEnd) {
    // Three blocks; 10,000 payload bytes.
    const Bytes image = makeImage({3 * MX25_BLOCK_SIZE, 10000});
    const std::string path = dir.write("image.bin", image);
    struct Case {
        const char *where;
        int phase;
        uint32_t current;
        uint32_t confirmed;
    };
    const Case cases[] = {
        {"during the erase", 0, 1, 0},
        {"in the payload", 1, 64 * 40, 64 * 40},
        {"at the last packet", 1, 10000, 10000}, // nothing left to stop: completed
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.where);
        sim::reset();
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
        CancelAt at{c.phase, c.current};
        std::string out;
        const FwTransferResult r = send(path, &at, &out);
        EXPECT_EQ(r.bytes_confirmed, c.confirmed);
        EXPECT_EQ(r.bytes_total, 10000u);
        EXPECT_TRUE(sim::unit().flash().violations().empty());
        if (c.confirmed == 10000) {
            EXPECT_EQ(r.end, FwTransferEnd::Completed);
            continue;
        }
        EXPECT_EQ(r.end, FwTransferEnd::Cancelled);
        // Not one request after the one whose confirmation the cancel followed.
        EXPECT_EQ(sim::unit().received().size(), at.requests_at_cancel);
        const std::vector<std::string> l = lines(out);
        ASSERT_GE(l.size(), 2u);
        char incomplete[128];
        std::snprintf(incomplete, sizeof(incomplete),
                      "send_fw: Firmware transmission incomplete (%u/10000 bytes sent, %u packets)",
                      c.confirmed, c.confirmed / 64);
        EXPECT_EQ(l.back(), incomplete);
        EXPECT_EQ(l[l.size() - 2].rfind("send_fw: Cancelled", 0), 0u) << l[l.size() - 2];
        // What was confirmed lies in flash as in the file.
        const Bytes written = sim::unit().flash().read(P1, FW_HEADER_SIZE + c.confirmed);
        if (c.phase == 1) {
            EXPECT_EQ(written, Bytes(image.begin(), image.begin() + written.size()));
        }

        // The next update erases again and writes the whole image.
        std::string again;
        const FwTransferResult next = send(path, nullptr, &again);
        EXPECT_EQ(next.end, FwTransferEnd::Completed);
        EXPECT_EQ(sim::unit().flash().read(P1, image.size()), image);
        EXPECT_TRUE(sim::unit().flash().violations().empty());
    }
}

TEST_F(CancelTransfer, AFlagNeverSetSendsWhatSendFwSends) {
    const Bytes image = makeImage({MX25_BLOCK_SIZE, 1000});
    const std::string path = dir.write("image.bin", image);
    const std::string plain =
        captureStdout([&] { EXPECT_TRUE(send_fw(&comms, path.c_str(), nullptr, nullptr)); });
    const auto plain_reports = sim::unit().outputReports();

    sim::reset();
    ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    CancelAt never{9, 0};
    std::string out;
    EXPECT_EQ(send(path, &never, &out).end, FwTransferEnd::Completed);
    EXPECT_EQ(sim::unit().outputReports(), plain_reports);
    EXPECT_EQ(out, plain);
}

TEST(FirmwareImageCheck, RefusesWhatCannotBeWrittenWhole) {
    TempDir dir;
    Bytes short_payload = makeImage({MX25_BLOCK_SIZE, 1000, 236}); // 300 bytes in all
    struct Case {
        const char *name;
        Bytes bytes;
        ImageProblem problem;
        const char *text;
    };
    const Case cases[] = {
        {"good.bin", makeImage({MX25_BLOCK_SIZE, 1000, -1, 20}), ImageProblem::None, ""},
        {"header.bin", Bytes(63, 0xAB), ImageProblem::HeaderShort,
         "holds 63 bytes, fewer than the 64 of a firmware image header"},
        {"short.bin", short_payload, ImageProblem::PayloadShort,
         "holds 300 bytes, but its header announces 1064 (64 header bytes and an encrypted_size "
         "of 1000)"},
        {"large.bin", makeImage({FW_PARTITION_BLOCKS * MX25_BLOCK_SIZE + 1, 10}),
         ImageProblem::TooManyBlocks,
         "its total_size of 4194305 bytes needs 65 blocks of flash, but a partition has only 64"},
        {"overrun.bin", makeImage({MX25_BLOCK_SIZE, MX25_BLOCK_SIZE - 63}),
         ImageProblem::DoesNotFit,
         "its header and payload (65537 bytes) do not fit in the 1 block(s) that its total_size "
         "of 65536 bytes erases"},
        {"zero.bin", makeImage({0, 0}), ImageProblem::DoesNotFit,
         "its header and payload (64 bytes) do not fit in the 0 block(s) that its total_size of "
         "0 bytes erases"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ImageCheck check = check_firmware_image(dir.write(c.name, c.bytes).c_str());
        EXPECT_EQ(check.problem, c.problem);
        EXPECT_EQ(image_problem_text(check), c.text);
    }

    ImageCheck missing = check_firmware_image((dir.path() + "/none.bin").c_str());
    EXPECT_EQ(missing.problem, ImageProblem::CannotOpen);
    EXPECT_EQ(image_problem_text(missing), "cannot be opened: No such file or directory");
    EXPECT_EQ(check_firmware_image(dir.path().c_str()).problem, ImageProblem::NotAFile);

    Bytes versioned = makeImage({MX25_BLOCK_SIZE, 10});
    putLe32(&versioned[4], 0x00010002u);
    const ImageCheck check = check_firmware_image(dir.write("v.bin", versioned).c_str());
    EXPECT_EQ(image_version_text(check.header), "0x00010002");
}
