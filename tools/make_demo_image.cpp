// Makes a small firmware image for the demo: a 64-byte header followed by a
// payload of pseudo-random bytes (standing in for the enciphered firmware).
//   make_demo_image OUTPUT [PAYLOAD_BYTES]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "firmware.h"
#include "mem_layout.h"

namespace {

constexpr unsigned long DEFAULT_PAYLOAD = 160u * 1024u;
const char *const USAGE = "usage: %s OUTPUT [PAYLOAD_BYTES]\n"
                          "  writes a demo firmware image: a 64-byte header, then PAYLOAD_BYTES\n"
                          "  (%lu by default) of pseudo-random payload\n";

} // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(USAGE, argv[0], DEFAULT_PAYLOAD);
            return 0;
        }
        // An option is never taken for the name of the image to write.
        if (argv[i][0] == '-') {
            std::fprintf(stderr, "%s: unknown option \"%s\"\n", argv[0], argv[i]);
            std::fprintf(stderr, USAGE, argv[0], DEFAULT_PAYLOAD);
            return 2;
        }
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, USAGE, argv[0], DEFAULT_PAYLOAD);
        return 2;
    }
    unsigned long payload = DEFAULT_PAYLOAD;
    if (argc == 3) {
        char *end = nullptr;
        payload = std::strtoul(argv[2], &end, 10);
        if (end == argv[2] || *end != '\0' ||
            payload > FW_PARTITION_BLOCKS * MX25_BLOCK_SIZE - FW_HEADER_SIZE) {
            std::fprintf(stderr, "%s: payload must be 0 to %u bytes\n", argv[0],
                         FW_PARTITION_BLOCKS * MX25_BLOCK_SIZE - FW_HEADER_SIZE);
            return 2;
        }
    }

    firmware_header_t header;
    std::memset(&header, 0, sizeof(header));
    header.magic = 0x57464D45u; // "EMFW" in memory order
    header.version = 0x00010002u;
    header.total_size = static_cast<uint32_t>(FW_HEADER_SIZE + payload);
    header.plaintext_size = static_cast<uint32_t>(payload);
    header.encrypted_size = static_cast<uint32_t>(payload);
    header.offset = FW_HEADER_SIZE;
    uint32_t state = 0x2545F491u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (uint32_t &w : header.iv) {
        w = next();
    }

    std::FILE *out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", argv[0], argv[1], std::strerror(errno));
        return 1;
    }
    bool ok = std::fwrite(&header, sizeof(header), 1, out) == 1;
    for (unsigned long i = 0; ok && i < payload; ++i) {
        ok = std::fputc(static_cast<int>(next() & 0xFFu), out) != EOF;
    }
    if (std::fclose(out) != 0 || !ok) {
        std::fprintf(stderr, "%s: writing %s failed\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
