// Two demo programs at once: the second is refused the simulated unit's state while the first
// works on it, and learns who holds it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "sim_state.h"

TEST(SimStateLock, OneDemoProgramAtATimeOnAState) {
    const std::string state = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/unit.state";
    platform::ExclusiveLock first;
    ASSERT_EQ(sim::lockState(state, first), platform::ExclusiveLock::Outcome::Taken);
    platform::ExclusiveLock second;
    EXPECT_EQ(sim::lockState(state, second), platform::ExclusiveLock::Outcome::HeldByOther);
    EXPECT_EQ(sim::stateHolder(state), "program=" + std::string(program_invocation_short_name) +
                                           "\npid=" + std::to_string(getpid()) + "\n");
    first.release();
    EXPECT_EQ(sim::lockState(state, second), platform::ExclusiveLock::Outcome::Taken);
}
