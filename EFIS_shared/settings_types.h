/*
 * The user settings record kept by the display unit in non-volatile memory, and
 * the numbering of its fields. This is a stored format shared with the unit's
 * firmware: 27 little-endian 32-bit words, no gaps, field for field as below.
 */
#ifndef EFIS_SETTINGS_TYPES_H
#define EFIS_SETTINGS_TYPES_H

#include <stdint.h>
#include <string.h>

#include "crc.h"
#include "efis_types.h"

/* Unit selection flags, counted from the least significant bit of the word. */
typedef struct {
    uint32_t is_mph : 1;
    uint32_t is_knots : 1;
    uint32_t is_kph : 1;
    uint32_t is_feet : 1;
    uint32_t is_meters : 1;
    uint32_t is_fahrenheit : 1;
    uint32_t is_celsius : 1;
    uint32_t is_inhg : 1;
    uint32_t is_mbar : 1;
    uint32_t unused : 23;
} unit_bits_t;

typedef union {
    uint32_t units_value;
    unit_bits_t bits;
} units_t;

/* Whole speeds in the selected unit, one byte each. */
typedef struct {
    uint8_t Vmin;
    uint8_t Vs0;
    uint8_t Vs1;
    uint8_t Vfe;
    uint8_t Vn0;
    uint8_t Vne;
    uint8_t VRef;
    uint8_t Vlo;
} vspeeds_t;

/* Thresholds in tenths of a volt. */
typedef struct {
    uint16_t min_volts;
    uint16_t max_volts;
} volt_warnings_t;

#define SETTINGS_REGISTRATION_LEN 12

typedef struct {
    uint32_t crc32;        /* checksum as computed by settings_CalcCRC */
    uint32_t magic;        /* marker of a valid record */
    uint32_t version;      /* version of the stored record */
    uint32_t num_elements; /* words covered by the checksum, counted from magic */
    units_t units;
    vspeeds_t vspeeds;
    volt_warnings_t volt_warnings;
    char registration[SETTINGS_REGISTRATION_LEN]; /* no terminator required */
    uint32_t sky_color[2];                        /* 0xFFRRGGBB, top then bottom */
    uint32_t ground_color[2];
    uint32_t vref_indi_color;
    uint32_t airplane_color;
    uint32_t green_arc_color;
    uint32_t yellow_arc_color;
    uint32_t red_arc_color;
    uint32_t gear_indi_color;
    uint32_t backlight_brightness;
    float roll_correction;
    float pitch_correction;
    volt_warnings_t volt_alerts;
    uint32_t text_bg_alpha;
    uint32_t use_mag_heading;
} Settings_t;

/* Field numbers as they travel on the link (one unsigned byte). */
typedef enum {
    UNITS_VALUE_INDEX = 0,
    VMIN_INDEX = 1,
    VS0_INDEX = 2,
    VS1_INDEX = 3,
    VFE_INDEX = 4,
    VN0_INDEX = 5,
    VNE_INDEX = 6,
    APPROACHSPEED_INDEX = 7,
    VLO_INDEX = 8,
    MIN_VOLTS_INDEX = 9,
    MAX_VOLTS_INDEX = 10,
    REGISTRATION_1_INDEX = 11,
    REGISTRATION_2_INDEX = 12,
    REGISTRATION_3_INDEX = 13,
    SKY_COLOR_0_INDEX = 14,
    SKY_COLOR_1_INDEX = 15,
    GROUND_COLOR_0_INDEX = 16,
    GROUND_COLOR_1_INDEX = 17,
    APPROACH_COLOR_INDEX = 18,
    AIRPLANE_COLOR_INDEX = 19,
    GREEN_ARC_COLOR_INDEX = 20,
    YELLOW_ARC_COLOR_INDEX = 21,
    RED_ARC_COLOR_INDEX = 22,
    GEAR_INDI_COLOR_INDEX = 23,
    BACKLIGHT_BRIGHTNESS_INDEX = 24,
    ROLL_CORRECTION_INDEX = 25,
    PITCH_CORRECTION_INDEX = 26,
    MIN_VOLTS_ALERT_INDEX = 27,
    MAX_VOLTS_ALERT_INDEX = 28,
    TEXT_BG_ALPHA_INDEX = 29,
    USE_MAG_INDEX = 30,
    SETTINGS_LAST_INDEX = 31, /* count of user fields; reaches no field */
    SETTINGS_CHECKSUM_INDEX = 252,
    SETTINGS_MAGIC_NUM = 253,
    SETTINGS_VERSION = 254,
    SETTINGS_NUM_ELEMENTS = 255
} settings_struct_index;

#define SETTINGS_RECORD_WORDS 27u
/* Words from magic to the end of the record: the most a checksum can cover. */
#define SETTINGS_MAX_CRC_WORDS 26u

EFIS_STATIC_ASSERT(sizeof(unit_bits_t) == 4, "unit_bits_t is one word");
EFIS_STATIC_ASSERT(sizeof(units_t) == 4, "units_t is one word");
EFIS_STATIC_ASSERT(sizeof(vspeeds_t) == 8, "vspeeds_t is 8 bytes");
EFIS_STATIC_ASSERT(sizeof(volt_warnings_t) == 4, "volt_warnings_t is one word");
EFIS_STATIC_ASSERT(sizeof(Settings_t) == 108, "Settings_t is 108 bytes");
EFIS_STATIC_ASSERT(offsetof(Settings_t, crc32) == 0, "crc32 offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, magic) == 4, "magic offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, version) == 8, "version offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, num_elements) == 12, "num_elements offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, units) == 16, "units offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, vspeeds) == 20, "vspeeds offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, volt_warnings) == 28, "volt_warnings offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, registration) == 32, "registration offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, sky_color) == 44, "sky_color offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, ground_color) == 52, "ground_color offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, vref_indi_color) == 60, "vref_indi_color offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, airplane_color) == 64, "airplane_color offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, green_arc_color) == 68, "green_arc_color offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, yellow_arc_color) == 72, "yellow_arc_color offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, red_arc_color) == 76, "red_arc_color offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, gear_indi_color) == 80, "gear_indi_color offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, backlight_brightness) == 84, "brightness offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, roll_correction) == 88, "roll_correction offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, pitch_correction) == 92, "pitch_correction offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, volt_alerts) == 96, "volt_alerts offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, text_bg_alpha) == 100, "text_bg_alpha offset");
EFIS_STATIC_ASSERT(offsetof(Settings_t, use_mag_heading) == 104, "use_mag_heading offset");
EFIS_STATIC_ASSERT(sizeof(settings_struct_index) == 4, "settings_struct_index is 32 bits");

/*
 * Checksum of a record: EFIS_crc over num_elements words from magic on. A stored
 * checksum of 0xFFFFFFFF (erased memory) gives 0 without computing anything.
 *
 * num_elements comes from the unit, and an erased record holds 0xFFFFFFFF there;
 * the count is limited to the 26 words that follow crc32, so the checksum never
 * reads beyond the record.
 */
static inline uint32_t settings_CalcCRC(const Settings_t *s) {
    uint32_t words[SETTINGS_RECORD_WORDS];
    uint32_t count;
    if (s->crc32 == 0xFFFFFFFFu) {
        return 0;
    }
    count = s->num_elements;
    if (count > SETTINGS_MAX_CRC_WORDS) {
        count = SETTINGS_MAX_CRC_WORDS;
    }
    /* Copy out as plain words: the record mixes characters, floats and bit-fields. */
    memcpy(words, s, sizeof(words));
    return EFIS_crc(&words[1], count);
}

#endif /* EFIS_SETTINGS_TYPES_H */
