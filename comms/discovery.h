#ifndef DISCOVERY_H
#define DISCOVERY_H

// The units on this machine: several may be plugged in at once (a panel with two displays, a
// shop bench), and the tool must never configure one while the user means another. The window's
// Device menu and efis-cli's `devices`, `--serial` and `--device` all read this one list.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "comms.h"

// One interface that leads to a unit.
struct UnitInterface {
    COMM_INTERFACE_t iface = USB_HID;
    std::string path;              // USB HID: the device path; CAN FD: the interface name
    uint32_t serial = 0xFFFFFFFFu; // as the serial-number exchange read it; 0xFFFFFFFF: no answer
    // Held by another program of the tool: not asked (nothing is sent to it); the serial number
    // is the one its holder named, when it did.
    bool in_use = false;
    UnitHolder holder;
    // It answered with the serial number 0xFFFFFFFF: never written, or erased.
    bool serial_erased = false;
    bool answered() const { return serial != 0xFFFFFFFFu; }
};

// The interfaces that may lead to a unit, from one device listing and the CAN FD interface's
// flags, without opening or sending anything: every USB HID interface with the unit's vendor
// and product on the vendor usage page, then `can_interface` when it exists and is up.
std::vector<UnitInterface> list_unit_interfaces(const std::string &can_interface);

// The same interfaces, each asked for its serial number (opened, asked, closed). The interfaces
// that `open` holds connected are not asked again: the serial number it confirmed is taken.
std::vector<UnitInterface> discover_units(const std::string &can_interface,
                                          CommsManager *open = nullptr);

// How many units the interfaces lead to: those that answered with the same serial number are
// one unit (the same unit on USB HID and on its bus), each that did not answer is one more.
std::size_t count_units(const std::vector<UnitInterface> &interfaces);

// The connection choice that opens `unit` alone.
UnitChoice choice_for(const UnitInterface &unit);

// "EFIS 0x12345678 - USB /dev/hidraw3", "EFIS 0x12345678 - CAN FD can0"; for an interface
// that did not answer, "EFIS (not answering) - USB /dev/hidraw4"; for one another program holds,
// "EFIS 0x12345678 - USB /dev/hidraw3 - in use by efis-cli, process 4242" (the serial number as
// "(serial number not known)" when its holder did not name it).
std::string describe_unit(const UnitInterface &unit);
// The interface's name: "USB HID" or "CAN FD".
const char *interface_name(COMM_INTERFACE_t iface);

#endif // DISCOVERY_H
