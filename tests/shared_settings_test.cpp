#include <gtest/gtest.h>

#include <cstring>

#include "comms_types.h"
#include "crc.h"
#include "get_set.h"
#include "mem_layout.h"
#include "settings_types.h"

extern "C" uint32_t shared_headers_check_c(void);

namespace {

uint32_t crcOf(std::initializer_list<uint32_t> words) {
    std::vector<uint32_t> v(words);
    return EFIS_crc(v.data(), v.size());
}

// A record with recognisable bytes everywhere, and a valid checksum.
Settings_t patternRecord() {
    Settings_t s;
    auto *bytes = reinterpret_cast<uint8_t *>(&s);
    for (size_t i = 0; i < sizeof(s); ++i) {
        bytes[i] = static_cast<uint8_t>(0x11 + i * 7);
    }
    s.crc32 = 0;
    s.num_elements = 26;
    return s;
}

uint32_t get(const Settings_t &s, uint32_t index) {
    return settings_get_value(&s, static_cast<settings_struct_index>(index));
}

bool set(Settings_t &s, uint32_t index, uint32_t value) {
    return settings_set_value(&s, static_cast<settings_struct_index>(index), &value);
}

// The checksum that the record should carry: 26 words from magic on.
uint32_t expectedCrc(const Settings_t &s, uint32_t words) {
    uint32_t w[27];
    std::memcpy(w, &s, sizeof(w));
    return EFIS_crc(&w[1], words);
}

} // namespace

TEST(EfisCrc, PublishedCheckValues) {
    EXPECT_EQ(EFIS_crc(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(crcOf({0x00000000u}), 0xC704DD7Bu);
    EXPECT_EQ(crcOf({0x12345678u}), 0xDF8A8A2Bu);
    // CRC-32/MPEG-2 of the ASCII digits 1 to 8, each word most significant byte first.
    EXPECT_EQ(crcOf({0x31323334u, 0x35363738u}), 0x49E3C2FBu);
}

TEST(SettingsRecord, LayoutIsLittleEndianWordsAsStored) {
    Settings_t s{};
    s.vspeeds.Vmin = 0x01;
    s.vspeeds.Vs0 = 0x02;
    s.vspeeds.Vs1 = 0x03;
    s.vspeeds.Vfe = 0x04;
    s.registration[0] = 'K';
    s.registration[3] = 'N';
    uint32_t words[27];
    std::memcpy(words, &s, sizeof(words));
    EXPECT_EQ(words[5], 0x04030201u); // offset 20: Vmin in the least significant byte
    EXPECT_EQ(words[8], 0x4E00004Bu); // offset 32: character 0 in the least significant byte
    s.units.bits.is_mph = 1;
    s.units.bits.is_mbar = 1;
    EXPECT_EQ(s.units.units_value, 0x101u);
}

TEST(SettingsAccessors, ConversionTable) {
    struct Row {
        uint32_t index;
        uint32_t set;
        uint32_t get; // what comes back after the set
    };
    const Row rows[] = {
        {UNITS_VALUE_INDEX, 0xDEADBEEFu, 0xDEADBEEFu},
        {VMIN_INDEX, 0x1FFu, 0xFFu},
        {VS0_INDEX, 0x12345678u, 0x78u},
        {VS1_INDEX, 45u, 45u},
        {VFE_INDEX, 85u, 85u},
        {VN0_INDEX, 120u, 120u},
        {VNE_INDEX, 180u, 180u},
        {APPROACHSPEED_INDEX, 65u, 65u},
        {VLO_INDEX, 0x100u, 0u},
        {MIN_VOLTS_INDEX, 125u, 125u},
        {MAX_VOLTS_INDEX, 0x12345u, 0x2345u},
        {MIN_VOLTS_ALERT_INDEX, 0xFFFF0110u, 0x0110u},
        {MAX_VOLTS_ALERT_INDEX, 155u, 155u},
        {REGISTRATION_1_INDEX, 0x4B4C4D4Eu, 0x4B4C4D4Eu},
        {REGISTRATION_2_INDEX, 0x80FF7F01u, 0x80FF7F01u},
        {REGISTRATION_3_INDEX, 0x00000000u, 0x00000000u},
        {SKY_COLOR_0_INDEX, 0xFF87CEEBu, 0xFF87CEEBu},
        {SKY_COLOR_1_INDEX, 0x00123456u, 0x00123456u},
        {GROUND_COLOR_0_INDEX, 0xFFFFFFFFu, 0xFFFFFFFFu},
        {GROUND_COLOR_1_INDEX, 1u, 1u},
        {APPROACH_COLOR_INDEX, 2u, 2u},
        {AIRPLANE_COLOR_INDEX, 3u, 3u},
        {GREEN_ARC_COLOR_INDEX, 4u, 4u},
        {YELLOW_ARC_COLOR_INDEX, 5u, 5u},
        {RED_ARC_COLOR_INDEX, 6u, 6u},
        {GEAR_INDI_COLOR_INDEX, 7u, 7u},
        {BACKLIGHT_BRIGHTNESS_INDEX, 30u, 30u},
        {ROLL_CORRECTION_INDEX, 0x3F800000u, 0x3F800000u},
        {PITCH_CORRECTION_INDEX, 0x7FC00001u, 0x7FC00001u}, // a NaN pattern passes unchanged
        {TEXT_BG_ALPHA_INDEX, 255u, 255u},
        {USE_MAG_INDEX, 1u, 1u},
        {SETTINGS_MAGIC_NUM, 0x5F57565Au, 0x5F57565Au},
        {SETTINGS_VERSION, 7u, 7u},
        {SETTINGS_NUM_ELEMENTS, 26u, 26u},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.index);
        Settings_t s = patternRecord();
        ASSERT_TRUE(set(s, r.index, r.set));
        EXPECT_EQ(get(s, r.index), r.get);
    }
}

TEST(SettingsAccessors, FieldsLandWhereTheRecordKeepsThem) {
    Settings_t s{};
    s.num_elements = 26;
    ASSERT_TRUE(set(s, VMIN_INDEX, 0x1FF));
    EXPECT_EQ(s.vspeeds.Vmin, 0xFF);
    EXPECT_EQ(s.vspeeds.Vs0, 0);
    ASSERT_TRUE(set(s, MAX_VOLTS_INDEX, 0x12345));
    EXPECT_EQ(s.volt_warnings.max_volts, 0x2345);
    EXPECT_EQ(s.volt_warnings.min_volts, 0);
    ASSERT_TRUE(set(s, MAX_VOLTS_ALERT_INDEX, 0x155));
    EXPECT_EQ(s.volt_alerts.max_volts, 0x155);
    ASSERT_TRUE(set(s, ROLL_CORRECTION_INDEX, 0x3F800000u));
    EXPECT_EQ(s.roll_correction, 1.0f);
    ASSERT_TRUE(set(s, APPROACHSPEED_INDEX, 65));
    EXPECT_EQ(s.vspeeds.VRef, 65);
    ASSERT_TRUE(set(s, APPROACH_COLOR_INDEX, 0xFFFF00FFu));
    EXPECT_EQ(s.vref_indi_color, 0xFFFF00FFu);
    ASSERT_TRUE(set(s, USE_MAG_INDEX, 1));
    EXPECT_EQ(s.use_mag_heading, 1u);
}

TEST(SettingsAccessors, RegistrationPackedFirstCharacterMostSignificant) {
    Settings_t s{};
    s.num_elements = 26;
    ASSERT_TRUE(set(s, REGISTRATION_2_INDEX, 0x4B4C4D4Eu));
    EXPECT_EQ(std::memcmp(&s.registration[4], "KLMN", 4), 0);
    for (int i : {0, 1, 2, 3, 8, 9, 10, 11}) {
        EXPECT_EQ(s.registration[i], 0) << i;
    }
    EXPECT_EQ(get(s, REGISTRATION_2_INDEX), 0x4B4C4D4Eu);

    // A character at or above 0x80 comes back as that byte alone, not sign-extended.
    s.registration[8] = static_cast<char>(0xE9);
    EXPECT_EQ(get(s, REGISTRATION_3_INDEX), 0xE9000000u);
    s.registration[8] = 0;
    s.registration[11] = static_cast<char>(0x80);
    EXPECT_EQ(get(s, REGISTRATION_3_INDEX), 0x00000080u);
    s.registration[10] = static_cast<char>(0xFF);
    EXPECT_EQ(get(s, REGISTRATION_3_INDEX), 0x0000FF80u);
}

TEST(SettingsAccessors, IndicesThatReachNoFieldAreRefused) {
    std::vector<uint32_t> refused = {SETTINGS_LAST_INDEX, 100, 256, 0x1FC, 0xFFFFFFFFu};
    for (uint32_t i = 32; i <= 251; ++i) {
        refused.push_back(i);
    }
    const Settings_t before = patternRecord();
    for (uint32_t index : refused) {
        SCOPED_TRACE(index);
        Settings_t s = before;
        EXPECT_FALSE(set(s, index, 0x12345678u));
        EXPECT_EQ(std::memcmp(&s, &before, sizeof(s)), 0);
        EXPECT_EQ(get(s, index), 0xFFFFFFFFu);
    }
    EXPECT_FALSE(settings_set_value(nullptr, VMIN_INDEX, nullptr));
}

TEST(SettingsAccessors, SetRecomputesTheChecksum) {
    Settings_t s = patternRecord();
    ASSERT_TRUE(set(s, VNE_INDEX, 180));
    EXPECT_EQ(s.crc32, expectedCrc(s, 26));

    // A value given for the checksum index is replaced by the recomputed checksum.
    ASSERT_TRUE(set(s, SETTINGS_CHECKSUM_INDEX, 0x12345678u));
    EXPECT_EQ(s.crc32, expectedCrc(s, 26));
    // ... but 0xFFFFFFFF reads as erased memory: the checksum is then 0.
    ASSERT_TRUE(set(s, SETTINGS_CHECKSUM_INDEX, 0xFFFFFFFFu));
    EXPECT_EQ(s.crc32, 0u);

    // A new element count takes part in the checksum computed by the same set.
    ASSERT_TRUE(set(s, SETTINGS_NUM_ELEMENTS, 5));
    EXPECT_EQ(s.crc32, expectedCrc(s, 5));
}

TEST(SettingsAccessors, ErasedChecksumWordGivesZeroThenTheRealChecksum) {
    Settings_t s = patternRecord();
    s.crc32 = 0xFFFFFFFFu;
    ASSERT_TRUE(set(s, VMIN_INDEX, 40));
    EXPECT_EQ(s.crc32, 0u);
    ASSERT_TRUE(set(s, VS0_INDEX, 45));
    EXPECT_EQ(s.crc32, expectedCrc(s, 26));
}

TEST(SettingsAccessors, NoElementsAlternatesBetweenErasedAndZero) {
    Settings_t s = patternRecord();
    s.num_elements = 0;
    const uint32_t expected[] = {0xFFFFFFFFu, 0u, 0xFFFFFFFFu, 0u};
    for (uint32_t e : expected) {
        ASSERT_TRUE(set(s, VMIN_INDEX, 40));
        EXPECT_EQ(s.crc32, e);
    }
}

TEST(SettingsCalcCrc, CoversNumElementsWordsFromMagic) {
    Settings_t s = patternRecord();
    for (uint32_t n : {0u, 1u, 13u, 26u}) {
        s.num_elements = n;
        EXPECT_EQ(settings_CalcCRC(&s), expectedCrc(s, n)) << n;
    }
    // The checksum word itself is never covered.
    s.num_elements = 26;
    const uint32_t crc = settings_CalcCRC(&s);
    s.crc32 = 0x0BADF00Du;
    EXPECT_EQ(settings_CalcCRC(&s), crc);
    s.crc32 = 0xFFFFFFFFu;
    EXPECT_EQ(settings_CalcCRC(&s), 0u);
}

TEST(SettingsCalcCrc, CountAboveTheRecordIsLimitedToTheRecord) {
    // An erased record holds 0xFFFFFFFF as its element count; the checksum must
    // never read beyond the 108 bytes (AddressSanitizer watches this test).
    auto *s = new Settings_t(patternRecord());
    const uint32_t full = expectedCrc(*s, 26);
    for (uint32_t n : {27u, 28u, 1000u, 0xFFFFFFFFu}) {
        s->num_elements = n;
        const uint32_t limited = expectedCrc(*s, 26); // num_elements is itself covered
        EXPECT_EQ(settings_CalcCRC(s), limited) << n;
    }
    s->num_elements = 26;
    EXPECT_EQ(settings_CalcCRC(s), full);
    delete s;
}

TEST(SharedModule, MessageRecordLayout) {
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.can_ID = 0x0376;
    const auto *bytes = reinterpret_cast<const uint8_t *>(&msg);
    EXPECT_EQ(bytes[1], 0x76);
    EXPECT_EQ(bytes[2], 0x03);
    EXPECT_EQ(bytes[3], 0x00);
    EXPECT_EQ(bytes[4], 0x00);
    EXPECT_EQ(vendor_id, 0x1209);
    EXPECT_EQ(product_id, 0x0001);
}

TEST(SharedModule, FlashGeometry) {
    EXPECT_EQ(mx25_blocks_needed(0), 0u);
    EXPECT_EQ(mx25_blocks_needed(1), 1u);
    EXPECT_EQ(mx25_blocks_needed(65536), 1u);
    EXPECT_EQ(mx25_blocks_needed(65537), 2u);
    EXPECT_EQ(mx25_blocks_needed(4194304), 64u);
    EXPECT_EQ(mx25_blocks_needed(4194305), 65u);
    EXPECT_EQ(mx25_blocks_needed(0xFFFFFFFFu), 65536u); // no wrap-around
    EXPECT_EQ(mx25_erase_address(OP_BLOCK_ERASE, 832), 0x03400000u);
    EXPECT_EQ(mx25_erase_address(OP_SECTOR_ERASE, 3), 0x3000u);
    EXPECT_EQ(mx25_erase_address(OP_CHIP_ERASE, 5), 0u);
    EXPECT_EQ(mx25_erase_address(OP_WRITE, 5), 0u);
    EXPECT_EQ(mx25_partition_start_block(partition_1) * MX25_BLOCK_SIZE, 0x03400000u);
    EXPECT_EQ(mx25_partition_start_block(partition_2) * MX25_BLOCK_SIZE, 0x03800000u);
    EXPECT_EQ(mx25_partition_start_block(partition_debug), 0u);
}

TEST(SharedModule, CompilesAsC) {
    // The C translation unit computes with the same inline code as C++.
    Settings_t s{};
    uint32_t one = 1;
    s.num_elements = 26;
    settings_set_value(&s, VNE_INDEX, &one);
    COMMS_MSG_t msg{};
    msg.can_ID = CANMSG_ACK;
    const uint32_t expected = settings_CalcCRC(&s) ^ 1u ^ FW_PARTITION_2_START_BLOCK ^
                              MX25_BLOCK_SIZE ^ msg.can_ID ^ vendor_id ^ product_id;
    EXPECT_EQ(shared_headers_check_c(), expected);
}
