#include "firmware_image.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "mem_layout.h"
#include "wire.h"

firmware_header_t decode_firmware_header(const uint8_t *raw) {
    using wire::le32;
    firmware_header_t h;
    std::memset(&h, 0, sizeof(h));
    h.magic = le32(raw + offsetof(firmware_header_t, magic));
    h.version = le32(raw + offsetof(firmware_header_t, version));
    h.total_size = le32(raw + offsetof(firmware_header_t, total_size));
    h.plaintext_size = le32(raw + offsetof(firmware_header_t, plaintext_size));
    h.encrypted_size = le32(raw + offsetof(firmware_header_t, encrypted_size));
    h.crc32_plaintext = le32(raw + offsetof(firmware_header_t, crc32_plaintext));
    h.crc32_encrypted = le32(raw + offsetof(firmware_header_t, crc32_encrypted));
    for (int i = 0; i < 4; ++i) {
        h.iv[i] = le32(raw + offsetof(firmware_header_t, iv) + 4 * i);
        h.padding[i] = le32(raw + offsetof(firmware_header_t, padding) + 4 * i);
    }
    h.offset = le32(raw + offsetof(firmware_header_t, offset));
    return h;
}

namespace {

// The bytes the transfer sends: the header and the payload.
uint64_t imageBytes(const firmware_header_t &h) {
    return uint64_t{FW_HEADER_SIZE} + h.encrypted_size;
}

} // namespace

ImageCheck check_firmware_image(const char *path) {
    ImageCheck check;
    if (path == nullptr) {
        check.error = EINVAL;
        return check;
    }
    errno = 0;
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        check.error = errno;
        return check;
    }
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(file);
        check.problem = ImageProblem::NotAFile;
        return check;
    }
    check.file_size = static_cast<uint64_t>(info.st_size);
    uint8_t raw[FW_HEADER_SIZE];
    const std::size_t got = std::fread(raw, 1, sizeof(raw), file);
    std::fclose(file);
    if (got != sizeof(raw)) {
        check.problem = ImageProblem::HeaderShort;
        return check;
    }
    check.header = decode_firmware_header(raw);
    check.blocks_needed = mx25_blocks_needed(check.header.total_size);
    if (check.file_size < imageBytes(check.header)) {
        check.problem = ImageProblem::PayloadShort;
    } else if (check.blocks_needed > FW_PARTITION_BLOCKS) {
        check.problem = ImageProblem::TooManyBlocks;
    } else if (imageBytes(check.header) > uint64_t{check.blocks_needed} * MX25_BLOCK_SIZE) {
        check.problem = ImageProblem::DoesNotFit;
    } else {
        check.problem = ImageProblem::None;
    }
    return check;
}

std::string image_problem_text(const ImageCheck &check) {
    char text[256];
    const auto size = static_cast<unsigned long long>(check.file_size);
    const firmware_header_t &h = check.header;
    switch (check.problem) {
    case ImageProblem::None:
        return {};
    case ImageProblem::CannotOpen:
        std::snprintf(text, sizeof(text), "cannot be opened: %s", std::strerror(check.error));
        break;
    case ImageProblem::NotAFile:
        std::snprintf(text, sizeof(text), "is not a file");
        break;
    case ImageProblem::HeaderShort:
        std::snprintf(text, sizeof(text),
                      "holds %llu bytes, fewer than the %u of a firmware image header", size,
                      static_cast<unsigned>(FW_HEADER_SIZE));
        break;
    case ImageProblem::PayloadShort:
        std::snprintf(text, sizeof(text),
                      "holds %llu bytes, but its header announces %llu (%u header bytes and an "
                      "encrypted_size of %u)",
                      size, static_cast<unsigned long long>(imageBytes(h)),
                      static_cast<unsigned>(FW_HEADER_SIZE),
                      static_cast<unsigned>(h.encrypted_size));
        break;
    case ImageProblem::TooManyBlocks:
        std::snprintf(text, sizeof(text),
                      "its total_size of %u bytes needs %u blocks of flash, but a partition has "
                      "only %u",
                      static_cast<unsigned>(h.total_size),
                      static_cast<unsigned>(check.blocks_needed),
                      static_cast<unsigned>(FW_PARTITION_BLOCKS));
        break;
    case ImageProblem::DoesNotFit:
        std::snprintf(text, sizeof(text),
                      "its header and payload (%llu bytes) do not fit in the %u block(s) that its "
                      "total_size of %u bytes erases",
                      static_cast<unsigned long long>(imageBytes(h)),
                      static_cast<unsigned>(check.blocks_needed),
                      static_cast<unsigned>(h.total_size));
        break;
    }
    return text;
}

std::string image_version_text(const firmware_header_t &header) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(header.version));
    return text;
}
