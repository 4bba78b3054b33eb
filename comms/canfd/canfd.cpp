#include "canfd.h"

// This platform has no CAN FD support: the transport exists so that the comms
// manager can try it, and every operation reports failure.

CANFD::CANFD() : socket_fd(-1), connected(false) {}

CANFD::~CANFD() {
    disconnect();
}

bool CANFD::connect(const std::string &) {
    connected = false;
    return false;
}

void CANFD::disconnect() {
    connected = false;
    interface_name.clear();
}

int CANFD::read(COMMS_MSG_t *) {
    return -1;
}

int CANFD::write(const uint8_t *, std::size_t) {
    return -1;
}

int CANFD::write(const COMMS_MSG_t &) {
    return -1;
}
