#include "transfer_meter.h"

#include <QLatin1Char>

QString TransferMeter::Reading::rateText() const {
    if (!has_rate) {
        return {};
    }
    return QStringLiteral("%1:%2 left, %3 kB/s")
        .arg(seconds_left / 60)
        .arg(seconds_left % 60, 2, 10, QLatin1Char('0'))
        .arg(bytes_per_second / 1000.0, 0, 'f', 1);
}

int TransferMeter::percent(uint32_t current, uint32_t total) {
    return total == 0 ? 0 : static_cast<int>(static_cast<uint64_t>(current) * 100u / total);
}

QString TransferMeter::phaseText(uint32_t current, uint32_t total, int phase) {
    switch (phase) {
    case 0:
        return QStringLiteral("Erasing: %1 / %2 blocks").arg(current).arg(total);
    case 1:
        return QStringLiteral("Uploading: %1 / %2 bytes").arg(current).arg(total);
    default:
        return QString();
    }
}

TransferMeter::Reading TransferMeter::update(uint32_t current, uint32_t total, int phase,
                                             int64_t elapsed_ms) {
    Reading reading;
    reading.percent = percent(current, total);
    if (phase != 1) {
        return reading;
    }
    if (payload_start_ms < 0) {
        payload_start_ms = elapsed_ms;
        payload_start_bytes = current;
    }
    const int64_t flowing_ms = elapsed_ms - payload_start_ms;
    if (flowing_ms < RATE_AFTER_MS || current <= payload_start_bytes || current > total) {
        return reading;
    }
    reading.has_rate = true;
    reading.bytes_per_second = static_cast<double>(current - payload_start_bytes) * 1000.0 /
                               static_cast<double>(flowing_ms);
    reading.seconds_left =
        static_cast<int64_t>(static_cast<double>(total - current) / reading.bytes_per_second + 0.5);
    return reading;
}
