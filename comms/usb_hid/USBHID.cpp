#include "USBHID.h"

#include "hid_access.h"
#include "wire.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

void USBHID::initialiseHidapi() {
    static const bool initialised = [] {
        hid_init();
        std::atexit([] { hid_exit(); });
        return true;
    }();
    (void)initialised;
}

USBHID::USBHID() : device_handle(nullptr), connected(false), report_ID(5) {
    initialiseHidapi();
}

USBHID::~USBHID() {
    disconnect();
}

bool USBHID::connect(uint16_t vendor_id, uint16_t product_id) {
    return connect(vendor_id, product_id, std::string());
}

bool USBHID::connect(uint16_t vendor_id, uint16_t product_id, const std::string &wanted) {
    if (connected) {
        disconnect();
    }
    was_lost = false;
    open_refused = false;
    refused_path.clear();
    refused_error = 0;
    in_use = false;
    in_use_path.clear();
    hid_device_info *list = hid_enumerate(vendor_id, product_id);
    if (list == nullptr) {
        connected = false;
        return false;
    }
    // The unit's interface is the first one on the vendor-defined usage page;
    // the unit may list others (keyboard, consumer control) first.
    const char *path = nullptr;
    for (hid_device_info *dev = list; dev != nullptr; dev = dev->next) {
        if (dev->vendor_id == vendor_id && dev->product_id == product_id &&
            dev->usage_page == COMMS_VENDOR_USAGE_PAGE && dev->path != nullptr &&
            (wanted.empty() || wanted == dev->path)) {
            path = dev->path;
            break;
        }
    }
    if (path == nullptr) {
        hid_free_enumeration(list);
        connected = false;
        return false;
    }
    // Another program on the same unit would take this one's replies and the other way round:
    // the lock comes before the interface is opened, and one held elsewhere refuses it.
    if (lock.take(USB_HID, path) == UnitLock::Outcome::InUse) {
        in_use = true;
        in_use_path = path;
        hid_free_enumeration(list);
        connected = false;
        return false;
    }
    errno = 0; // a backend may leave the errno of its failed open(); none older may pass for it
    device_handle = hid_open_path(path);
    if (device_handle == nullptr) {
        const int backend_error = errno; // before anything else can change it
        open_refused = true;
        refused_path = path;
        refused_error = probeHidNode(path, backend_error);
        lock.release();
    }
    if (device_handle != nullptr) {
        open_path = path;
        open_vendor_id = vendor_id;
        open_product_id = product_id;
    }
    hid_free_enumeration(list);
    connected = device_handle != nullptr;
    return connected;
}

std::vector<std::string> USBHID::listInterfaces(uint16_t vendor_id, uint16_t product_id) {
    initialiseHidapi();
    std::vector<std::string> paths;
    hid_device_info *list = hid_enumerate(vendor_id, product_id);
    for (hid_device_info *dev = list; dev != nullptr; dev = dev->next) {
        if (dev->vendor_id == vendor_id && dev->product_id == product_id &&
            dev->usage_page == COMMS_VENDOR_USAGE_PAGE && dev->path != nullptr) {
            paths.emplace_back(dev->path);
        }
    }
    if (list != nullptr) {
        hid_free_enumeration(list);
    }
    return paths;
}

bool USBHID::checkPresent() {
    if (!connected || device_handle == nullptr) {
        return false;
    }
    noticeVanished();
    return connected;
}

void USBHID::noticeVanished() {
    for (const std::string &listed : listInterfaces(open_vendor_id, open_product_id)) {
        if (listed == open_path) {
            return; // a failure of the exchange, not of the device
        }
    }
    markLost();
}

void USBHID::markLost() {
    disconnect();
    was_lost = true;
    std::printf("USB HID device disconnected\n");
}

std::string USBHID::findInterface(uint16_t vendor_id, uint16_t product_id) {
    const std::vector<std::string> paths = listInterfaces(vendor_id, product_id);
    return paths.empty() ? std::string() : paths.front();
}

void USBHID::disconnect() {
    if (device_handle != nullptr) {
        hid_close(device_handle);
        device_handle = nullptr;
    }
    lock.release();
    connected = false;
    open_path.clear();
}

int USBHID::read(COMMS_MSG_t *msg) {
    return read(msg, READ_TIMEOUT_MS);
}

int USBHID::read(COMMS_MSG_t *msg, int timeout_ms) {
    if (!connected || device_handle == nullptr || msg == nullptr) {
        return -1;
    }
    uint8_t buffer[INPUT_REPORT_SIZE] = {};
    // A signal that lands while the read waits (Ctrl-C, a terminal resized) interrupts the wait,
    // not the exchange: the read waits out the rest of its time-out, and the program decides
    // between exchanges what the signal means.
    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    int received;
    int wait = timeout_ms;
    for (;;) {
        errno = 0;
        received = hid_read_timeout(device_handle, buffer, sizeof(buffer), wait);
        if (received >= 0 || errno != EINTR) {
            break;
        }
        if (timeout_ms > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }
    if (received < 0) {
        noticeVanished();
    }
    if (received <= 0) {
        return received;
    }
    // Report number, interface, identifier (4), length: anything shorter is no message.
    constexpr int header = 7;
    if (received < header) {
        return -1;
    }
    const int in_buffer =
        received < static_cast<int>(sizeof(buffer)) ? received : static_cast<int>(sizeof(buffer));
    std::memset(msg, 0, sizeof(*msg));
    msg->iface = buffer[1];
    msg->can_ID = wire::le32(buffer + 2);
    msg->msg_len = buffer[6];
    // Copy no more than was carried, was announced, or fits the record.
    int payload = in_buffer - header;
    if (payload > msg->msg_len) {
        payload = msg->msg_len;
    }
    if (payload > COMMS_MSG_DATA_LEN) {
        payload = COMMS_MSG_DATA_LEN;
    }
    if (payload > 0) {
        std::memcpy(msg->data, buffer + header, static_cast<std::size_t>(payload));
    }
    return received;
}

int USBHID::write(const uint8_t *data, std::size_t length) {
    if (!connected || device_handle == nullptr) {
        return -1;
    }
    std::vector<uint8_t> report(length + 1);
    report[0] = report_ID;
    if (length > 0) {
        std::memcpy(report.data() + 1, data, length);
    }
    int written;
    do {
        // A device write that a signal interrupts has written nothing: it is made again.
        errno = 0;
        written = hid_write(device_handle, report.data(), report.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        noticeVanished();
    }
    return written;
}

int USBHID::write(const COMMS_MSG_t &msg) {
    if (!connected || device_handle == nullptr) {
        return -1;
    }
    // A length beyond the record's data would send bytes that belong to no message.
    if (msg.msg_len > COMMS_MSG_DATA_LEN) {
        return -1;
    }
    std::vector<uint8_t> bytes(static_cast<std::size_t>(msg.msg_len) + 5);
    wire::putLe32(bytes.data(), msg.can_ID);
    bytes[4] = msg.msg_len;
    std::memcpy(bytes.data() + 5, msg.data, msg.msg_len);
    return write(bytes.data(), bytes.size());
}
