// The hidapi functions the tool calls, answered by the simulated unit. Linked in
// place of the system hidapi library, so that the tool's USB transport runs
// unchanged against the unit.
#include <hidapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <string>

#include "sim_unit.h"

// An open device: the unit, or another interface of the list that answers nothing.
struct hid_device_ {
    bool is_unit = false;
    std::size_t unit = 0;    // which of sim::units()
    unsigned generation = 0; // its plug generation when opened
};

namespace {

std::set<hid_device *> &openDevices() {
    static std::set<hid_device *> devices;
    return devices;
}

bool isOpen(hid_device *dev) {
    return dev != nullptr && openDevices().count(dev) != 0;
}

// The unit an open handle reaches; nullptr for another interface, and for a handle opened
// before the unit was unplugged and plugged in again (its device node is gone).
sim::SimUnit *unitOf(hid_device *dev) {
    if (!dev->is_unit || dev->unit >= sim::units().size()) {
        return nullptr;
    }
    sim::SimUnit &unit = sim::units()[dev->unit];
    return unit.plugGeneration() == dev->generation ? &unit : nullptr;
}

char *copyString(const std::string &s) {
    char *copy = static_cast<char *>(std::malloc(s.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, s.c_str(), s.size() + 1);
    }
    return copy;
}

void freeList(hid_device_info *devs) {
    while (devs != nullptr) {
        hid_device_info *next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

} // namespace

namespace sim {

HidCalls &hidCalls() {
    static HidCalls calls;
    return calls;
}

} // namespace sim

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void) {
    ++sim::hidCalls().init;
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void) {
    ++sim::hidCalls().exit;
    return 0;
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id) {
    for (sim::SimUnit &unit : sim::units()) {
        unit.onEnumerate();
    }
    hid_device_info *head = nullptr;
    hid_device_info **tail = &head;
    for (const sim::SimUnit &unit : sim::units()) {
        for (const sim::EnumEntry &e : unit.enumeration()) {
            if (e.is_unit && unit.unplugged()) {
                continue; // a vanished device is no longer listed
            }
            if ((vendor_id != 0 && e.vendor_id != vendor_id) ||
                (product_id != 0 && e.product_id != product_id)) {
                continue;
            }
            auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
            char *path = info != nullptr ? copyString(e.path) : nullptr;
            if (path == nullptr) {
                std::free(info);
                freeList(head);
                return nullptr;
            }
            info->path = path;
            info->vendor_id = e.vendor_id;
            info->product_id = e.product_id;
            info->usage_page = e.usage_page;
            *tail = info;
            tail = &info->next;
        }
    }
    if (head != nullptr) {
        ++sim::hidCalls().enumerate;
    }
    return head;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs) {
    if (devs == nullptr) {
        return;
    }
    ++sim::hidCalls().free_enumeration;
    freeList(devs);
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open_path(const char *path) {
    if (path == nullptr) {
        return nullptr;
    }
    for (std::size_t index = 0; index < sim::units().size(); ++index) {
        const sim::SimUnit &unit = sim::units()[index];
        if (unit.openFails()) {
            continue;
        }
        for (const sim::EnumEntry &e : unit.enumeration()) {
            if (e.path != path) {
                continue;
            }
            if (e.is_unit && unit.unplugged()) {
                return nullptr;
            }
            if (e.is_unit && unit.openError() != 0) {
                errno = unit.openError();
                return nullptr;
            }
            auto *dev = new (std::nothrow) hid_device_;
            if (dev == nullptr) {
                return nullptr;
            }
            dev->is_unit = e.is_unit;
            dev->unit = index;
            dev->generation = unit.plugGeneration();
            openDevices().insert(dev);
            ++sim::hidCalls().open;
            return dev;
        }
    }
    return nullptr;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device *dev) {
    if (!isOpen(dev)) {
        return;
    }
    openDevices().erase(dev);
    delete dev;
    ++sim::hidCalls().close;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device *dev, const unsigned char *data,
                                          size_t length) {
    if (!isOpen(dev) || data == nullptr) {
        return -1;
    }
    if (!dev->is_unit) {
        return length == 0 ? -1 : static_cast<int>(length < 0x7FFFFFFF ? length : 0x7FFFFFFF);
    }
    sim::SimUnit *unit = unitOf(dev);
    return unit == nullptr ? -1 : unit->onOutputReport(data, length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device *dev, unsigned char *data,
                                                 size_t length, int milliseconds) {
    if (!isOpen(dev) || data == nullptr) {
        return -1;
    }
    if (!dev->is_unit) {
        return 0; // this interface never sends anything
    }
    sim::SimUnit *unit = unitOf(dev);
    return unit == nullptr ? -1 : unit->readInputReport(data, length, milliseconds);
}

// What the About box names as the hidapi in use.
HID_API_EXPORT const char *HID_API_CALL hid_version_str(void) {
    return "(none: the simulated unit answers the hidapi calls)";
}

} // extern "C"
