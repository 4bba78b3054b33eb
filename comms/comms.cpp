#include "comms.h"
#include "wire.h"

#include <cstdio>
#include <cstring>

namespace {

using wire::le32;
using wire::newMessage;
using wire::putLe32;
using wire::zeroedMessage;

// The serial-number request: the one request any unit answers, whatever its state.
COMMS_MSG_t serialNumberRequest(COMM_INTERFACE_t iface) {
    COMMS_MSG_t request = newMessage(CANMSG_WHOAMI, 2);
    request.iface = iface;
    request.data[0] = COMMS_MARKER_0;
    request.data[1] = COMMS_MARKER_1;
    return request;
}

// A unit whose serial number was never written (or was erased) answers with 0xFFFFFFFF: it is
// there and answers, and is worked with like any other.
void printIfErased(uint32_t serial) {
    if (serial == ERASED_SERIAL) {
        std::printf("The unit's serial number is erased (0xFFFFFFFF)\n");
    }
}

void printDiscarded(const COMMS_MSG_t &msg) {
    std::printf("Discarded stale message (canID=0x%08X, len=%d)\n",
                static_cast<unsigned>(msg.can_ID), msg.msg_len);
}

// A reply to the serial-number request: its identifier, length and marker bytes.
bool isSerialNumberReply(const COMMS_MSG_t &msg) {
    return msg.can_ID == CANMSG_WHOAMI && msg.msg_len == 8 && msg.data[0] == COMMS_MARKER_0 &&
           msg.data[1] == COMMS_MARKER_1 && msg.data[2] == 0 && msg.data[3] == 0;
}

// Identifiers of the request family of a target; false for a target the unit has not.
struct TargetIds {
    uint32_t request;
    uint32_t set;
    uint32_t save;
};

bool targetIds(target_comms_t src, TargetIds *ids) {
    switch (src) {
    case SETTINGS_COMMS:
        *ids = {CANMSG_REQUEST_USER_SETTING, CANMSG_SET_USER_SETTING, CANMSG_SAVE_USER_SETTINGS};
        return true;
    case SENSOR_COMMS:
        *ids = {CANMSG_REQUEST_SENSOR_CALIB, CANMSG_SET_SENSOR_CALIB, CANMSG_SAVE_SENSOR_CALIB};
        return true;
    }
    return false;
}

// Reads one message into a zeroed record; prints the line `none` when none came
// within the time-out and `error` for a read error, and then gives false.
bool readReply(CommsManager *comms, COMMS_MSG_t *msg, const char *none, const char *error) {
    *msg = zeroedMessage();
    const int received = comms->read(msg);
    if (received == 0) {
        std::printf("%s\n", none);
        return false;
    }
    if (received < 0) {
        std::printf("%s\n", error);
        return false;
    }
    return true;
}

} // namespace

// ---- CommsManager -----------------------------------------------------------

CommsManager::CommsManager() : usbHid(new USBHID()), canFd(new CANFD()) {}

CommsManager::~CommsManager() {
    delete usbHid;
    usbHid = nullptr;
    delete canFd;
    canFd = nullptr;
}

bool CommsManager::connectUSB(uint16_t vendor_id, uint16_t product_id) {
    if (usbHid == nullptr || !usbHid->connect(vendor_id, product_id)) {
        return false;
    }
    markInStep(USB_HID);
    return true;
}

bool CommsManager::connectCANFD(const std::string &interface_name) {
    if (canFd == nullptr || !canFd->connect(interface_name)) {
        return false;
    }
    markInStep(CAN_FD);
    return true;
}

bool CommsManager::establish_connection() {
    bool usb_confirmed = false;
    bool canfd_confirmed = false;
    link_lost = false;
    serials[USB_HID] = serials[CAN_FD] = 0xFFFFFFFFu;

    // A choice of the unit on the bus alone leaves USB HID out, and a choice of a USB HID unit
    // leaves the bus out: it may lead to another unit.
    if (unit_choice.use_usb) {
        std::printf("Attempting to connect to USB HID device 0x%04X:0x%04X\n", vendor_id,
                    product_id);
        if (usbHid != nullptr && usbHid->connect(vendor_id, product_id, unit_choice.usb_path)) {
            markInStep(USB_HID);
            std::printf("USB HID device connected, verifying with serial number request...\n");
            uint32_t serial = 0xFFFFFFFFu;
            if (!get_serialnumber_checked(this, USB_HID, &serial)) {
                std::printf("Failed to get serial number from USB HID device - disconnecting\n");
                usbHid->disconnect();
            } else {
                usb_confirmed = true;
                serials[USB_HID] = serial;
                usbHid->noteSerial(serial);
                std::printf("Successfully connected to USB HID device! Serial number: 0x%08X\n",
                            static_cast<unsigned>(serial));
                printIfErased(serial);
            }
        } else {
            std::printf("Failed to connect to USB HID device\n");
            if (usbHid != nullptr && usbHid->inUse()) {
                std::printf(
                    "%s\n",
                    in_use_text(USB_HID, usbHid->inUsePath(), usbHid->inUseHolder()).c_str());
            }
        }
    }

    if (unit_choice.use_can) {
        const std::string &interface_name = unit_choice.can_interface;
        std::printf("Attempting to connect to CAN FD interface: %s\n", interface_name.c_str());
        if (connectCANFD(interface_name)) {
            std::printf("CAN FD interface connected, verifying with serial number request...\n");
            uint32_t serial = 0xFFFFFFFFu;
            if (!get_serialnumber_checked(this, CAN_FD, &serial)) {
                std::printf("Failed to get serial number from CAN FD interface - disconnecting\n");
                canFd->disconnect();
            } else {
                canfd_confirmed = true;
                serials[CAN_FD] = serial;
                canFd->noteSerial(serial);
                std::printf("Successfully connected to CAN FD interface! Serial number: 0x%08X\n",
                            static_cast<unsigned>(serial));
                printIfErased(serial);
            }
        } else {
            std::printf("Failed to connect to CAN FD interface\n");
            if (canFd != nullptr && canFd->inUse()) {
                std::printf("%s\n",
                            in_use_text(CAN_FD, canFd->inUseName(), canFd->inUseHolder()).c_str());
            }
        }
    }

    if (!usb_confirmed && !canfd_confirmed) {
        std::printf("Failed to connect via both USB HID and CAN FD\n");
        if (usbHid != nullptr && usbHid->openRefused()) {
            // The unit is there but was not opened: say why, and what helps.
            std::printf("%s\n",
                        hidAccessLine(usbHid->refusedPath(), usbHid->refusedError()).c_str());
        }
        return false;
    }
    if (usb_confirmed && canfd_confirmed) {
        std::printf("Connected via both USB HID and CAN FD\n");
    } else if (usb_confirmed) {
        std::printf("Connected via USB HID\n");
    } else {
        std::printf("Connected via CAN FD\n");
    }
    return true;
}

void CommsManager::discardStaleMessages(COMM_INTERFACE_t iface) {
    // A reply that arrived after its exchange timed out would otherwise be taken
    // as the answer to the request about to be sent.
    for (int i = 0; i < MAX_STALE_DISCARDS; ++i) {
        COMMS_MSG_t stale = zeroedMessage();
        const int received = iface == CAN_FD ? canFd->read(&stale, 0) : usbHid->read(&stale, 0);
        if (received <= 0) {
            return;
        }
        if (isSerialNumberReply(stale) && owed_serial_replies[iface] > 0) {
            --owed_serial_replies[iface];
        }
        printDiscarded(stale);
    }
}

int CommsManager::write(const COMMS_MSG_t &msg) {
    COMMS_MSG_t copy = msg;
    if (usbHid != nullptr && usbHid->isConnected()) {
        if (!bringInStep(USB_HID)) {
            return -1;
        }
        discardStaleMessages(USB_HID);
        copy.iface = USB_HID;
        return usbHid->write(copy);
    }
    if (canFd != nullptr && canFd->isConnected()) {
        if (!bringInStep(CAN_FD)) {
            return -1;
        }
        discardStaleMessages(CAN_FD);
        copy.iface = CAN_FD;
        return canFd->write(copy);
    }
    std::printf("No interface connected.\n");
    return -1;
}

int CommsManager::read(COMMS_MSG_t *msg) {
    if (msg == nullptr) {
        return -1;
    }
    COMM_INTERFACE_t iface;
    if (usbHid != nullptr && usbHid->isConnected()) {
        iface = USB_HID;
    } else if (canFd != nullptr && canFd->isConnected()) {
        iface = CAN_FD;
    } else {
        return -1;
    }
    // No exchange of the routed traffic asks for a serial number: one read here is the late
    // reply to a serial-number request of a resynchronisation or of a timed-out exchange.
    for (int i = 0; i < MAX_STALE_DISCARDS; ++i) {
        const int received = transportRead(iface, msg);
        if (received == 0) {
            noteMissedReply(iface, false);
        }
        if (received <= 0 || !isSerialNumberReply(*msg) || owed_serial_replies[iface] == 0) {
            return received;
        }
        --owed_serial_replies[iface];
        printDiscarded(*msg);
    }
    return -1;
}

// ---- keeping the link in step -------------------------------------------------

int CommsManager::transportWrite(COMM_INTERFACE_t iface, const COMMS_MSG_t &msg) {
    if (iface == USB_HID && usbHid != nullptr) {
        return usbHid->write(msg);
    }
    if (iface == CAN_FD && canFd != nullptr) {
        return canFd->write(msg);
    }
    return -1;
}

int CommsManager::transportRead(COMM_INTERFACE_t iface, COMMS_MSG_t *msg) {
    if (iface == USB_HID && usbHid != nullptr) {
        return usbHid->read(msg);
    }
    if (iface == CAN_FD && canFd != nullptr) {
        return canFd->read(msg);
    }
    return -1;
}

void CommsManager::markInStep(COMM_INTERFACE_t iface) {
    if (iface <= CAN_FD) {
        out_of_step[iface] = false;
        owed_serial_replies[iface] = 0;
    }
}

void CommsManager::noteMissedReply(COMM_INTERFACE_t iface, bool serial_request) {
    if (iface > CAN_FD) {
        return;
    }
    out_of_step[iface] = true;
    if (serial_request) {
        ++owed_serial_replies[iface];
    }
}

bool CommsManager::bringInStep(COMM_INTERFACE_t iface) {
    if (iface > CAN_FD) {
        return false;
    }
    return !out_of_step[iface] || resynchronise(iface);
}

bool CommsManager::resynchronise(COMM_INTERFACE_t iface) {
    // The unit answers in order, so once the reply to a serial-number request sent now has
    // arrived, every reply it still owed for earlier requests has arrived before it. Nothing
    // is sent after a request whose reply was missed but this one, so the first serial-number
    // reply read ends the resynchronisation even if it answers an older request.
    std::printf("Link out of step after a missed reply: resynchronising with a serial number "
                "request\n");
    COMMS_MSG_t request = serialNumberRequest(iface);
    if (transportWrite(iface, request) > 0) {
        ++owed_serial_replies[iface];
        for (int i = 0; i < MAX_STALE_DISCARDS; ++i) {
            COMMS_MSG_t reply = zeroedMessage();
            if (transportRead(iface, &reply) <= 0) {
                break;
            }
            if (isSerialNumberReply(reply)) {
                // Perhaps an older one owed; then this request's own reply is still to come,
                // with nothing between, and the routed reads pass over it.
                --owed_serial_replies[iface];
                out_of_step[iface] = false;
                return true;
            }
            printDiscarded(reply);
        }
    }
    std::printf("Resynchronisation failed: the unit did not answer in step\n");
    loseLink(iface);
    return false;
}

void CommsManager::loseLink(COMM_INTERFACE_t iface) {
    if (iface == USB_HID && usbHid != nullptr && usbHid->isConnected()) {
        usbHid->disconnect();
        std::printf("USB HID device not answering - link closed\n");
    } else if (iface == CAN_FD && canFd != nullptr && canFd->isConnected()) {
        canFd->disconnect();
        std::printf("CAN FD interface not answering - link closed\n");
    } else {
        return;
    }
    link_lost = true;
    markInStep(iface);
}

bool CommsManager::linkLost() const {
    return link_lost || (usbHid != nullptr && usbHid->lost()) ||
           (canFd != nullptr && canFd->lost());
}

uint32_t CommsManager::confirmedSerial(COMM_INTERFACE_t iface) const {
    if (iface == USB_HID && usbHid != nullptr && usbHid->isConnected()) {
        return serials[USB_HID];
    }
    if (iface == CAN_FD && canFd != nullptr && canFd->isConnected()) {
        return serials[CAN_FD];
    }
    return 0xFFFFFFFFu;
}

bool CommsManager::checkPresent() {
    if (usbHid != nullptr && usbHid->isConnected() && !usbHid->checkPresent()) {
        link_lost = true;
    }
    if (canFd != nullptr && canFd->isConnected() && !canFd->checkPresent()) {
        link_lost = true;
    }
    return isConnected();
}

bool CommsManager::unitInUse(std::string *text) const {
    std::string found;
    if (usbHid != nullptr && usbHid->inUse()) {
        found = in_use_text(USB_HID, usbHid->inUsePath(), usbHid->inUseHolder());
    } else if (canFd != nullptr && canFd->inUse()) {
        found = in_use_text(CAN_FD, canFd->inUseName(), canFd->inUseHolder());
    } else {
        return false;
    }
    if (text != nullptr) {
        *text = found;
    }
    return true;
}

bool CommsManager::isConnected() const {
    return (usbHid != nullptr && usbHid->isConnected()) ||
           (canFd != nullptr && canFd->isConnected());
}

COMM_INTERFACE_t CommsManager::getActiveInterface() const {
    if (usbHid != nullptr && usbHid->isConnected()) {
        return USB_HID;
    }
    if (canFd != nullptr && canFd->isConnected()) {
        return CAN_FD;
    }
    return USB_HID;
}

// ---- serial number ------------------------------------------------------------

uint32_t get_serialnumber(CommsManager *comms, COMM_INTERFACE_t iface) {
    uint32_t serial = 0xFFFFFFFFu;
    return get_serialnumber_checked(comms, iface, &serial) ? serial : 0xFFFFFFFFu;
}

bool get_serialnumber_checked(CommsManager *comms, COMM_INTERFACE_t iface, uint32_t *serial) {
    if (comms == nullptr) {
        return false;
    }
    const COMMS_MSG_t request = serialNumberRequest(iface);

    // The exchange confirms one particular transport, so it bypasses the routing.
    USBHID *usb = comms->getUSBHID();
    CANFD *can = comms->getCANFD();
    int written;
    if (iface == CAN_FD) {
        if (can == nullptr || !can->isConnected()) {
            return false;
        }
        written = comms->bringInStep(iface) ? can->write(request) : -1;
    } else if (iface == USB_HID) {
        if (usb == nullptr || !usb->isConnected()) {
            return false;
        }
        written = comms->bringInStep(iface) ? usb->write(request) : -1;
    } else {
        return false;
    }
    if (written <= 0) {
        std::printf("get_serialnumber: Failed to send message to device.\n");
        return false;
    }

    COMMS_MSG_t reply = zeroedMessage();
    const int received = iface == CAN_FD ? can->read(&reply) : usb->read(&reply);
    if (received == 0) {
        comms->noteMissedReply(iface, true);
        std::printf("get_serialnumber: No response received from device (timeout or no data).\n");
        return false;
    }
    if (received < 0) {
        std::printf("get_serialnumber: Error reading response from device.\n");
        return false;
    }
    if (reply.can_ID != CANMSG_WHOAMI || reply.msg_len != 8) {
        std::printf("get_serialnumber: Invalid response format (canID=0x%08X, len=%d)\n",
                    static_cast<unsigned>(reply.can_ID), reply.msg_len);
        return false;
    }
    if (!isSerialNumberReply(reply)) {
        std::printf("get_serialnumber: Invalid header bytes in response.\n");
        return false;
    }
    // Sent most significant byte first, unlike the other values on the link.
    if (serial != nullptr) {
        *serial = static_cast<uint32_t>(reply.data[4]) << 24 |
                  static_cast<uint32_t>(reply.data[5]) << 16 |
                  static_cast<uint32_t>(reply.data[6]) << 8 | static_cast<uint32_t>(reply.data[7]);
    }
    return true;
}

// ---- settings protocol --------------------------------------------------------

bool get_value_checked(CommsManager *comms, target_comms_t src, uint8_t index, uint32_t *value) {
    if (comms == nullptr || !comms->isConnected()) {
        std::printf("CommsManager not connected.\n");
        return false;
    }
    TargetIds ids;
    if (!targetIds(src, &ids)) {
        return false;
    }
    COMMS_MSG_t request = newMessage(ids.request, 1);
    request.data[0] = index;
    if (comms->write(request) <= 0) {
        std::printf("Failed to send COMMS_MSG_t to device.\n");
        return false;
    }
    COMMS_MSG_t reply;
    if (!readReply(comms, &reply, "No response received from device (timeout or no data).",
                   "Error reading response from device.")) {
        return false;
    }
    if (reply.msg_len > 3 && reply.can_ID == CANMSG_SEND_USER_SETTING) {
        if (value != nullptr) {
            *value = le32(reply.data);
        }
        return true;
    }
    return false;
}

uint32_t get_value(CommsManager *comms, target_comms_t src, uint8_t index) {
    uint32_t value = 0;
    return get_value_checked(comms, src, index, &value) ? value : 0xFFFFFFFFu;
}

namespace {

// Sends one request of a target's family and waits for its acknowledgement.
int sendAcknowledged(CommsManager *comms, const COMMS_MSG_t &request) {
    if (comms->write(request) <= 0) {
        return -1;
    }
    return wait_for_ack(comms, request.can_ID) ? 0 : -1;
}

} // namespace

int set_value(CommsManager *comms, target_comms_t src, uint8_t index, uint32_t value) {
    TargetIds ids;
    if (comms == nullptr || !comms->isConnected() || !targetIds(src, &ids)) {
        return -1;
    }
    COMMS_MSG_t request = newMessage(ids.set, 5);
    request.data[0] = index;
    putLe32(&request.data[1], value);
    return sendAcknowledged(comms, request);
}

int store_value(CommsManager *comms, target_comms_t src, uint32_t crc) {
    TargetIds ids;
    if (comms == nullptr || !comms->isConnected() || !targetIds(src, &ids)) {
        return -1;
    }
    COMMS_MSG_t request = newMessage(ids.save, 4);
    putLe32(request.data, crc);
    return sendAcknowledged(comms, request);
}

bool wait_for_ack(CommsManager *comms, uint32_t expected_can_id) {
    if (comms == nullptr || !comms->isConnected()) {
        return false;
    }
    COMMS_MSG_t ack;
    if (!readReply(comms, &ack, "No ACK received from device (timeout or no data).",
                   "Error reading ACK from device.")) {
        return false;
    }
    if (ack.can_ID != CANMSG_ACK) {
        std::printf("ACK validation failed: can_ID mismatch (expected 0x255, got 0x%08X)\n",
                    static_cast<unsigned>(ack.can_ID));
        return false;
    }
    if (ack.msg_len != 6) {
        std::printf("ACK validation failed: msg_len mismatch (expected 0x06, got 0x%02X)\n",
                    ack.msg_len);
        return false;
    }
    const uint32_t acked = le32(ack.data);
    if (acked != expected_can_id) {
        std::printf("ACK validation failed: data can_ID mismatch (expected 0x%08X, got 0x%08X)\n",
                    static_cast<unsigned>(expected_can_id), static_cast<unsigned>(acked));
        return false;
    }
    if (ack.data[4] != COMMS_MARKER_0 || ack.data[5] != COMMS_MARKER_1) {
        std::printf(
            "ACK validation failed: data[4-5] mismatch (expected 0x15 0xEF, got 0x%02X 0x%02X)\n",
            ack.data[4], ack.data[5]);
        return false;
    }
    return true;
}

bool wait_for_mx25_ack(CommsManager *comms, uint8_t *op_type_out, uint32_t *address_out) {
    if (comms == nullptr || !comms->isConnected()) {
        return false;
    }
    COMMS_MSG_t status;
    if (!readReply(comms, &status, "wait_for_mx25_ack: No response received (timeout or no data).",
                   "wait_for_mx25_ack: Error reading response from device.")) {
        return false;
    }
    if (status.can_ID == CANMSG_MX25_ACK) {
        if (op_type_out != nullptr) {
            *op_type_out = status.data[0];
        }
        if (address_out != nullptr && status.msg_len > 4) {
            *address_out = le32(&status.data[1]);
        }
        return true;
    }
    if (status.can_ID == CANMSG_MX25_NACK) {
        std::printf("wait_for_mx25_ack: Operation failed (CAN ID 0x257)\n");
        return false;
    }
    std::printf("wait_for_mx25_ack: Unexpected CAN ID (got=0x%08X, expected=0x256 or 0x257)\n",
                static_cast<unsigned>(status.can_ID));
    return false;
}
