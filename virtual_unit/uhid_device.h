// One HID device that the kernel treats like a USB one, served by this process through
// /dev/uhid: the kernel binds its HID drivers to it, gives it a hidraw node, and hands every
// output report written to that node to this process, which answers with input reports.
#ifndef VIRTUAL_UNIT_UHID_DEVICE_H
#define VIRTUAL_UNIT_UHID_DEVICE_H

#include <linux/uhid.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vu {

// What the kernel is told about the device when it is created.
struct Identity {
    std::string name; // product name, as udev and hidapi show it
    std::string phys; // physical path; unique per device of this process
    std::string uniq; // serial number string
    uint16_t vendor = 0;
    uint16_t product = 0;
    std::vector<uint8_t> report_descriptor;
};

// The unit's interface: vendor usage page 0xFF00, report number 5 both ways, an input report
// of 70 data bytes (interface byte, identifier, length, 64 payload bytes) and an output report
// of 69 (identifier, length, 64 payload bytes).
std::vector<uint8_t> unitReportDescriptor();
// An interface of the same USB device that is not the unit's: another usage page.
std::vector<uint8_t> decoyReportDescriptor();

// Bytes of an input report of the unit after its report number.
constexpr std::size_t UNIT_INPUT_REPORT_DATA = 70;

class UhidDevice {
public:
    UhidDevice() = default;
    ~UhidDevice();
    UhidDevice(const UhidDevice &) = delete;
    UhidDevice &operator=(const UhidDevice &) = delete;

    // Opens /dev/uhid and creates the device. On failure returns false with a message that
    // says what to do about it.
    bool create(const Identity &identity, std::string *error);
    // Removes the device from the kernel, as pulling its plug does; the hidraw node goes away.
    void destroy();
    bool created() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const Identity &identity() const { return identity_; }

    // Reads one event from the kernel (blocks unless poll said it is ready). False on error.
    bool readEvent(uhid_event *event);
    // Sends one input report, report number first. False on error or a report too long.
    bool sendInput(const uint8_t *data, std::size_t length);
    // Refuses a get-report or set-report request of the kernel (the unit has none).
    bool refuseReportRequest(const uhid_event &request);

    // The hidraw node the kernel made for this device, found through sysfs by its physical
    // path and serial number; empty until the kernel has made it.
    std::string hidrawNode() const;

private:
    bool writeEvent(const uhid_event &event);

    int fd_ = -1;
    Identity identity_;
};

} // namespace vu

#endif // VIRTUAL_UNIT_UHID_DEVICE_H
