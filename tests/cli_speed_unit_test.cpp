// efis-cli set speed_unit=...: with V-speeds set the person says whether they are converted or
// kept; a conversion that does not fit the unit is refused with nothing sent.
#include <gtest/gtest.h>

#include "cli_run.h"
#include "sim_unit.h"

namespace {

std::size_t sets() {
    std::size_t n = 0;
    for (const sim::Message &m : sim::unit().received()) {
        n += m.can_id == CANMSG_SET_USER_SETTING ? 1 : 0;
    }
    return n;
}

TEST(CliSpeedUnit, ANewSpeedUnitNeedsOneOptionAndAConversionMustFit) {
    sim::reset(); // knots; Vn0 120, Vne 150
    CliRun r = cli({"set", "speed_unit=mph"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("needs --convert-speeds"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("or --keep-speeds"), std::string::npos) << r.err;
    EXPECT_EQ(cli({"set", "speed_unit=mph", "--convert-speeds", "--keep-speeds"}).status,
              CLI_USAGE);
    // 150 kt is 278 km/h; Vn0's 222 km/h would fit and is not named.
    r = cli({"set", "speed_unit=kph", "--convert-speeds"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("Vne 150 kt would be 278 km/h"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Vn0"), std::string::npos) << r.err;
    EXPECT_EQ(sets(), 0u);
}

TEST(CliSpeedUnit, KeptOrConvertedTheUnitTakesWhatWasChosen) {
    sim::reset();
    ASSERT_EQ(cli({"set", "speed_unit=mph", "--keep-speeds"}).status, CLI_OK);
    EXPECT_EQ(sim::unit().settings().units.bits.is_mph, 1u);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 150);

    // Back to knots, converted (150 mph is 130.3 kt); a V-speed named is taken as typed.
    const CliRun r = cli({"set", "speed_unit=knots", "vs0=40", "--convert-speeds"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(sim::unit().settings().units.bits.is_knots, 1u);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 130);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vs0, 40);
}

} // namespace
