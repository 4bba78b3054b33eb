#ifndef TESTS_COMMS_HELPERS_H
#define TESTS_COMMS_HELPERS_H

#include <cstdint>
#include <string>
#include <vector>

#include "comms.h"
#include "sim_helpers.h"
#include "sim_unit.h"

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

// The last output report handed to hid_write, as hexadecimal text.
inline std::string lastReport() {
    const auto &reports = sim::unit().outputReports();
    return reports.empty() ? std::string("<none>") : hex(reports.back());
}

#endif // TESTS_COMMS_HELPERS_H
