#ifndef TESTS_SIM_LINK_H
#define TESTS_SIM_LINK_H

// A raw hidapi link to a fresh simulated unit, for the tests of the simulator.

#include <hidapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim_helpers.h"
#include "sim_unit.h"

// An output report as the tool lays it out: report 5, identifier, length, payload.
inline Bytes outputReport(uint32_t can_id, const Bytes &payload) {
    // Sized once and filled: growing a six-byte vector by insert trips a false array-bounds
    // warning of GCC 12 at -O3 (the Windows build's optimisation).
    Bytes r(6 + payload.size());
    r[0] = 5;
    for (int i = 0; i < 4; ++i) {
        r[1 + i] = static_cast<uint8_t>(can_id >> (8 * i));
    }
    r[5] = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), r.begin() + 6);
    return r;
}

struct Link {
    Link() {
        sim::reset();
        dev = hid_open_path(sim::unit().enumeration().front().path.c_str());
    }
    ~Link() { hid_close(dev); }
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    int write(const Bytes &report) { return hid_write(dev, report.data(), report.size()); }
    int send(uint32_t can_id, const Bytes &payload) { return write(outputReport(can_id, payload)); }
    // One read: the report as hexadecimal text, "" on a time-out, "error" on -1.
    std::string read() {
        unsigned char buf[128];
        const int n = hid_read_timeout(dev, buf, sizeof(buf), 1000);
        return n < 0 ? "error" : hex(buf, static_cast<std::size_t>(n));
    }
    // Every reply pending, in order, up to the first time-out.
    std::vector<std::string> replies() {
        std::vector<std::string> out;
        for (std::string r = read(); !r.empty() && r != "error"; r = read()) {
            out.push_back(r);
        }
        return out;
    }
    std::vector<std::string> exchange(uint32_t can_id, const Bytes &payload) {
        send(can_id, payload);
        return replies();
    }

    hid_device *dev = nullptr;
};

#endif // TESTS_SIM_LINK_H
