/*
 * Word-wise CRC-32 used for the unit's stored records.
 *
 * Polynomial 0x04C11DB7, initial value 0xFFFFFFFF, no reflection, no final XOR,
 * computed over 32-bit words bit by bit. Equal to CRC-32/MPEG-2 over the bytes of
 * each word taken most significant byte first. Defined here so that the unit and
 * the tool compute with the same code.
 */
#ifndef EFIS_CRC_H
#define EFIS_CRC_H

#include <stddef.h>
#include <stdint.h>

#define EFIS_CRC_POLYNOMIAL 0x04C11DB7u

static inline uint32_t EFIS_crc(const uint32_t *data, size_t words) {
    uint32_t crc = 0xFFFFFFFFu;
    size_t i;
    for (i = 0; i < words; i++) {
        int bit;
        crc ^= data[i];
        for (bit = 0; bit < 32; bit++) {
            if (crc & 0x80000000u) {
                crc = (crc << 1) ^ EFIS_CRC_POLYNOMIAL;
            } else {
                crc = crc << 1;
            }
        }
    }
    return crc;
}

#endif /* EFIS_CRC_H */
