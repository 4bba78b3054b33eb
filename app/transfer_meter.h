#ifndef TRANSFER_METER_H
#define TRANSFER_METER_H

// The firmware transfer's meter, one rule for the window's bar and efis-cli's line: the share
// done, and once the payload has flowed long enough to tell, its rate in kilobytes (1000 bytes)
// per second and the time left. The caller gives the time, so the meter reads no clock itself.

#include <QString>

#include <cstdint>

class TransferMeter {
public:
    // How long the payload flows before its rate means something: the first packets carry the
    // unit's own start-up and say little about the rest.
    static constexpr int64_t RATE_AFTER_MS = 500;

    struct Reading {
        int percent = 0;       // current * 100 / total, truncated; 0 when total is 0
        bool has_rate = false; // the payload has flowed RATE_AFTER_MS or longer
        double bytes_per_second = 0;
        int64_t seconds_left = 0; // rounded
        // "1:05 left, 12.3 kB/s"; empty without a rate.
        QString rateText() const;
    };

    // The share done: current * 100 / total in whole per cent, truncated; 0 when total is 0.
    static int percent(uint32_t current, uint32_t total);
    // The window's status of one progress report: the erase in blocks (phase 0), the upload in
    // bytes (phase 1); empty for any other phase.
    static QString phaseText(uint32_t current, uint32_t total, int phase);

    // One progress report of the transfer (phase 0: blocks erased; phase 1: payload bytes
    // confirmed) at `elapsed_ms` since the transfer started.
    Reading update(uint32_t current, uint32_t total, int phase, int64_t elapsed_ms);

private:
    // The first payload report: the rate counts from here, not from the erase.
    int64_t payload_start_ms = -1;
    uint32_t payload_start_bytes = 0;
};

#endif // TRANSFER_METER_H
