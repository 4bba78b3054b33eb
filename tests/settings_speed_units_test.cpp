// The V-speeds converted between speed units: rounded to whole numbers, unset ones left at 0,
// a round trip that comes back within a unit, and nothing converted when one result does not
// fit the unit's byte.
#include <gtest/gtest.h>

#include "get_set.h"
#include "speed_units.h"

namespace {

Settings_t withSpeeds(std::initializer_list<std::pair<settings_struct_index, uint32_t>> speeds) {
    Settings_t record{};
    for (const auto &speed : speeds) {
        settings_set_value(&record, speed.first, &speed.second);
    }
    return record;
}

uint32_t at(const Settings_t &record, settings_struct_index index) {
    return settings_get_value(&record, index);
}

TEST(SpeedUnits, TheUnitsWordChoosesOneSpeedUnitOrNone) {
    EXPECT_EQ(speedUnitOf(1u << 1 | 1u << 3 | 1u << 6), SpeedUnit::Knots); // other groups' bits
    EXPECT_EQ(speedUnitOf(0), std::nullopt);                               // none chosen: not known
    EXPECT_EQ(speedUnitOf(1u << 0 | 1u << 2), std::nullopt); // two chosen: neither is known
}

TEST(SpeedUnits, ConvertedSpeedsAreRoundedAndUnsetOnesStayUnset) {
    const Settings_t knots = withSpeeds({{VS0_INDEX, 45}, {VS1_INDEX, 50}, {VNE_INDEX, 120}});
    const SpeedConversion mph = convertSpeeds(knots, SpeedUnit::Knots, SpeedUnit::Mph);
    ASSERT_TRUE(mph.fits);
    EXPECT_EQ(at(mph.record, VS0_INDEX), 52u);  // 51.8
    EXPECT_EQ(at(mph.record, VS1_INDEX), 58u);  // 57.5 rounds up
    EXPECT_EQ(at(mph.record, VNE_INDEX), 138u); // 138.1
    EXPECT_EQ(at(mph.record, VMIN_INDEX), 0u);  // not set
    EXPECT_EQ(mph.speeds.size(), 3u);

    // The other fields are untouched; the smallest speed set never becomes "not set".
    Settings_t slow = withSpeeds({{VMIN_INDEX, 1}});
    slow.backlight_brightness = 15;
    const SpeedConversion kt = convertSpeeds(slow, SpeedUnit::Kph, SpeedUnit::Knots);
    EXPECT_EQ(at(kt.record, VMIN_INDEX), 1u);
    EXPECT_EQ(kt.record.backlight_brightness, 15u);
}

TEST(SpeedUnits, AConversionThatDoesNotFitChangesNothingAndNamesWhatDoesNot) {
    // 160 kt is 296 km/h; 137 kt is 253.7 km/h and would fit alone.
    const Settings_t knots = withSpeeds({{VN0_INDEX, 137}, {VNE_INDEX, 160}, {VLO_INDEX, 140}});
    const SpeedConversion kph = convertSpeeds(knots, SpeedUnit::Knots, SpeedUnit::Kph);
    EXPECT_FALSE(kph.fits);
    EXPECT_EQ(at(kph.record, VN0_INDEX), 137u); // no conversion in part
    EXPECT_EQ(tooLargeText(kph, SpeedUnit::Knots, SpeedUnit::Kph),
              "Vne 160 kt would be 296 km/h, Vlo 140 kt would be 259 km/h - beyond the 0 to 255 "
              "the unit holds");
}

} // namespace
