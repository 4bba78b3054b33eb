#include "unit_locator.h"

#include <thread>

namespace unit_locator {

namespace {

// The serial number of the unit behind one interface, on a link of its own.
uint32_t askSerial(const UnitInterface &unit) {
    CommsManager probe;
    if (unit.iface == USB_HID) {
        if (!probe.getUSBHID()->connect(vendor_id, product_id, unit.path)) {
            return NO_SERIAL;
        }
    } else if (!probe.connectCANFD(unit.path)) {
        return NO_SERIAL;
    }
    return get_serialnumber(&probe, unit.iface);
}

} // namespace

std::vector<UnitInterface> list(const std::string &can_interface, CommsManager *open) {
    return discover_units(can_interface, open);
}

Choice choose(const std::vector<UnitInterface> &units, const Wanted &wanted) {
    Choice choice;
    choice.count = count_units(units);
    if (wanted.by_serial || wanted.by_path) {
        choice.outcome = ChoiceOutcome::NotFound;
        for (const UnitInterface &unit : units) {
            const bool match = wanted.by_serial ? unit.answered() && unit.serial == wanted.serial
                                                : unit.path == wanted.path;
            if (match) {
                choice.outcome = ChoiceOutcome::Chosen;
                choice.unit = unit;
                break;
            }
        }
        return choice;
    }
    choice.outcome = choice.count > 1 ? ChoiceOutcome::Ambiguous : ChoiceOutcome::OnlyOne;
    return choice;
}

UnitChoice connectionFor(const UnitInterface &unit, const std::string &can_interface) {
    UnitChoice choice = choice_for(unit);
    if (unit.iface == USB_HID) {
        choice.can_interface = can_interface;
    }
    return choice;
}

UnitInterface identify(CommsManager *comms) {
    UnitInterface unit;
    if (comms == nullptr || !comms->isConnected()) {
        return unit;
    }
    unit.iface = comms->getActiveInterface();
    unit.path = unit.iface == CAN_FD ? comms->getCANFD()->name() : comms->getUSBHID()->path();
    unit.serial = comms->confirmedSerial(unit.iface);
    return unit;
}

Target targetOf(CommsManager *comms) {
    Target target;
    if (comms == nullptr) {
        target.any_interface = true;
        return target;
    }
    target.can_interface = comms->choice().can_interface;
    target.unit = identify(comms);
    if (target.unit.path.empty()) {
        target.any_interface = true;
        return target;
    }
    if (target.unit.iface == CAN_FD) {
        target.can_interface = target.unit.path;
    }
    // The other units present now: none of them is ever taken for this one when it is away.
    for (const UnitInterface &unit : list(target.can_interface, comms)) {
        if (unit.answered() && unit.serial != target.unit.serial) {
            target.others.insert(unit.serial);
        }
    }
    return target;
}

Look find(const Target &target) {
    std::vector<UnitInterface> candidates;
    for (const UnitInterface &unit : list_unit_interfaces(target.can_interface)) {
        if (!target.any_interface && unit.iface != target.unit.iface) {
            continue; // reached on the other kind of interface: not where it was
        }
        // Its own path first: a unit that restarts in place keeps it.
        if (unit.path == target.unit.path) {
            candidates.insert(candidates.begin(), unit);
        } else {
            candidates.push_back(unit);
        }
    }
    Look other;
    for (UnitInterface &unit : candidates) {
        unit.serial = askSerial(unit);
        if (!unit.answered() || target.others.count(unit.serial) != 0) {
            continue;
        }
        // A unit whose number was not known before counts as the same: there is nothing to tell
        // it from another by.
        if (unit.serial == target.unit.serial || !target.unit.answered()) {
            Look look;
            look.kind = Return::Same;
            look.serial = unit.serial;
            look.unit = unit;
            return look;
        }
        if (other.kind == Return::NotYet) {
            other.kind = Return::Other;
            other.serial = unit.serial;
            other.unit = unit;
        }
    }
    return other;
}

Look lookAndConnect(const Target &target, std::unique_ptr<CommsManager> &comms) {
    // A fresh manager each look, connected or not: the old one knows nothing of the new link.
    comms = std::make_unique<CommsManager>();
    Look look = find(target);
    if (look.kind == Return::NotYet) {
        return look;
    }
    comms->choose(connectionFor(look.unit, target.can_interface));
    if (!comms->establish_connection() ||
        comms->confirmedSerial(comms->getActiveInterface()) != look.serial) {
        comms = std::make_unique<CommsManager>();
        return {};
    }
    return look;
}

Look waitFor(const Target &target, std::unique_ptr<CommsManager> &comms,
             std::chrono::milliseconds timeout, const FwCancelFlag *stop) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (stop != nullptr && stop->load()) {
            return {};
        }
        const Look look = lookAndConnect(target, comms);
        if (look.kind != Return::NotYet || std::chrono::steady_clock::now() >= deadline) {
            return look;
        }
        // Short steps, so that a stop request is taken soon.
        const auto next = std::chrono::steady_clock::now() + LOOK_INTERVAL;
        while (std::chrono::steady_clock::now() < next && (stop == nullptr || !stop->load())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

} // namespace unit_locator
