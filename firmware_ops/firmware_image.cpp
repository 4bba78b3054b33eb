#include "firmware_image.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "image_file.h"

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

ImageFile read_image_file(const char *path) {
    ImageFile file;
    if (path == nullptr) {
        file.error = EINVAL;
        return file;
    }
    // Without waiting: opening a named pipe would wait for a writer, perhaps for ever.
    const int fd = platform::openForReading(path);
    if (fd < 0 && errno != EISDIR) {
        file.error = errno;
        return file;
    }
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)))) {
        close(fd);
        file.outcome = ImageRead::NotAFile;
        return file;
    }
    // A folder: opened and said by fstat(), or refused by a system that opens none.
    if (fd < 0 || S_ISDIR(info.st_mode)) {
        if (fd >= 0) {
            close(fd);
        }
        file.folder = true;
        file.outcome = ImageRead::ReadError;
        file.error = EISDIR;
        return file;
    }
    file.file_size = static_cast<uint64_t>(info.st_size);
    const uint64_t wanted =
        file.file_size < FW_IMAGE_MAX_BYTES ? file.file_size : FW_IMAGE_MAX_BYTES;
    file.bytes.resize(static_cast<std::size_t>(wanted));
    std::size_t got = 0;
    file.outcome = ImageRead::Whole;
    while (got < file.bytes.size()) {
        const ssize_t n = read(fd, file.bytes.data() + got, file.bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            file.outcome = ImageRead::ReadError;
            file.error = errno;
            break;
        }
        if (n == 0) {
            file.outcome = ImageRead::Shrank;
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    file.bytes.resize(got);
    return file;
}

FirmwareImage read_firmware_image(const char *path) {
    FirmwareImage image;
    ImageCheck &check = image.check;
    ImageFile file = read_image_file(path);
    check.error = file.error;
    check.file_size = file.file_size;
    switch (file.outcome) {
    case ImageRead::CannotOpen:
        check.problem = ImageProblem::CannotOpen;
        return image;
    case ImageRead::NotAFile:
        check.problem = ImageProblem::NotAFile;
        return image;
    case ImageRead::ReadError:
        check.problem = file.folder ? ImageProblem::NotAFile : ImageProblem::ReadFailed;
        return image;
    case ImageRead::Shrank:
        check.problem = ImageProblem::ReadFailed;
        check.file_size = file.bytes.size();
        return image;
    case ImageRead::Whole:
        break;
    }
    image.bytes = std::move(file.bytes);
    if (image.bytes.size() < FW_HEADER_SIZE) {
        check.problem = ImageProblem::HeaderShort;
        return image;
    }
    check.header = decode_firmware_header(image.bytes.data());
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
    return image;
}

ImageCheck check_firmware_image(const char *path) {
    return read_firmware_image(path).check;
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
    case ImageProblem::ReadFailed:
        if (check.error != 0) {
            std::snprintf(text, sizeof(text), "could not be read whole: %s",
                          std::strerror(check.error));
        } else {
            std::snprintf(text, sizeof(text),
                          "changed while it was read: it ended after %llu bytes", size);
        }
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

std::string image_problem_summary(const ImageCheck &check) {
    switch (check.problem) {
    case ImageProblem::HeaderShort:
        return "not a firmware image: the file is shorter than a firmware image header";
    case ImageProblem::PayloadShort:
        return "not a whole firmware image: the file is shorter than its header says";
    case ImageProblem::TooManyBlocks:
        return "too large for the unit: the image needs more flash than a partition has";
    case ImageProblem::DoesNotFit:
        return "not a sound firmware image: the sizes in its header disagree";
    case ImageProblem::None:
    case ImageProblem::CannotOpen:
    case ImageProblem::NotAFile:
    case ImageProblem::ReadFailed:
        break;
    }
    return {};
}

std::string image_version_text(const firmware_header_t &header) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(header.version));
    return text;
}
