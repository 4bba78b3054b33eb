#ifndef TESTS_SIM_HELPERS_H
#define TESTS_SIM_HELPERS_H

// Bytes, replies and faults of the simulated unit, shared by the tests of the
// transports, the protocol, the flash commands and the simulator itself.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim_unit.h"

using Bytes = std::vector<uint8_t>;

// Bytes as hexadecimal text ("05 23 01"), for readable failures.
inline std::string hex(const uint8_t *p, std::size_t n) {
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof(buf), i == 0 ? "%02X" : " %02X", p[i]);
        s += buf;
    }
    return s;
}
inline std::string hex(const Bytes &b) {
    return hex(b.data(), b.size());
}

// A message of the unit; msg_len is the data's size unless given.
inline sim::Message simMessage(uint32_t can_id, Bytes data, int msg_len = -1) {
    sim::Message m;
    m.can_id = can_id;
    m.msg_len = static_cast<uint8_t>(msg_len < 0 ? data.size() : static_cast<std::size_t>(msg_len));
    m.data = std::move(data);
    return m;
}

// Reply `which` of the requests with identifier request_id (only the occurrence-th
// when given) replaced by another message.
inline sim::Fault replaceReply(uint32_t request_id, sim::Message reply, int which = 0,
                               std::optional<unsigned> occurrence = {}) {
    sim::Fault f = sim::Fault::on(sim::FaultKind::Replace, request_id, occurrence, which);
    f.replacement = std::move(reply);
    return f;
}

// Reply `which` of the requests with identifier request_id replaced by raw input report bytes.
inline sim::Fault rawReply(uint32_t request_id, Bytes raw, int which = 0) {
    sim::Fault f = sim::Fault::on(sim::FaultKind::Raw, request_id, {}, which);
    f.raw = std::move(raw);
    return f;
}

#endif // TESTS_SIM_HELPERS_H
