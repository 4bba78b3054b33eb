#ifndef CANFD_H
#define CANFD_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "comms_types.h"
#include "unit_lock.h"

// The unit on its CAN FD bus, through a Linux SocketCAN interface (elsewhere every
// operation fails and the tool works over USB HID alone). Each message travels in one
// CAN FD frame: can_ID as the standard 11-bit identifier, msg_len data bytes. The
// socket only takes the identifiers that answer the tool, so the sensor and status
// traffic of the bus never reaches an exchange.
class CANFD {
public:
    // Read time-out of one reply, as on USB HID.
    static constexpr int READ_TIMEOUT_MS = 1000;

    CANFD();
    ~CANFD();
    CANFD(const CANFD &) = delete;
    CANFD &operator=(const CANFD &) = delete;

    // Opens a raw CAN socket with CAN FD frames on the named interface, which must
    // carry CAN FD frames; false when it cannot be opened.
    bool connect(const std::string &interface_name);
    void disconnect();
    bool isConnected() const { return connected && socket_fd >= 0; }
    // The name of the open interface; empty while none is open.
    const std::string &name() const { return interface_name; }
    // Whether an interface of this name exists and is up: the unit may be on its bus.
    static bool interfaceUp(const std::string &interface_name);
    // True while the open interface still exists and is up. When it is not, the transport
    // closes the socket and counts the interface as lost, as after a read or write that the
    // kernel refuses because the interface went down or away. False when nothing is open.
    bool checkPresent();
    // True when the open interface went down or away since the last connect: the transport
    // closed it and printed "CAN FD interface disconnected" once.
    bool lost() const { return was_lost; }
    // After a connect that found the interface held by another program of the tool: true, and
    // who holds it; nothing was opened or sent. A later connect clears it.
    bool inUse() const { return in_use; }
    const std::string &inUseName() const { return in_use_name; }
    const UnitHolder &inUseHolder() const { return lock.holder(); }
    // While connected: names the unit's serial number to a second program that is refused.
    void noteSerial(uint32_t serial) { lock.noteSerial(serial); }

    // Bytes of the frame received, 0 on time-out, -1 on failure.
    int read(COMMS_MSG_t *msg);
    // The same with a time-out of the caller's choice; 0 polls without waiting.
    int read(COMMS_MSG_t *msg, int timeout_ms);
    // The message as the USB HID transport lays it out after the report number:
    // can_ID (LE, 4 bytes), msg_len, then exactly msg_len bytes.
    int write(const uint8_t *data, std::size_t length);
    // Bytes of the frame sent, or -1: not connected, an identifier beyond 11 bits, or a
    // length that no CAN FD frame carries exactly (nothing is sent then).
    int write(const COMMS_MSG_t &msg);

    // Whether a CAN FD frame carries exactly `length` data bytes: 0 to 8, 12, 16, 20,
    // 24, 32, 48 or 64. A controller pads any other length up to the next of these,
    // and the unit would take the padding as data.
    static bool carriesLength(std::size_t length);
    // The longest length a frame carries exactly that is not above `length` (for
    // `length` above 64: 64).
    static std::size_t longestFrameLength(std::size_t length);

private:
    // After a refused read or write: when errno says the interface went down or away, closes
    // the socket and counts it as lost.
    void noticeGone(int error);
    void markLost();

    int socket_fd;
    bool connected;
    std::string interface_name;
    bool was_lost = false;
    // Held from before the socket is opened until it is closed.
    UnitLock lock;
    bool in_use = false;
    std::string in_use_name;
};

#endif // CANFD_H
