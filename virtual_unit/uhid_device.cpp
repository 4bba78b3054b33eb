#include "uhid_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace vu {

namespace {

constexpr uint8_t UNIT_REPORT_ID = 5;
constexpr uint8_t UNIT_OUTPUT_REPORT_DATA = 69; // identifier (4), length, 64 payload bytes

std::vector<uint8_t> vendorDescriptor(uint8_t usage_page_low, uint8_t usage_page_high) {
    return {
        0x06,
        usage_page_low,
        usage_page_high, // Usage Page (vendor defined)
        0x09,
        0x01, // Usage (1)
        0xA1,
        0x01, // Collection (Application)
        0x85,
        UNIT_REPORT_ID, //   Report ID
        0x15,
        0x00, //   Logical Minimum (0)
        0x26,
        0xFF,
        0x00, //   Logical Maximum (255)
        0x75,
        0x08, //   Report Size (8 bits)
        0x95,
        UNIT_INPUT_REPORT_DATA, //   Report Count
        0x09,
        0x01, //   Usage (1)
        0x81,
        0x02, //   Input (Data, Variable, Absolute)
        0x95,
        UNIT_OUTPUT_REPORT_DATA, //   Report Count
        0x09,
        0x01, //   Usage (1)
        0x91,
        0x02, //   Output (Data, Variable, Absolute)
        0xC0, // End Collection
    };
}

// Copies a string into a fixed field of a kernel request (zeroed before), always
// NUL-terminated. The field is reached by address: the request is packed.
void putString(void *field, std::size_t size, const std::string &s) {
    std::memcpy(field, s.data(), std::min(s.size(), size - 1));
}

std::string readFile(const std::string &path) {
    std::ifstream in(path);
    std::string content;
    std::string line;
    while (std::getline(in, line)) {
        content += line;
        content += '\n';
    }
    return content;
}

} // namespace

std::vector<uint8_t> unitReportDescriptor() {
    return vendorDescriptor(0x00, 0xFF);
}

std::vector<uint8_t> decoyReportDescriptor() {
    return vendorDescriptor(0x01, 0xFF);
}

UhidDevice::~UhidDevice() {
    destroy();
}

bool UhidDevice::create(const Identity &identity, std::string *error) {
    destroy();
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (error != nullptr) {
            if (err == ENOENT || err == ENODEV) {
                *error = "/dev/uhid does not exist: the kernel's uhid module is not loaded "
                         "(load it with: sudo modprobe uhid)";
            } else if (err == EACCES || err == EPERM) {
                *error = "/dev/uhid is not open for reading and writing to this user "
                         "(run as root, or give this user read/write access to /dev/uhid)";
            } else {
                *error = std::string("cannot open /dev/uhid: ") + std::strerror(err);
            }
        }
        return false;
    }
    if (identity.report_descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
        ::close(fd);
        if (error != nullptr) {
            *error = "report descriptor too long";
        }
        return false;
    }

    uhid_event event;
    std::memset(&event, 0, sizeof(event));
    event.type = UHID_CREATE2;
    putString(event.u.create2.name, sizeof(event.u.create2.name), identity.name);
    putString(event.u.create2.phys, sizeof(event.u.create2.phys), identity.phys);
    putString(event.u.create2.uniq, sizeof(event.u.create2.uniq), identity.uniq);
    event.u.create2.rd_size = static_cast<uint16_t>(identity.report_descriptor.size());
    event.u.create2.bus = BUS_USB;
    event.u.create2.vendor = identity.vendor;
    event.u.create2.product = identity.product;
    event.u.create2.version = 0;
    event.u.create2.country = 0;
    std::memcpy(event.u.create2.rd_data, identity.report_descriptor.data(),
                identity.report_descriptor.size());

    fd_ = fd;
    identity_ = identity;
    if (!writeEvent(event)) {
        const int err = errno;
        ::close(fd);
        fd_ = -1;
        if (error != nullptr) {
            *error = std::string("the kernel refused to create the device: ") + std::strerror(err);
        }
        return false;
    }
    return true;
}

void UhidDevice::destroy() {
    if (fd_ < 0) {
        return;
    }
    uhid_event event;
    std::memset(&event, 0, sizeof(event));
    event.type = UHID_DESTROY;
    writeEvent(event); // closing the descriptor removes the device as well
    ::close(fd_);
    fd_ = -1;
}

bool UhidDevice::writeEvent(const uhid_event &event) {
    if (fd_ < 0) {
        return false;
    }
    ssize_t n;
    do {
        n = ::write(fd_, &event, sizeof(event));
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof(event));
}

bool UhidDevice::readEvent(uhid_event *event) {
    if (fd_ < 0 || event == nullptr) {
        return false;
    }
    // The kernel may write a shorter event than this header's: the rest reads as zero.
    std::memset(event, 0, sizeof(*event));
    ssize_t n;
    do {
        n = ::read(fd_, event, sizeof(*event));
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

bool UhidDevice::sendInput(const uint8_t *data, std::size_t length) {
    if (data == nullptr || length > UHID_DATA_MAX) {
        return false;
    }
    uhid_event event;
    std::memset(&event, 0, sizeof(event));
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<uint16_t>(length);
    std::memcpy(event.u.input2.data, data, length);
    return writeEvent(event);
}

bool UhidDevice::refuseReportRequest(const uhid_event &request) {
    uhid_event reply;
    std::memset(&reply, 0, sizeof(reply));
    if (request.type == UHID_GET_REPORT) {
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = request.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
    } else if (request.type == UHID_SET_REPORT) {
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = request.u.set_report.id;
        reply.u.set_report_reply.err = EIO;
    } else {
        return false;
    }
    return writeEvent(reply);
}

std::string UhidDevice::hidrawNode() const {
    if (fd_ < 0) {
        return {};
    }
    const std::string want_phys = "HID_PHYS=" + identity_.phys + "\n";
    const std::string want_uniq = "HID_UNIQ=" + identity_.uniq + "\n";
    std::string found;
    DIR *dir = ::opendir("/sys/class/hidraw");
    if (dir == nullptr) {
        return {};
    }
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind("hidraw", 0) != 0) {
            continue;
        }
        const std::string uevent = readFile("/sys/class/hidraw/" + name + "/device/uevent");
        if (uevent.find(want_phys) != std::string::npos &&
            uevent.find(want_uniq) != std::string::npos) {
            found = "/dev/" + name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

} // namespace vu
