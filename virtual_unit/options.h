#ifndef VIRTUAL_UNIT_OPTIONS_H
#define VIRTUAL_UNIT_OPTIONS_H

// efis-virtual-unit's command line: what the unit is and how it behaves on its links.

#include <cstdint>
#include <string>

#include "mem_layout.h"
#include "sim_unit.h"

namespace vu {

constexpr const char *PROGRAM = "efis-virtual-unit";

struct Options {
    uint32_t serial = sim::SimUnit::DEFAULT_SERIAL;
    unsigned reply_delay_us = 0;
    bool decoy = false;
    long unplug_after = -1; // requests answered before the plug is pulled; -1: never
    mx25_partition partition = partition_1;
    std::string summary_path;
    std::string image_path;
    std::string can_interface; // empty: no CAN FD link
    bool usb = true;
    bool broadcast = false;
    long reboot_away_ms = -1;   // on the reboot command, off the bus this long; -1: stays on
    bool reboot_resets = false; // the new firmware starts from a factory record
};

// Returns 0 when parsed, otherwise the exit status: 1 after --help (said on standard output), 2 for
// a refusal (said on standard error with the usage).
int parseOptions(int argc, char **argv, Options *o);

} // namespace vu

#endif // VIRTUAL_UNIT_OPTIONS_H
