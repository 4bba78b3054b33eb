#ifndef FIRMWARE_IMAGE_H
#define FIRMWARE_IMAGE_H

// The firmware image file as it is, checked before anything is sent to the unit: a file that
// cannot be written whole is refused while the unit's flash is still untouched. The window and
// efis-cli both run this check and word its outcome.

#include <cstdint>
#include <string>

#include "firmware.h"

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
    DoesNotFit     // header and payload overrun the blocks that total_size erases
};

struct ImageCheck {
    ImageProblem problem = ImageProblem::CannotOpen;
    int error = 0;              // errno of a failed open
    uint64_t file_size = 0;     // bytes in the file
    firmware_header_t header{}; // valid unless the file could not be read
    uint32_t blocks_needed = 0; // blocks the image erases
    bool ok() const { return problem == ImageProblem::None; }
};

// Opens the file, reads its header and checks that the payload is all there and that the image
// fits its partition. Reads nothing but the header.
ImageCheck check_firmware_image(const char *path);

// Why the check refused the file, as a phrase that follows the file's name ("holds 300 bytes,
// but its header announces 1064 ..."); empty for a file that passed.
std::string image_problem_text(const ImageCheck &check);

// The header's version word as the tool shows it: hexadecimal, not interpreted ("0x00010002").
std::string image_version_text(const firmware_header_t &header);

#endif // FIRMWARE_IMAGE_H
