#pragma once
// Helpers for building and reading the unit's messages. The unit's words travel
// least significant byte first, whatever the byte order of the machine the tool
// runs on.
#include <cstdint>
#include <cstring>

#include "comms_types.h"

namespace wire {

inline uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void putLe32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// A message record with every byte zero, as a reply is read into.
inline COMMS_MSG_t zeroedMessage() {
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    return msg;
}

// A message with every byte zero but its identifier and length; the comms
// manager sets the interface byte when it routes the message.
inline COMMS_MSG_t newMessage(uint32_t can_id, uint8_t msg_len) {
    COMMS_MSG_t msg = zeroedMessage();
    msg.can_ID = can_id;
    msg.msg_len = msg_len;
    return msg;
}

} // namespace wire
