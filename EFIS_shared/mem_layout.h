/*
 * Geometry of the unit's external MX25 flash as the firmware update uses it,
 * and the partition identifiers the unit reports.
 */
#ifndef EFIS_MEM_LAYOUT_H
#define EFIS_MEM_LAYOUT_H

#include <stdint.h>

#include "efis_types.h"
#include "firmware.h"

#define MX25_SECTOR_SIZE 4096u          /* sector n starts at n << 12 */
#define MX25_BLOCK_SIZE 65536u          /* block n starts at n << 16; the update calls it a page */
#define FW_PARTITION_BLOCKS 64u         /* 4,194,304 bytes per firmware partition */
#define FW_PARTITION_1_START_BLOCK 832u /* 0x03400000 to 0x037FFFFF */
#define FW_PARTITION_2_START_BLOCK 896u /* 0x03800000 to 0x03BFFFFF */
#define FW_HEADER_SIZE 64u

EFIS_STATIC_ASSERT(FW_HEADER_SIZE == sizeof(firmware_header_t), "header size");

/*
 * Partition identifiers, reported as little-endian 32-bit values. Their values do
 * not fit a C int, so C sees them as typed constants and C++ as an enumeration.
 */
#ifdef __cplusplus
enum mx25_partition : uint32_t {
    partition_none = 0x00000000u,
    partition_1 = 0xB1B1B1B1u,
    partition_2 = 0xB2B2B2B2u,
    partition_debug = 0xB3B3B3B3u,
    partition_unknown = 0xFFFFFFFFu
};
#else
typedef uint32_t mx25_partition;
#define partition_none ((mx25_partition)0x00000000u)
#define partition_1 ((mx25_partition)0xB1B1B1B1u)
#define partition_2 ((mx25_partition)0xB2B2B2B2u)
#define partition_debug ((mx25_partition)0xB3B3B3B3u)
#define partition_unknown ((mx25_partition)0xFFFFFFFFu)
#endif

EFIS_STATIC_ASSERT(sizeof(mx25_partition) == 4, "mx25_partition is 32 bits");

/* 64 KiB blocks needed for total_size bytes, rounded up, without wrap-around. */
static inline uint32_t mx25_blocks_needed(uint32_t total_size) {
    return total_size / MX25_BLOCK_SIZE + (total_size % MX25_BLOCK_SIZE != 0u ? 1u : 0u);
}

/* Byte address of an erase unit: what the unit reports after erasing it. */
static inline uint32_t mx25_erase_address(uint8_t op_type, uint16_t block_or_sector) {
    switch (op_type) {
    case OP_SECTOR_ERASE:
        return (uint32_t)block_or_sector * MX25_SECTOR_SIZE;
    case OP_BLOCK_ERASE:
        return (uint32_t)block_or_sector * MX25_BLOCK_SIZE;
    default:
        return 0; /* chip erase and anything else */
    }
}

/* First block of a firmware partition; 0 for a partition that takes no image. */
static inline uint32_t mx25_partition_start_block(mx25_partition p) {
    if (p == partition_1) {
        return FW_PARTITION_1_START_BLOCK;
    }
    if (p == partition_2) {
        return FW_PARTITION_2_START_BLOCK;
    }
    return 0;
}

#endif /* EFIS_MEM_LAYOUT_H */
