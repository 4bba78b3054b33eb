/*
 * Get and set one field of the settings or calibration record by its field
 * number. Every value crosses the link as 32 bits; these accessors define how
 * each field is widened to and narrowed from that.
 */
#ifndef EFIS_GET_SET_H
#define EFIS_GET_SET_H

#include <stdbool.h>
#include <stdint.h>

#include "calib_types.h"
#include "settings_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Stores *new_value, narrowed, into the field that index reaches and recomputes
 * crc32; dest changes in one piece or not at all. Returns false (dest untouched)
 * for an index that reaches no field.
 */
bool settings_set_value(Settings_t *dest, settings_struct_index index, const uint32_t *new_value);

/* The field widened to 32 bits; 0xFFFFFFFF for an index that reaches no field. */
uint32_t settings_get_value(const Settings_t *src, settings_struct_index index);

/*
 * Stores the 32-bit pattern of *new_value unchanged into the field (a float field
 * receives the bits). No checksum is recomputed. False (dest untouched) for an
 * index that reaches no field.
 */
bool calib_set_value(SENSOR_CALIB_t *dest, sensor_calib_struct_index index,
                     const uint32_t *new_value);

/*
 * The field as 32 bits; 0 for an index that reaches no field.
 *
 * The accelerometer offsets (1 to 3) and the pressure sensor coefficients (58 to
 * 64, 66 to 72) come back as the float truncated toward zero, as a signed 32-bit
 * integer (saturating outside its range; NaN gives 0). Every other float field,
 * the pressure offsets (55, 56) included, comes back as its unchanged bit pattern,
 * so a value set through those indices reads back exactly as it was set.
 */
uint32_t calib_get_value(const SENSOR_CALIB_t *src, sensor_calib_struct_index index);

#ifdef __cplusplus
}
#endif

#endif /* EFIS_GET_SET_H */
