#ifndef FIRMWARE_IMAGE_H
#define FIRMWARE_IMAGE_H

// The firmware image file as it is, checked before anything is sent to the unit: a file that
// cannot be written whole is refused while the unit's flash is still untouched. The window and
// efis-cli both run this check and word its outcome.

#include <cstdint>
#include <string>
#include <vector>

#include "firmware.h"
#include "mem_layout.h"

// The most an image file is read for: its header and payload fill at most a partition's blocks,
// and bytes beyond them are never sent.
constexpr uint64_t FW_IMAGE_MAX_BYTES = uint64_t{FW_PARTITION_BLOCKS} * MX25_BLOCK_SIZE;

// One read of an image file, whole: every later step works on these bytes and never on the file,
// which may be rewritten or cut short meanwhile (a rebuild, a copy over it).
enum class ImageRead {
    Whole,      // `bytes` holds the file's first min(file_size, FW_IMAGE_MAX_BYTES) bytes
    CannotOpen, // `error` says why
    NotAFile,   // a device or a pipe; a folder reads as ReadError with EISDIR
    ReadError,  // `error` says why; `bytes` holds what was read before it
    Shrank      // the file ended before the size it had when opened: it changed while read
};

struct ImageFile {
    ImageRead outcome = ImageRead::CannotOpen;
    int error = 0;
    uint64_t file_size = 0; // as the file system gave it when the file was opened
    bool folder = false;
    std::vector<uint8_t> bytes;
};

ImageFile read_image_file(const char *path);

// The header fields, decoded from the 64 bytes as they lie in the file (little-endian words),
// whatever the byte order of this machine.
firmware_header_t decode_firmware_header(const uint8_t *raw);

enum class ImageProblem {
    None,
    CannotOpen,    // `error` holds the reason
    NotAFile,      // a folder, a device or a pipe
    HeaderShort,   // fewer than 64 bytes
    PayloadShort,  // fewer than 64 + encrypted_size bytes
    TooManyBlocks, // total_size needs more blocks than a partition has
    DoesNotFit,    // header and payload overrun the blocks that total_size erases
    ReadFailed     // the file could not be read whole, or changed while it was read
};

struct ImageCheck {
    ImageProblem problem = ImageProblem::CannotOpen;
    int error = 0;              // errno of a failed open or read
    uint64_t file_size = 0;     // bytes in the file
    firmware_header_t header{}; // valid unless the file could not be read
    uint32_t blocks_needed = 0; // blocks the image erases
    bool ok() const { return problem == ImageProblem::None; }
};

// An image file read once, whole, and checked: the transfer sends these bytes, so what was
// checked is what the unit gets.
struct FirmwareImage {
    ImageCheck check;
    std::vector<uint8_t> bytes; // the header and payload (and any bytes after them, unsent)
};

// Reads the file once, whole, and checks that the payload is all there and that the image fits
// its partition.
FirmwareImage read_firmware_image(const char *path);
// The same check, for a caller that only wants to know.
ImageCheck check_firmware_image(const char *path);

// Why the check refused the file, as a phrase that follows the file's name ("holds 300 bytes,
// but its header announces 1064 ..."); empty for a file that passed.
std::string image_problem_text(const ImageCheck &check);

// What is wrong with an image that was read but refused, in plain words, before the numbers
// ("not a whole firmware image: the file is shorter than its header says"); empty for a file that
// passed, and for one that could not be read, whose problem_text is already plain.
std::string image_problem_summary(const ImageCheck &check);

// The header's version word as the tool shows it: hexadecimal, not interpreted ("0x00010002").
std::string image_version_text(const firmware_header_t &header);

#endif // FIRMWARE_IMAGE_H
