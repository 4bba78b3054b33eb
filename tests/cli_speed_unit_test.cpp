// efis-cli set speed_unit=...: with V-speeds set the person says whether they are converted or
// kept; a conversion that does not fit the unit is refused with nothing sent.
#include <gtest/gtest.h>

#include "cli_run.h"
#include "sim_unit.h"

namespace {

class CliSpeedUnit : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); } // knots; Vs0 45, Vn0 120, Vne 150, Vlo 90
    static std::size_t sets() {
        std::size_t n = 0;
        for (const sim::Message &m : sim::unit().received()) {
            n += m.can_id == CANMSG_SET_USER_SETTING ? 1 : 0;
        }
        return n;
    }
    static const vspeeds_t &speeds() { return sim::unit().settings().vspeeds; }
};

TEST_F(CliSpeedUnit, ANewSpeedUnitNeedsOneOfTheTwoOptions) {
    CliRun r = cli({"set", "speed_unit=mph"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("--convert-speeds"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--keep-speeds"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("set in kt"), std::string::npos) << r.err;
    r = cli({"set", "speed_unit=mph", "--convert-speeds", "--keep-speeds"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_EQ(sets(), 0u);
    EXPECT_EQ(sim::unit().settings().units.bits.is_knots, 1u);

    // Another field alone, or the unit's own speed unit, needs neither.
    EXPECT_EQ(cli({"set", "speed_unit=knots", "altitude_unit=meters"}).status, CLI_OK);
    // The options belong to set alone.
    EXPECT_EQ(cli({"get", "--keep-speeds"}).status, CLI_USAGE);
}

TEST_F(CliSpeedUnit, KeptOrConvertedTheUnitTakesWhatWasChosen) {
    CliRun r = cli({"set", "speed_unit=mph", "--keep-speeds"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(sim::unit().settings().units.bits.is_mph, 1u);
    EXPECT_EQ(speeds().Vne, 150);

    // Back to knots, converted: 150 mph is 130.3 kt; a V-speed named is taken as typed.
    r = cli({"set", "speed_unit=knots", "vs0=40", "--convert-speeds"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(sim::unit().settings().units.bits.is_knots, 1u);
    EXPECT_EQ(speeds().Vne, 130);
    EXPECT_EQ(speeds().Vn0, 104); // 120 mph
    EXPECT_EQ(speeds().Vs0, 40);
}

TEST_F(CliSpeedUnit, AConversionBeyondTheUnitsByteIsRefusedNamingTheValues) {
    const std::size_t before = sets();
    CliRun r = cli({"set", "speed_unit=kph", "--convert-speeds"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("Vne 150 kt would be 278 km/h"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Vn0"), std::string::npos) << r.err; // 222 km/h fits
    EXPECT_EQ(sets(), before);
    EXPECT_EQ(sim::unit().settings().units.bits.is_knots, 1u);
    EXPECT_EQ(speeds().Vne, 150);
}

} // namespace
