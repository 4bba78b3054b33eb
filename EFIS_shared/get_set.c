#include "get_set.h"

#include <string.h>

/* ---- settings record ---------------------------------------------------- */

/* The 32-bit words of the record that indices 14 to 24, 29 and 30 reach. */
static uint32_t *settings_word(Settings_t *s, uint32_t index) {
    switch (index) {
    case SKY_COLOR_0_INDEX:
        return &s->sky_color[0];
    case SKY_COLOR_1_INDEX:
        return &s->sky_color[1];
    case GROUND_COLOR_0_INDEX:
        return &s->ground_color[0];
    case GROUND_COLOR_1_INDEX:
        return &s->ground_color[1];
    case APPROACH_COLOR_INDEX:
        return &s->vref_indi_color;
    case AIRPLANE_COLOR_INDEX:
        return &s->airplane_color;
    case GREEN_ARC_COLOR_INDEX:
        return &s->green_arc_color;
    case YELLOW_ARC_COLOR_INDEX:
        return &s->yellow_arc_color;
    case RED_ARC_COLOR_INDEX:
        return &s->red_arc_color;
    case GEAR_INDI_COLOR_INDEX:
        return &s->gear_indi_color;
    case BACKLIGHT_BRIGHTNESS_INDEX:
        return &s->backlight_brightness;
    case TEXT_BG_ALPHA_INDEX:
        return &s->text_bg_alpha;
    case USE_MAG_INDEX:
        return &s->use_mag_heading;
    case SETTINGS_CHECKSUM_INDEX:
        return &s->crc32;
    case SETTINGS_MAGIC_NUM:
        return &s->magic;
    case SETTINGS_VERSION:
        return &s->version;
    case SETTINGS_NUM_ELEMENTS:
        return &s->num_elements;
    default:
        return NULL;
    }
}

static uint8_t *settings_vspeed(Settings_t *s, uint32_t index) {
    switch (index) {
    case VMIN_INDEX:
        return &s->vspeeds.Vmin;
    case VS0_INDEX:
        return &s->vspeeds.Vs0;
    case VS1_INDEX:
        return &s->vspeeds.Vs1;
    case VFE_INDEX:
        return &s->vspeeds.Vfe;
    case VN0_INDEX:
        return &s->vspeeds.Vn0;
    case VNE_INDEX:
        return &s->vspeeds.Vne;
    case APPROACHSPEED_INDEX:
        return &s->vspeeds.VRef;
    case VLO_INDEX:
        return &s->vspeeds.Vlo;
    default:
        return NULL;
    }
}

static uint16_t *settings_volts(Settings_t *s, uint32_t index) {
    switch (index) {
    case MIN_VOLTS_INDEX:
        return &s->volt_warnings.min_volts;
    case MAX_VOLTS_INDEX:
        return &s->volt_warnings.max_volts;
    case MIN_VOLTS_ALERT_INDEX:
        return &s->volt_alerts.min_volts;
    case MAX_VOLTS_ALERT_INDEX:
        return &s->volt_alerts.max_volts;
    default:
        return NULL;
    }
}

static float *settings_float(Settings_t *s, uint32_t index) {
    switch (index) {
    case ROLL_CORRECTION_INDEX:
        return &s->roll_correction;
    case PITCH_CORRECTION_INDEX:
        return &s->pitch_correction;
    default:
        return NULL;
    }
}

static bool settings_is_registration(uint32_t index) {
    return index >= REGISTRATION_1_INDEX && index <= REGISTRATION_3_INDEX;
}

/* Stores value into the field of s; false when the index reaches no field. */
static bool settings_store(Settings_t *s, uint32_t index, uint32_t value) {
    uint32_t *word;
    uint8_t *speed;
    uint16_t *volts;
    float *f;

    if (index == UNITS_VALUE_INDEX) {
        s->units.units_value = value;
    } else if ((speed = settings_vspeed(s, index)) != NULL) {
        *speed = (uint8_t)(value & 0xFFu);
    } else if ((volts = settings_volts(s, index)) != NULL) {
        *volts = (uint16_t)(value & 0xFFFFu);
    } else if (settings_is_registration(index)) {
        /* First character most significant: the reverse of the record's word order. */
        char *group = &s->registration[4u * (index - REGISTRATION_1_INDEX)];
        group[0] = (char)(uint8_t)(value >> 24);
        group[1] = (char)(uint8_t)(value >> 16);
        group[2] = (char)(uint8_t)(value >> 8);
        group[3] = (char)(uint8_t)value;
    } else if ((f = settings_float(s, index)) != NULL) {
        memcpy(f, &value, sizeof(value));
    } else if ((word = settings_word(s, index)) != NULL) {
        *word = value;
    } else {
        return false;
    }
    return true;
}

bool settings_set_value(Settings_t *dest, settings_struct_index index, const uint32_t *new_value) {
    Settings_t work;
    if (dest == NULL || new_value == NULL) {
        return false;
    }
    memcpy(&work, dest, sizeof(work));
    if (!settings_store(&work, (uint32_t)index, *new_value)) {
        return false;
    }
    work.crc32 = settings_CalcCRC(&work);
    memcpy(dest, &work, sizeof(work));
    return true;
}

uint32_t settings_get_value(const Settings_t *src, settings_struct_index index) {
    /* The lookups hand out pointers into a copy, so src stays read-only. */
    Settings_t s;
    uint32_t i = (uint32_t)index;
    uint32_t *word;
    uint8_t *speed;
    uint16_t *volts;
    float *f;

    if (src == NULL) {
        return 0xFFFFFFFFu;
    }
    memcpy(&s, src, sizeof(s));
    if (i == UNITS_VALUE_INDEX) {
        return s.units.units_value;
    }
    if ((speed = settings_vspeed(&s, i)) != NULL) {
        return *speed;
    }
    if ((volts = settings_volts(&s, i)) != NULL) {
        return *volts;
    }
    if (settings_is_registration(i)) {
        const uint8_t *group = (const uint8_t *)&s.registration[4u * (i - REGISTRATION_1_INDEX)];
        return ((uint32_t)group[0] << 24) | ((uint32_t)group[1] << 16) | ((uint32_t)group[2] << 8) |
               (uint32_t)group[3];
    }
    if ((f = settings_float(&s, i)) != NULL) {
        uint32_t bits;
        memcpy(&bits, f, sizeof(bits));
        return bits;
    }
    if ((word = settings_word(&s, i)) != NULL) {
        return *word;
    }
    return 0xFFFFFFFFu;
}

/* ---- calibration record ------------------------------------------------- */

typedef enum {
    CALIB_READ_BITS,    /* the 32-bit pattern as stored */
    CALIB_READ_TRUNCATE /* the float truncated toward zero, as a signed integer */
} calib_read_t;

static float *calib_matrix_element(Matrix3_f_t *m, uint32_t k) {
    /* Indices run down the columns; the matrix is stored row by row. */
    return &m->matrix[k % 3u][k / 3u];
}

/* Where the field that index reaches lies in c, and how get widens it; NULL for none. */
static void *calib_field(SENSOR_CALIB_t *c, uint32_t index, calib_read_t *read) {
    *read = CALIB_READ_BITS;
    switch (index) {
    case CALIB_VERSION_INDEX:
        return &c->version;
    case LSM_ACC_OFFSET_X_INDEX:
        *read = CALIB_READ_TRUNCATE;
        return &c->LSM_CAL.acc_offset.x;
    case LSM_ACC_OFFSET_Y_INDEX:
        *read = CALIB_READ_TRUNCATE;
        return &c->LSM_CAL.acc_offset.y;
    case LSM_ACC_OFFSET_Z_INDEX:
        *read = CALIB_READ_TRUNCATE;
        return &c->LSM_CAL.acc_offset.z;
    case LSM_ACC_OFFSET_CHKSUM_INDEX:
        return &c->LSM_CAL.acc_offset_crc;
    case LSM_ACC_SCALE_X_INDEX:
        return &c->LSM_CAL.acc_scale.x;
    case LSM_ACC_SCALE_Y_INDEX:
        return &c->LSM_CAL.acc_scale.y;
    case LSM_ACC_SCALE_Z_INDEX:
        return &c->LSM_CAL.acc_scale.z;
    case LSM_ACC_SCALE_CHKSUM_INDEX:
        return &c->LSM_CAL.acc_scale_crc;
    case LSM_GYRO_BIAS_X_INDEX:
        return &c->LSM_CAL.gyro_bias.x;
    case LSM_GYRO_BIAS_Y_INDEX:
        return &c->LSM_CAL.gyro_bias.y;
    case LSM_GYRO_BIAS_Z_INDEX:
        return &c->LSM_CAL.gyro_bias.z;
    case LSM_GYRO_BIAS_CHKSUM_INDEX:
        return &c->LSM_CAL.gyro_bias_crc;
    case MMC_INITIAL_B_VECTOR_0_INDEX:
        return &c->MMC_INITIAL_CAL.B_vector.x;
    case MMC_INITIAL_B_VECTOR_1_INDEX:
        return &c->MMC_INITIAL_CAL.B_vector.y;
    case MMC_INITIAL_B_VECTOR_2_INDEX:
        return &c->MMC_INITIAL_CAL.B_vector.z;
    case MMC_INITIAL_B_VECTOR_CHK_INDEX:
        return &c->MMC_INITIAL_CAL.B_vector_crc;
    case MMC_INITIAL_A_MATRIX_CHK_INDEX:
        return &c->MMC_INITIAL_CAL.A_matrix_crc;
    case LIS_MAG_OFFSET_X_INDEX:
        return &c->LIS_CAL.B_vector.x;
    case LIS_MAG_OFFSET_Y_INDEX:
        return &c->LIS_CAL.B_vector.y;
    case LIS_MAG_OFFSET_Z_INDEX:
        return &c->LIS_CAL.B_vector.z;
    case LIS_MAG_OFFSET_CHKSUM_INDEX:
        return &c->LIS_CAL.B_vector_crc;
    case LIS_MAG_BIAS_CHKSUM1_INDEX:
        return &c->LIS_CAL.A_matrix_crc;
    case AUAV_PITOT_OFFSET_INDEX:
        return &c->AUAV_CAL.pitot_offset;
    case AUAV_STATIC_OFFSET_INDEX:
        return &c->AUAV_CAL.static_offset;
    case AUAV_OFFSET_CAL_CRC:
        return &c->AUAV_CAL.crc;
    case AUAV_PT_CRC:
        return &c->pitot_coeff.crc;
    case AUAV_ST_CRC:
        return &c->static_coeff.crc;
    case OAT_0DEG_INDEX:
        return &c->oat_cal_0deg;
    case OAT_100DEG_INDEX:
        return &c->oat_cal_100deg;
    case OAT_CRC_INDEX:
        return &c->oat_crc;
    case CALIB_MAGIC_NUM:
        return &c->magic;
    case CALIB_CRC_INDEX:
        return &c->crc32;
    default:
        break;
    }
    if (index >= MMC_INITIAL_A_MATRIX_0_0_index && index <= MMC_INITIAL_A_MATRIX_2_2_index) {
        return calib_matrix_element(&c->MMC_INITIAL_CAL.A_matrix,
                                    index - MMC_INITIAL_A_MATRIX_0_0_index);
    }
    if (index >= LIS_MAG_BIAS_0_0_index && index <= LIS_MAG_BIAS_2_2_index) {
        return calib_matrix_element(&c->LIS_CAL.A_matrix, index - LIS_MAG_BIAS_0_0_index);
    }
    if (index >= AUAV_PT_LIN_A && index <= AUAV_PT_TC50L) {
        /* LIN_A .. TC50L are consecutive floats at the start of the coefficients. */
        *read = CALIB_READ_TRUNCATE;
        return &(&c->pitot_coeff.LIN_A)[index - AUAV_PT_LIN_A];
    }
    if (index >= AUAV_ST_LIN_A && index <= AUAV_ST_TC50L) {
        *read = CALIB_READ_TRUNCATE;
        return &(&c->static_coeff.LIN_A)[index - AUAV_ST_LIN_A];
    }
    return NULL;
}

EFIS_STATIC_ASSERT(offsetof(AUAV_Coefficients_t, TC50L) == 6 * sizeof(float),
                   "coefficients are consecutive floats");

/* Truncation toward zero as a signed 32-bit integer, defined for every float. */
static uint32_t calib_truncate(float f) {
    if (f != f) {
        return 0; /* NaN */
    }
    if (f <= -2147483648.0f) {
        return 0x80000000u;
    }
    if (f >= 2147483648.0f) {
        return 0x7FFFFFFFu;
    }
    return (uint32_t)(int32_t)f;
}

bool calib_set_value(SENSOR_CALIB_t *dest, sensor_calib_struct_index index,
                     const uint32_t *new_value) {
    SENSOR_CALIB_t work;
    calib_read_t read;
    void *field;
    if (dest == NULL || new_value == NULL) {
        return false;
    }
    memcpy(&work, dest, sizeof(work));
    field = calib_field(&work, (uint32_t)index, &read);
    if (field == NULL) {
        return false;
    }
    memcpy(field, new_value, sizeof(uint32_t));
    memcpy(dest, &work, sizeof(work));
    return true;
}

uint32_t calib_get_value(const SENSOR_CALIB_t *src, sensor_calib_struct_index index) {
    SENSOR_CALIB_t c;
    calib_read_t read;
    const void *field;
    uint32_t bits;
    if (src == NULL) {
        return 0;
    }
    memcpy(&c, src, sizeof(c));
    field = calib_field(&c, (uint32_t)index, &read);
    if (field == NULL) {
        return 0;
    }
    memcpy(&bits, field, sizeof(bits));
    if (read == CALIB_READ_TRUNCATE) {
        float f;
        memcpy(&f, &bits, sizeof(f));
        return calib_truncate(f);
    }
    return bits;
}
