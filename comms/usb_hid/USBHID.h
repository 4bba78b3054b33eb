#ifndef USBHID_H
#define USBHID_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <hidapi.h>

#include "comms_types.h"
#include "hid_access.h"

// The unit's vendor-defined HID interface. Each message travels in one report:
// output reports are [report number, can_ID (LE), msg_len, payload], input
// reports carry one more byte, the interface, after the report number.
class USBHID {
public:
    // Read time-out of one reply, and the size of the input buffer.
    static constexpr int READ_TIMEOUT_MS = 1000;
    static constexpr std::size_t INPUT_REPORT_SIZE = 128;

    USBHID();
    ~USBHID();
    USBHID(const USBHID &) = delete;
    USBHID &operator=(const USBHID &) = delete;

    bool connect(uint16_t vendor_id, uint16_t product_id);
    // The path of the interface connect() would open, from one device listing and without
    // opening or sending anything; empty when the unit is not plugged in.
    static std::string findInterface(uint16_t vendor_id, uint16_t product_id);
    void disconnect();
    bool isConnected() const { return connected; }
    // After a connect that found the unit's interface but could not open it: true,
    // with the interface's path and the errno that explains why (0: none known).
    // A later connect clears them.
    bool openRefused() const { return open_refused; }
    const std::string &refusedPath() const { return refused_path; }
    int refusedError() const { return refused_error; }

    // Bytes received (at least 7), 0 on time-out, -1 on failure or a short report.
    int read(COMMS_MSG_t *msg);
    // The same with a time-out of the caller's choice; 0 polls without waiting.
    int read(COMMS_MSG_t *msg, int timeout_ms);
    // What hid_write returns, or -1 when not connected.
    int write(const uint8_t *data, std::size_t length);
    // -1 for a message whose msg_len lies beyond its data: nothing is sent.
    int write(const COMMS_MSG_t &msg);

private:
    hid_device *device_handle;
    bool connected;
    uint8_t report_ID;
    bool open_refused = false;
    std::string refused_path;
    int refused_error = 0;
};

#endif // USBHID_H
