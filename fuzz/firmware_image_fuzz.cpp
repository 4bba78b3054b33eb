// The firmware image reader: the bytes as an image file, written into the simulated unit.
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "comms.h"
#include "firmware_ops.h"
#include "fuzz_targets.h"
#include "sim_unit.h"

namespace {

// One file for the whole run, written anew for each input.
const std::string &imagePath() {
    static const std::string path = [] {
        char name[] = "/tmp/efis_fuzz_image.XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) {
            fuzzFault("no temporary file for the image");
        }
        close(fd);
        return std::string(name);
    }();
    return path;
}

uint32_t le32At(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

int fuzzFirmwareImage(const uint8_t *data, std::size_t size) {
    std::FILE *file = std::fopen(imagePath().c_str(), "wb");
    if (file == nullptr || (size != 0 && std::fwrite(data, 1, size, file) != size) ||
        std::fclose(file) != 0) {
        fuzzFault("the image file could not be written");
    }
    sim::reset();
    sim::unit().flash().setPartition(partition_1);
    // Blocks of an erased chip cost nothing until written: an image that erases 64 blocks stays
    // cheap enough to try thousands of them.
    sim::unit().flash().eraseChip();
    CommsManager comms;
    if (!comms.establish_connection()) {
        fuzzFault("the simulated unit did not answer");
    }
    const bool done = send_fw(&comms, imagePath().c_str(), nullptr, nullptr);
    if (!done) {
        return 0;
    }
    // Complete: the header and exactly encrypted_size payload bytes are in the partition.
    if (size < FW_HEADER_SIZE) {
        fuzzFault("a transfer of a file shorter than its header was reported complete");
    }
    const std::size_t written =
        FW_HEADER_SIZE + le32At(data + offsetof(firmware_header_t, encrypted_size));
    if (written > size) {
        fuzzFault("a transfer of a file shorter than its payload was reported complete");
    }
    const std::vector<uint8_t> expected(data, data + written);
    if (sim::unit().flash().read(FW_PARTITION_1_START_BLOCK * MX25_BLOCK_SIZE, written) !=
        expected) {
        fuzzFault("the partition does not hold the image as the file has it");
    }
    return 0;
}

EFIS_FUZZ_ENTRY(fuzzFirmwareImage)
