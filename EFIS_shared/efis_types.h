/*
 * Basic types shared by the records of the EFIS display unit and this tool.
 * Plain C: compiles as C11 and as C++17, no allocation, no output.
 */
#ifndef EFIS_TYPES_H
#define EFIS_TYPES_H

#include <stddef.h>
#include <stdint.h>

/* One spelling of a compile-time check for both languages. */
#ifdef __cplusplus
#define EFIS_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define EFIS_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* The records are stored and exchanged little-endian, IEEE 754 single precision. */
EFIS_STATIC_ASSERT(sizeof(float) == 4, "float must be IEEE 754 single precision");

typedef struct {
    float x;
    float y;
    float z;
} Vec3_f_t;

/* Stored row by row: row i, column j at byte 4 * (3i + j). */
typedef struct {
    float matrix[3][3];
} Matrix3_f_t;

EFIS_STATIC_ASSERT(sizeof(Vec3_f_t) == 12, "Vec3_f_t is 12 bytes");
EFIS_STATIC_ASSERT(sizeof(Matrix3_f_t) == 36, "Matrix3_f_t is 36 bytes");

#endif /* EFIS_TYPES_H */
