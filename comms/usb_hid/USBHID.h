#ifndef USBHID_H
#define USBHID_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <hidapi.h>

#include "comms_types.h"
#include "hid_access.h"
#include "unit_lock.h"

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
    // The same, opening the interface at `path` among those listed on the vendor usage page
    // (any of them when `path` is empty).
    bool connect(uint16_t vendor_id, uint16_t product_id, const std::string &path);
    // The path of the interface connect() would open, from one device listing and without
    // opening or sending anything; empty when the unit is not plugged in.
    static std::string findInterface(uint16_t vendor_id, uint16_t product_id);
    // Every interface on the vendor usage page, in the order of one device listing.
    static std::vector<std::string> listInterfaces(uint16_t vendor_id, uint16_t product_id);
    void disconnect();
    bool isConnected() const { return connected; }
    // The path of the open interface; empty while none is open.
    const std::string &path() const { return open_path; }
    // True while the open interface is still listed. When it is not, the device is gone: the
    // transport closes it and counts it as lost, as after a failed read or write of a vanished
    // device. False when nothing is open.
    bool checkPresent();
    // True when the open interface vanished since the last connect: the transport closed it
    // and printed "USB HID device disconnected" once.
    bool lost() const { return was_lost; }
    // hidapi is initialised once per process, at the first transport, and shut down at exit:
    // a transport closed while another one is open must not shut it down under the other.
    static void initialiseHidapi();
    // After a connect that found the unit's interface but could not open it: true,
    // with the interface's path and the errno that explains why (0: none known).
    // A later connect clears them.
    bool openRefused() const { return open_refused; }
    const std::string &refusedPath() const { return refused_path; }
    int refusedError() const { return refused_error; }
    // After a connect that found the unit's interface held by another program of the tool:
    // true, with the interface's path and who holds it; nothing was opened or sent. A later
    // connect clears them.
    bool inUse() const { return in_use; }
    const std::string &inUsePath() const { return in_use_path; }
    const UnitHolder &inUseHolder() const { return lock.holder(); }
    // While connected: names the unit's serial number to a second program that is refused.
    void noteSerial(uint32_t serial) { lock.noteSerial(serial); }

    // Bytes received (at least 7), 0 on time-out, -1 on failure or a short report.
    int read(COMMS_MSG_t *msg);
    // The same with a time-out of the caller's choice; 0 polls without waiting.
    int read(COMMS_MSG_t *msg, int timeout_ms);
    // What hid_write returns, or -1 when not connected.
    int write(const uint8_t *data, std::size_t length);
    // -1 for a message whose msg_len lies beyond its data: nothing is sent.
    int write(const COMMS_MSG_t &msg);

private:
    // After a hidapi failure: whether the open interface is still listed, and if not, closes it
    // and counts it as lost.
    void noticeVanished();
    void markLost();

    hid_device *device_handle;
    bool connected;
    uint8_t report_ID;
    bool open_refused = false;
    std::string refused_path;
    int refused_error = 0;
    std::string open_path;
    uint16_t open_vendor_id = 0;
    uint16_t open_product_id = 0;
    bool was_lost = false;
    // Held from before the interface is opened until it is closed.
    UnitLock lock;
    bool in_use = false;
    std::string in_use_path;
};

#endif // USBHID_H
