#ifndef CANFD_H
#define CANFD_H

#include <string>

#include "comms_types.h"

// CAN FD transport. On this platform there is no CAN FD support: every
// operation fails, so the tool works over USB HID alone.
class CANFD {
public:
    CANFD();
    ~CANFD();
    CANFD(const CANFD &) = delete;
    CANFD &operator=(const CANFD &) = delete;

    bool connect(const std::string &interface_name);
    void disconnect();
    bool isConnected() const { return connected && socket_fd >= 0; }

    int read(COMMS_MSG_t *msg);
    int write(const uint8_t *data, std::size_t length);
    int write(const COMMS_MSG_t &msg);

private:
    int socket_fd;
    bool connected;
    std::string interface_name;
};

#endif // CANFD_H
