#include <gtest/gtest.h>

#include <cstring>

#include "get_set.h"

namespace {

uint32_t bitsOf(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof(b));
    return b;
}

SENSOR_CALIB_t patternCalib() {
    SENSOR_CALIB_t c;
    auto *bytes = reinterpret_cast<uint8_t *>(&c);
    for (size_t i = 0; i < sizeof(c); ++i) {
        bytes[i] = static_cast<uint8_t>(0x21 + i * 3);
    }
    return c;
}

bool set(SENSOR_CALIB_t &c, uint32_t index, uint32_t value) {
    return calib_set_value(&c, static_cast<sensor_calib_struct_index>(index), &value);
}

uint32_t get(const SENSOR_CALIB_t &c, uint32_t index) {
    return calib_get_value(&c, static_cast<sensor_calib_struct_index>(index));
}

// Byte offset in the record of the field each index reaches.
struct Field {
    uint32_t index;
    size_t offset;
    bool truncates; // get converts the float to an integer
};

std::vector<Field> allFields() {
    std::vector<Field> f = {{CALIB_VERSION_INDEX, 4, false}};
    const size_t lsm = offsetof(SENSOR_CALIB_t, LSM_CAL);
    for (uint32_t i = 0; i < 12; ++i) {
        const bool isOffset = i < 3;
        f.push_back({1 + i, lsm + 4 * i, isOffset});
    }
    // Column-order indices over row-major matrices.
    auto mag = [&f](uint32_t first, size_t base) {
        for (uint32_t i = 0; i < 4; ++i) {
            f.push_back({first + i, base + 4 * i, false}); // B vector and its checksum
        }
        for (uint32_t k = 0; k < 9; ++k) {
            const uint32_t row = k % 3, col = k / 3;
            f.push_back({first + 4 + k, base + 16 + 4 * (3 * row + col), false});
        }
        f.push_back({first + 13, base + 52, false});
    };
    mag(MMC_INITIAL_B_VECTOR_0_INDEX, offsetof(SENSOR_CALIB_t, MMC_INITIAL_CAL));
    mag(LIS_MAG_OFFSET_X_INDEX, offsetof(SENSOR_CALIB_t, LIS_CAL));
    f.push_back({AUAV_PITOT_OFFSET_INDEX, 168, false});
    f.push_back({AUAV_STATIC_OFFSET_INDEX, 172, false});
    f.push_back({AUAV_OFFSET_CAL_CRC, 176, false});
    for (uint32_t i = 0; i < 8; ++i) {
        f.push_back({AUAV_PT_LIN_A + i, 180 + 4 * i, i < 7});
        f.push_back({AUAV_ST_LIN_A + i, 212 + 4 * i, i < 7});
    }
    f.push_back({OAT_0DEG_INDEX, 244, false});
    f.push_back({OAT_100DEG_INDEX, 248, false});
    f.push_back({OAT_CRC_INDEX, 252, false});
    f.push_back({CALIB_MAGIC_NUM, 0, false});
    f.push_back({CALIB_CRC_INDEX, 256, false});
    return f;
}

} // namespace

TEST(CalibAccessors, EachIndexChangesExactlyItsOwnField) {
    const std::vector<Field> fields = allFields();
    ASSERT_EQ(fields.size(), 65u); // 77 indices below 77 less the 14 without a field, plus 2
    const SENSOR_CALIB_t before = patternCalib();
    for (const Field &f : fields) {
        SCOPED_TRACE(f.index);
        SENSOR_CALIB_t c = before;
        const uint32_t value = 0x3FC00000u; // 1.5
        ASSERT_TRUE(set(c, f.index, value));
        SENSOR_CALIB_t expected = before;
        std::memcpy(reinterpret_cast<uint8_t *>(&expected) + f.offset, &value, 4);
        EXPECT_EQ(std::memcmp(&c, &expected, sizeof(c)), 0);
        EXPECT_EQ(get(c, f.index), f.truncates ? 1u : value);
    }
}

TEST(CalibAccessors, MatrixIndicesRunDownTheColumns) {
    SENSOR_CALIB_t c{};
    ASSERT_TRUE(set(c, MMC_INITIAL_A_MATRIX_1_0_index, bitsOf(2.0f)));
    EXPECT_EQ(c.MMC_INITIAL_CAL.A_matrix.matrix[1][0], 2.0f);
    EXPECT_EQ(c.MMC_INITIAL_CAL.A_matrix.matrix[2][0], 0.0f);
    EXPECT_EQ(c.MMC_INITIAL_CAL.A_matrix.matrix[0][1], 0.0f);
    ASSERT_TRUE(set(c, MMC_INITIAL_A_MATRIX_0_1_index, bitsOf(3.0f)));
    EXPECT_EQ(c.MMC_INITIAL_CAL.A_matrix.matrix[0][1], 3.0f); // byte 4 of the matrix
    ASSERT_TRUE(set(c, LIS_MAG_BIAS_2_1_index, bitsOf(4.0f)));
    EXPECT_EQ(c.LIS_CAL.A_matrix.matrix[2][1], 4.0f);
}

TEST(CalibAccessors, SetLeavesChecksumsAlone) {
    SENSOR_CALIB_t c = patternCalib();
    const uint32_t crc = c.crc32;
    ASSERT_TRUE(set(c, CALIB_MAGIC_NUM, 0xCAFEF00Du));
    EXPECT_EQ(c.magic, 0xCAFEF00Du);
    EXPECT_EQ(c.crc32, crc);
}

TEST(CalibAccessors, IndicesWithoutAFieldAreRefused) {
    const SENSOR_CALIB_t before = patternCalib();
    std::vector<uint32_t> refused;
    for (uint32_t i = 27; i <= 40; ++i) {
        refused.push_back(i);
    }
    for (uint32_t i = 77; i <= 253; ++i) {
        refused.push_back(i);
    }
    refused.push_back(256);
    refused.push_back(0xFFFFFFFFu);
    for (uint32_t index : refused) {
        SCOPED_TRACE(index);
        SENSOR_CALIB_t c = before;
        EXPECT_FALSE(set(c, index, 0x12345678u));
        EXPECT_EQ(std::memcmp(&c, &before, sizeof(c)), 0);
        EXPECT_EQ(get(c, index), 0u);
    }
}

TEST(CalibAccessors, TruncatingAndBitPassingReads) {
    SENSOR_CALIB_t c{};
    struct Case {
        float value;
        uint32_t truncated;
    };
    const Case cases[] = {{1.5f, 1u},     {-1.5f, 0xFFFFFFFFu},         {0.75f, 0u},
                          {-0.75f, 0u},   {1e10f, 0x7FFFFFFFu},         {-1e10f, 0x80000000u},
                          {100.9f, 100u}, {-2147483648.0f, 0x80000000u}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.value);
        ASSERT_TRUE(set(c, LSM_ACC_OFFSET_Y_INDEX, bitsOf(k.value)));
        EXPECT_EQ(get(c, LSM_ACC_OFFSET_Y_INDEX), k.truncated);
        ASSERT_TRUE(set(c, AUAV_ST_TC50L, bitsOf(k.value)));
        EXPECT_EQ(get(c, AUAV_ST_TC50L), k.truncated);
        // The pressure offsets and the other float fields pass the bits unchanged.
        ASSERT_TRUE(set(c, AUAV_PITOT_OFFSET_INDEX, bitsOf(k.value)));
        EXPECT_EQ(get(c, AUAV_PITOT_OFFSET_INDEX), bitsOf(k.value));
        ASSERT_TRUE(set(c, LSM_GYRO_BIAS_Z_INDEX, bitsOf(k.value)));
        EXPECT_EQ(get(c, LSM_GYRO_BIAS_Z_INDEX), bitsOf(k.value));
    }
    // A NaN has no integer part: it reads as 0 rather than as undefined behaviour.
    ASSERT_TRUE(set(c, AUAV_PT_LIN_A, 0x7FC00000u));
    EXPECT_EQ(get(c, AUAV_PT_LIN_A), 0u);
}
