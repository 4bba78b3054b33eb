// The simulated unit's state kept between demo runs: what a run leaves is what the next finds.
#include <gtest/gtest.h>

#include <cstring>

#include "sim_state.h"

TEST(SimState, KeepsWhatTheUnitHoldsAndWhatItStoredAndRefusesAnythingElse) {
    sim::reset();
    sim::unit().settings().vspeeds.Vne = 160; // sent, not stored
    sim::unit().setSerialNumber(0x0BADF00Du);
    const std::vector<uint8_t> state = sim::saveState(sim::unit());

    sim::reset();
    ASSERT_TRUE(sim::loadState(state, sim::unit()));
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 160);
    EXPECT_EQ(sim::unit().storedSettings().vspeeds.Vne, 150);
    EXPECT_EQ(sim::unit().serialNumber(), 0x0BADF00Du);

    sim::reset();
    std::vector<uint8_t> cut(state.begin(), state.end() - 1);
    std::vector<uint8_t> other = state;
    other[0] ^= 1;
    for (const std::vector<uint8_t> &bad : {cut, other, std::vector<uint8_t>{}}) {
        EXPECT_FALSE(sim::loadState(bad, sim::unit()));
        EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 150);
        EXPECT_EQ(sim::unit().serialNumber(), sim::SimUnit::DEFAULT_SERIAL);
    }
}
