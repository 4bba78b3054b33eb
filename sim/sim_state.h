#ifndef SIM_STATE_H
#define SIM_STATE_H

// The simulated unit's state between runs of a demo program, as a real unit keeps its state
// while it stays powered: its serial number, the record it holds and the record it stored.

#include <cstdint>
#include <vector>

#include "sim_unit.h"

namespace sim {

std::vector<uint8_t> saveState(SimUnit &unit);
// False, and the unit untouched, for bytes that are not a state this version wrote.
bool loadState(const std::vector<uint8_t> &bytes, SimUnit &unit);

} // namespace sim

#endif // SIM_STATE_H
