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

// The CAN FD interface the tool looks for the unit on unless told another.
inline constexpr const char *DEFAULT_CANFD_INTERFACE = "can0";

// Which unit interfaces establish_connection opens. By default those of start-up: the first
// USB HID interface listed, then the CAN FD interface "can0". With several units on one
// machine a choice names one of them: a USB HID path, or the CAN FD interface alone.
struct UnitChoice {
    bool use_usb = true;
    std::string usb_path; // empty: the first listed
    bool use_can = true;
    std::string can_interface = DEFAULT_CANFD_INTERFACE;
};

// The one route of all traffic with the unit: owns both transports, confirms
// them by serial number and sends every message on the live one, USB HID first.
class CommsManager {
public:
    // How many waiting replies one write discards at most before sending.
    static constexpr int MAX_STALE_DISCARDS = 256;

    CommsManager();
    ~CommsManager();
    CommsManager(const CommsManager &) = delete;
    CommsManager &operator=(const CommsManager &) = delete;

    bool connectUSB(uint16_t vendor_id, uint16_t product_id);
    bool connectCANFD(const std::string &interface_name);
    bool establish_connection();
    // The interfaces the next establish_connection opens.
    void choose(const UnitChoice &choice) { unit_choice = choice; }
    const UnitChoice &choice() const { return unit_choice; }
    // The serial number the unit confirmed on `iface` at the last establish_connection, while
    // that interface is connected; 0xFFFFFFFF otherwise (and for a unit whose serial number is
    // erased, which is connected all the same).
    uint32_t confirmedSerial(COMM_INTERFACE_t iface) const;
    // True when a connected interface was lost since the last establish_connection: its
    // device vanished, or the unit stopped answering (a resynchronisation after a missed
    // reply failed too). The transport is closed then, and every later exchange on it fails
    // at once instead of waiting out its time-out.
    bool linkLost() const;
    // Whether the connected interfaces are still there (a device listing, an interface
    // flag; nothing is sent). An interface that is gone is closed and counts as lost. True
    // while at least one interface stays connected.
    bool checkPresent();

    // True when the last establish_connection found an interface held by another program of
    // the tool (nothing was sent on it), with the line that says which and who holds it.
    bool unitInUse(std::string *text = nullptr) const;

    // Discards replies that arrived too late for their own exchange, then sends.
    int write(const COMMS_MSG_t &msg);
    int read(COMMS_MSG_t *msg);
    bool isConnected() const;
    COMM_INTERFACE_t getActiveInterface() const;

    USBHID *getUSBHID() { return usbHid; }
    CANFD *getCANFD() { return canFd; }

    // A read on `iface` timed out: the unit may still send that reply, and since no reply
    // names the request it answers, it would be taken as the answer to the next request.
    // The link counts as out of step until a serial-number exchange proves it in step
    // again. `serial_request` tells that the reply missed was a serial number's.
    void noteMissedReply(COMM_INTERFACE_t iface, bool serial_request);
    // True when the link on `iface` is in step, bringing it back first when a reply was
    // missed: a serial-number request is sent and every message up to its reply is
    // discarded. False when that fails too: the unit does not answer, and the link counts
    // as lost (the transport is closed). Costs nothing while no reply was missed.
    bool bringInStep(COMM_INTERFACE_t iface);

private:
    void discardStaleMessages(COMM_INTERFACE_t iface);
    bool resynchronise(COMM_INTERFACE_t iface);
    int transportWrite(COMM_INTERFACE_t iface, const COMMS_MSG_t &msg);
    int transportRead(COMM_INTERFACE_t iface, COMMS_MSG_t *msg);
    // Forgets what was missed on a link that was just opened afresh.
    void markInStep(COMM_INTERFACE_t iface);
    // Closes the transport of `iface`, which no longer leads to the unit.
    void loseLink(COMM_INTERFACE_t iface);

    USBHID *usbHid;
    CANFD *canFd;
    // Per interface (USB_HID, CAN_FD): whether a reply was missed since the link was last
    // proven in step, and how many serial-number replies may still arrive late; the routed
    // reads pass over that many.
    bool out_of_step[2] = {false, false};
    unsigned owed_serial_replies[2] = {0, 0};
    UnitChoice unit_choice;
    uint32_t serials[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
    bool link_lost = false;
};

// The unit's serial number, 0xFFFFFFFF on any failure (and for a unit whose serial number is
// erased: use get_serialnumber_checked where that matters).
uint32_t get_serialnumber(CommsManager *comms, COMM_INTERFACE_t iface);
// The same exchange; true with *serial set when the unit answered, whatever the number.
bool get_serialnumber_checked(CommsManager *comms, COMM_INTERFACE_t iface, uint32_t *serial);
// The serial number of a unit whose number was never written or was erased.
inline constexpr uint32_t ERASED_SERIAL = 0xFFFFFFFFu;

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
