#include "discovery.h"

#include <cstdio>
#include <set>

std::vector<UnitInterface> list_unit_interfaces(const std::string &can_interface) {
    std::vector<UnitInterface> found;
    for (const std::string &path : USBHID::listInterfaces(vendor_id, product_id)) {
        UnitInterface unit;
        unit.iface = USB_HID;
        unit.path = path;
        found.push_back(unit);
    }
    if (CANFD::interfaceUp(can_interface)) {
        UnitInterface unit;
        unit.iface = CAN_FD;
        unit.path = can_interface;
        found.push_back(unit);
    }
    return found;
}

namespace {

// The serial number of the unit behind one interface, on a link of its own; an interface that
// another program holds is not asked.
void askSerial(UnitInterface *unit) {
    CommsManager probe;
    const bool open = unit->iface == USB_HID
                          ? probe.getUSBHID()->connect(vendor_id, product_id, unit->path)
                          : probe.connectCANFD(unit->path);
    if (open) {
        uint32_t serial = 0xFFFFFFFFu;
        unit->serial_erased =
            get_serialnumber_checked(&probe, unit->iface, &serial) && serial == ERASED_SERIAL;
        unit->serial = serial;
        return;
    }
    const USBHID *usb = probe.getUSBHID();
    const CANFD *can = probe.getCANFD();
    if (unit->iface == USB_HID && usb->inUse()) {
        unit->in_use = true;
        unit->holder = usb->inUseHolder();
    } else if (unit->iface == CAN_FD && can->inUse()) {
        unit->in_use = true;
        unit->holder = can->inUseHolder();
    }
    unit->serial = unit->in_use ? unit->holder.serial : 0xFFFFFFFFu;
}

} // namespace

std::vector<UnitInterface> discover_units(const std::string &can_interface, CommsManager *open) {
    std::vector<UnitInterface> found = list_unit_interfaces(can_interface);
    for (UnitInterface &unit : found) {
        if (open != nullptr) {
            const USBHID *usb = open->getUSBHID();
            const CANFD *can = open->getCANFD();
            const bool held =
                unit.iface == USB_HID
                    ? usb != nullptr && usb->isConnected() && usb->path() == unit.path
                    : can != nullptr && can->isConnected() && can->name() == unit.path;
            if (held) {
                // Asking again on a second handle would put a stray reply before the open
                // link's next exchange.
                unit.serial = open->confirmedSerial(unit.iface);
                continue;
            }
        }
        askSerial(&unit);
    }
    return found;
}

std::size_t count_units(const std::vector<UnitInterface> &interfaces) {
    std::set<uint32_t> serials;
    std::size_t silent = 0;
    for (const UnitInterface &unit : interfaces) {
        if (unit.answered()) {
            serials.insert(unit.serial);
        } else {
            ++silent;
        }
    }
    return serials.size() + silent;
}

UnitChoice choice_for(const UnitInterface &unit) {
    UnitChoice choice;
    if (unit.iface == USB_HID) {
        choice.usb_path = unit.path;
        choice.use_can = false;
    } else {
        choice.use_usb = false;
        choice.can_interface = unit.path;
    }
    return choice;
}

const char *interface_name(COMM_INTERFACE_t iface) {
    return iface == CAN_FD ? "CAN FD" : "USB HID";
}

std::string describe_unit(const UnitInterface &unit) {
    char serial[16];
    std::snprintf(serial, sizeof(serial), "0x%08X", static_cast<unsigned>(unit.serial));
    const char *unknown = unit.in_use          ? "(serial number not known)"
                          : unit.serial_erased ? "(serial number erased)"
                                               : "(not answering)";
    std::string text = std::string("EFIS ") + (unit.answered() ? serial : unknown) + " - " +
                       (unit.iface == CAN_FD ? "CAN FD " : "USB ") + unit.path;
    if (unit.in_use) {
        std::string by = unit.holder.program;
        if (unit.holder.pid != 0) {
            by += (by.empty() ? "process " : ", process ") + std::to_string(unit.holder.pid);
        }
        text += " - in use by " + (by.empty() ? std::string("another program") : by);
    }
    return text;
}
