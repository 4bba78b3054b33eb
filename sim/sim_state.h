#ifndef SIM_STATE_H
#define SIM_STATE_H

// The simulated unit's state between runs of a demo program, as a real unit keeps its state
// while it stays powered: its serial number, the record it holds and the record it stored.

#include <cstdint>
#include <string>
#include <vector>

#include "exclusive_lock.h"
#include "sim_unit.h"

namespace sim {

std::vector<uint8_t> saveState(SimUnit &unit);
// False, and the unit untouched, for bytes that are not a state this version wrote.
bool loadState(const std::vector<uint8_t> &bytes, SimUnit &unit);

// A demo program holds the lock of its state file from the load of the state to its save, as a
// program of the tool holds a unit while it works with it: a second demo program run meanwhile
// would otherwise start from the old state and one of the two would lose its changes. The lock
// is a file beside the state (`state_path` + ".lock") that names its holder as a unit's lock
// file does; HeldByOther refuses the second program.
platform::ExclusiveLock::Outcome lockState(const std::string &state_path,
                                           platform::ExclusiveLock &lock);
// Who holds the state's lock, as its lock file says ("program=...", "pid=..." lines).
std::string stateHolder(const std::string &state_path);

} // namespace sim

#endif // SIM_STATE_H
