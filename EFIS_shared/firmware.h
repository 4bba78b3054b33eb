/*
 * The firmware image file format and the flash operation codes. The image is a
 * 64-byte header followed by an enciphered payload, copied into flash unchanged;
 * this tool interprets only the sizes.
 */
#ifndef EFIS_FIRMWARE_H
#define EFIS_FIRMWARE_H

#include <stdint.h>

#include "efis_types.h"

typedef struct {
    uint32_t magic;           /* image identification word */
    uint32_t version;         /* image version */
    uint32_t total_size;      /* bytes the image occupies in its partition: the erase extent */
    uint32_t plaintext_size;  /* firmware size before enciphering */
    uint32_t encrypted_size;  /* payload bytes following the header in the file */
    uint32_t crc32_plaintext; /* checked by the unit, not here */
    uint32_t crc32_encrypted;
    uint32_t iv[4];      /* initialisation vector of the payload's cipher */
    uint32_t offset;     /* recorded by the image builder; not used to find the payload */
    uint32_t padding[4]; /* reserved */
} firmware_header_t;

EFIS_STATIC_ASSERT(sizeof(firmware_header_t) == 64, "firmware_header_t is 64 bytes");
EFIS_STATIC_ASSERT(offsetof(firmware_header_t, magic) == 0, "magic offset");
EFIS_STATIC_ASSERT(offsetof(firmware_header_t, version) == 4, "version offset");
EFIS_STATIC_ASSERT(offsetof(firmware_header_t, total_size) == 8, "total_size offset");
EFIS_STATIC_ASSERT(offsetof(firmware_header_t, plaintext_size) == 12, "plaintext_size offset");
EFIS_STATIC_ASSERT(offsetof(firmware_header_t, encrypted_size) == 16, "encrypted_size offset");
EFIS_STATIC_ASSERT(offsetof(firmware_header_t, crc32_plaintext) == 20, "crc32_plaintext offset");
EFIS_STATIC_ASSERT(offsetof(firmware_header_t, crc32_encrypted) == 24, "crc32_encrypted offset");
EFIS_STATIC_ASSERT(offsetof(firmware_header_t, iv) == 28, "iv offset");
EFIS_STATIC_ASSERT(offsetof(firmware_header_t, offset) == 44, "offset offset");
EFIS_STATIC_ASSERT(offsetof(firmware_header_t, padding) == 48, "padding offset");

/* One-byte flash operation codes, in flash messages and in the unit's replies. */
typedef enum {
    OP_NONE = 0x00,         /* echoed in the reply to a set-address request */
    OP_CHIP_ERASE = 0xCE,   /* whole chip */
    OP_SECTOR_ERASE = 0xAE, /* one 4 KiB sector */
    OP_BLOCK_ERASE = 0xBE,  /* one 64 KiB block */
    OP_WRITE = 0xAA,        /* write at the unit's current flash address */
    OP_READ = 0xDD,
    OP_SETADDR = 0xA1,
    OP_GETPART = 0xAC
} FlashOpType;

#endif /* EFIS_FIRMWARE_H */
