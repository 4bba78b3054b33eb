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
    EXPECT_EQ(speedUnitOf(1u << 0), SpeedUnit::Mph);
    EXPECT_EQ(speedUnitOf(1u << 1 | 1u << 3 | 1u << 6), SpeedUnit::Knots); // other groups' bits
    EXPECT_EQ(speedUnitOf(1u << 2), SpeedUnit::Kph);
    EXPECT_EQ(speedUnitOf(0), std::nullopt);                 // none chosen: the unit is not known
    EXPECT_EQ(speedUnitOf(1u << 0 | 1u << 2), std::nullopt); // two chosen: neither is known
    EXPECT_STREQ(speedSymbol(SpeedUnit::Knots), "kt");
    EXPECT_STREQ(speedSymbol(SpeedUnit::Kph), "km/h");
}

TEST(SpeedUnits, ConvertedSpeedsAreRoundedAndUnsetOnesStayUnset) {
    const Settings_t knots = withSpeeds({{VS0_INDEX, 45}, {VS1_INDEX, 50}, {VNE_INDEX, 120}});
    const SpeedConversion mph = convertSpeeds(knots, SpeedUnit::Knots, SpeedUnit::Mph);
    ASSERT_TRUE(mph.fits);
    EXPECT_EQ(at(mph.record, VS0_INDEX), 52u);  // 51.8
    EXPECT_EQ(at(mph.record, VS1_INDEX), 58u);  // 57.5 rounds up
    EXPECT_EQ(at(mph.record, VNE_INDEX), 138u); // 138.1
    EXPECT_EQ(at(mph.record, VMIN_INDEX), 0u);  // not set
    ASSERT_EQ(mph.speeds.size(), 3u);
    EXPECT_EQ(mph.speeds[0].label, "Vs0");
    EXPECT_EQ(mph.speeds[0].from, 45u);
    EXPECT_EQ(mph.speeds[0].to, 52);

    // The other fields are untouched; the smallest speed set never becomes "not set".
    Settings_t slow = withSpeeds({{VMIN_INDEX, 1}});
    slow.backlight_brightness = 15;
    const SpeedConversion kt = convertSpeeds(slow, SpeedUnit::Kph, SpeedUnit::Knots);
    EXPECT_EQ(at(kt.record, VMIN_INDEX), 1u);
    EXPECT_EQ(kt.record.backlight_brightness, 15u);

    // There and back again comes within one of where it started, for every byte.
    for (uint32_t v = 1; v <= 255; ++v) {
        const Settings_t start = withSpeeds({{VFE_INDEX, v}});
        const SpeedConversion there = convertSpeeds(start, SpeedUnit::Kph, SpeedUnit::Mph);
        const SpeedConversion back = convertSpeeds(there.record, SpeedUnit::Mph, SpeedUnit::Kph);
        ASSERT_TRUE(back.fits);
        const long diff = static_cast<long>(at(back.record, VFE_INDEX)) - static_cast<long>(v);
        ASSERT_LE(std::labs(diff), 1) << v;
    }
}

TEST(SpeedUnits, AConversionThatDoesNotFitChangesNothingAndNamesWhatDoesNot) {
    // 160 kt is 296 km/h; 137 kt is 253.7 km/h and would fit alone.
    const Settings_t knots = withSpeeds({{VN0_INDEX, 137}, {VNE_INDEX, 160}, {VLO_INDEX, 140}});
    const SpeedConversion kph = convertSpeeds(knots, SpeedUnit::Knots, SpeedUnit::Kph);
    EXPECT_FALSE(kph.fits);
    ASSERT_EQ(kph.too_large.size(), 2u);
    EXPECT_EQ(kph.too_large[0].label, "Vne");
    EXPECT_EQ(kph.too_large[0].to, 296);
    EXPECT_EQ(at(kph.record, VN0_INDEX), 137u); // no conversion in part
    EXPECT_EQ(tooLargeText(kph, SpeedUnit::Knots, SpeedUnit::Kph),
              "Vne 160 kt would be 296 km/h, Vlo 140 kt would be 259 km/h - beyond the 0 to 255 "
              "the unit holds");

    // A V-speed skipped (one a person gives in the new unit) is neither converted nor judged.
    const SpeedConversion skipped =
        convertSpeeds(knots, SpeedUnit::Knots, SpeedUnit::Kph, {VNE_INDEX, VLO_INDEX});
    EXPECT_TRUE(skipped.fits);
    EXPECT_EQ(at(skipped.record, VN0_INDEX), 254u);
    EXPECT_EQ(at(skipped.record, VNE_INDEX), 160u);
}

} // namespace
