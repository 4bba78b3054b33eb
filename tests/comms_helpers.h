#ifndef TESTS_COMMS_HELPERS_H
#define TESTS_COMMS_HELPERS_H

#include <cstdint>
#include <string>
#include <vector>

#include "comms.h"
#include "sim_unit.h"

using Bytes = std::vector<uint8_t>;

inline COMMS_MSG_t makeMessage(uint32_t can_id, std::initializer_list<uint8_t> data) {
    COMMS_MSG_t msg{};
    msg.can_ID = can_id;
    msg.msg_len = static_cast<uint8_t>(data.size());
    size_t i = 0;
    for (uint8_t b : data) {
        msg.data[i++] = b;
    }
    return msg;
}

inline sim::Message simMessage(uint32_t can_id, Bytes data, int msg_len = -1) {
    sim::Message m;
    m.can_id = can_id;
    m.msg_len = static_cast<uint8_t>(msg_len < 0 ? data.size() : static_cast<size_t>(msg_len));
    m.data = std::move(data);
    return m;
}

// A reply of the unit replaced by another message.
inline sim::Fault replaceReply(uint32_t request_id, sim::Message reply, int which = 0) {
    sim::Fault f = sim::Fault::on(sim::FaultKind::Replace, request_id, {}, which);
    f.replacement = std::move(reply);
    return f;
}

// A reply of the unit replaced by raw input report bytes.
inline sim::Fault rawReply(uint32_t request_id, Bytes raw, int which = 0) {
    sim::Fault f = sim::Fault::on(sim::FaultKind::Raw, request_id, {}, which);
    f.raw = std::move(raw);
    return f;
}

// The output reports handed to hid_write, as hexadecimal text for readable failures.
inline std::string hex(const Bytes &bytes) {
    std::string s;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof(buf), "%02X ", b);
        s += buf;
    }
    if (!s.empty()) {
        s.pop_back();
    }
    return s;
}

inline std::string lastReport() {
    const auto &reports = sim::unit().outputReports();
    return reports.empty() ? std::string("<none>") : hex(reports.back());
}

#endif // TESTS_COMMS_HELPERS_H
