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

// The serial number of the unit behind one interface, on a link of its own.
uint32_t askSerial(const UnitInterface &unit) {
    CommsManager probe;
    if (unit.iface == USB_HID) {
        if (!probe.getUSBHID()->connect(vendor_id, product_id, unit.path)) {
            return 0xFFFFFFFFu;
        }
    } else if (!probe.connectCANFD(unit.path)) {
        return 0xFFFFFFFFu;
    }
    return get_serialnumber(&probe, unit.iface);
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
        unit.serial = askSerial(unit);
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
    return std::string("EFIS ") + (unit.answered() ? serial : "(not answering)") + " - " +
           (unit.iface == CAN_FD ? "CAN FD " : "USB ") + unit.path;
}
