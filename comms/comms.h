#ifndef COMMS_H
#define COMMS_H

#include <cstdint>
#include <string>

#include "canfd.h"
#include "comms_types.h"
#include "USBHID.h"

// Which record on the unit a protocol operation addresses.
typedef enum : uint32_t {
    SENSOR_COMMS = 0,  // sensor calibration
    SETTINGS_COMMS = 1 // user settings
} target_comms_t;

// The one route of all traffic with the unit: owns both transports, confirms
// them by serial number and sends every message on the live one, USB HID first.
class CommsManager {
public:
    // How many waiting input reports one write discards at most before sending.
    static constexpr int MAX_STALE_DISCARDS = 256;

    CommsManager();
    ~CommsManager();
    CommsManager(const CommsManager &) = delete;
    CommsManager &operator=(const CommsManager &) = delete;

    bool connectUSB(uint16_t vendor_id, uint16_t product_id);
    bool connectCANFD(const std::string &interface_name);
    bool establish_connection();

    // Discards replies that arrived too late for their own exchange, then sends.
    int write(const COMMS_MSG_t &msg);
    int read(COMMS_MSG_t *msg);
    bool isConnected() const;
    COMM_INTERFACE_t getActiveInterface() const;

    USBHID *getUSBHID() { return usbHid; }
    CANFD *getCANFD() { return canFd; }

private:
    void discardStaleMessages();

    USBHID *usbHid;
    CANFD *canFd;
};

// The unit's serial number, 0xFFFFFFFF on any failure.
uint32_t get_serialnumber(CommsManager *comms, COMM_INTERFACE_t iface);

// One field's value, 0xFFFFFFFF on any failure (indistinguishable from a field
// that holds 0xFFFFFFFF: use get_value_checked where that matters).
uint32_t get_value(CommsManager *comms, target_comms_t src, uint8_t index);
// The same exchange; true with *value set when the unit answered with a value.
bool get_value_checked(CommsManager *comms, target_comms_t src, uint8_t index, uint32_t *value);
// 0 when the unit acknowledged the new value, -1 otherwise.
int set_value(CommsManager *comms, target_comms_t src, uint8_t index, uint32_t value);
// 0 when the unit acknowledged the store, -1 otherwise.
int store_value(CommsManager *comms, target_comms_t src, uint32_t crc);
// True for a valid acknowledgement of the request with identifier expected_can_id.
bool wait_for_ack(CommsManager *comms, uint32_t expected_can_id);
// True only when an MX25 status reply reporting success was read; stores its op
// type and, when carried, its 32-bit value through the pointers given.
bool wait_for_mx25_ack(CommsManager *comms, uint8_t *op_type_out, uint32_t *address_out);

#endif // COMMS_H
