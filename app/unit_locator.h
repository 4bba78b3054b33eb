#ifndef UNIT_LOCATOR_H
#define UNIT_LOCATOR_H

// Finding the unit a person means, for the window and efis-cli alike: the units present, the
// one chosen among them (never a guess when there are several), which unit a connection reaches,
// and the same unit again after its reboot, on the interface it was reached on (a hidraw node is
// named anew when the unit re-enumerates; its serial number is what stays).

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "comms.h"
#include "discovery.h"
#include "firmware_ops.h"

namespace unit_locator {

// What get_serialnumber returns for a unit that did not say.
inline constexpr uint32_t NO_SERIAL = 0xFFFFFFFFu;
// The longest a unit takes to come back from its reboot.
inline constexpr std::chrono::seconds RETURN_TIMEOUT{60};
// How often a wait looks for the unit while it is away.
inline constexpr std::chrono::milliseconds LOOK_INTERVAL{500};

// Every unit interface present, each asked for its serial number (`open`'s own are not asked).
std::vector<UnitInterface> list(const std::string &can_interface, CommsManager *open = nullptr);

// What the person asked for: a serial number, a path (a USB HID path or a CAN FD interface's
// name), or neither (the only unit present).
struct Wanted {
    bool by_serial = false;
    uint32_t serial = NO_SERIAL;
    bool by_path = false;
    std::string path;
};

enum class ChoiceOutcome {
    Chosen,    // `unit` is the one
    OnlyOne,   // nothing asked for and one unit (or none) present: the default connection finds it
    NotFound,  // the serial number or path asked for is not among the units
    Ambiguous, // nothing asked for and several units present: nothing is chosen
};

struct Choice {
    ChoiceOutcome outcome = ChoiceOutcome::OnlyOne;
    UnitInterface unit;
    std::size_t count = 0; // units present (an interface on USB and CAN FD of one unit is one)
};

// Chooses among `units` (as list() gave them) what `wanted` names.
Choice choose(const std::vector<UnitInterface> &units, const Wanted &wanted);

// The connection choice that opens `unit` alone, keeping `can_interface` for later looks.
UnitChoice connectionFor(const UnitInterface &unit, const std::string &can_interface);

// The unit a connected manager reaches: its interface, path and serial number (as confirmed at
// connection); an empty path when none is connected.
UnitInterface identify(CommsManager *comms);

// The unit to find again after its reboot: its serial number, the kind of interface it was
// reached on and that interface's path (a preference only), and the serial numbers of the other
// units present when it left, which are never taken for it.
struct Target {
    UnitInterface unit;
    std::string can_interface = DEFAULT_CANFD_INTERFACE;
    bool any_interface = false; // reached without a choice of interface (kept for a manager
                                // whose interface could not be told)
    std::set<uint32_t> others;
};

// The target for the unit `comms` reaches now (before its reboot).
Target targetOf(CommsManager *comms);

enum class Return {
    NotYet, // no unit answered in its place
    Same,   // the unit with the serial number of before, on its kind of interface
    Other   // a unit that was not there before answered in its place; `serial` holds its number
};

struct Look {
    Return kind = Return::NotYet;
    uint32_t serial = NO_SERIAL;
    UnitInterface unit; // for Same and Other: where it answered
};

// One look for the target, without connecting: the interfaces of its kind are listed and asked
// for their serial numbers (the units of `target.others` are passed over).
Look find(const Target &target);

// One look that connects: when find() sees the unit (Same or Other), a fresh manager is opened
// on the interface where it answered; NotYet leaves `comms` a manager not connected.
Look lookAndConnect(const Target &target, std::unique_ptr<CommsManager> &comms);

// Looks every LOOK_INTERVAL until the unit (or another in its place) answers, `timeout` has
// passed or `stop` (may be null) is set.
Look waitFor(const Target &target, std::unique_ptr<CommsManager> &comms,
             std::chrono::milliseconds timeout, const FwCancelFlag *stop);

} // namespace unit_locator

#endif // UNIT_LOCATOR_H
