// The unit's input reports as the comms layer, the settings flows and the flash commands parse
// them: every reply of the simulated unit is replaced by a report taken from the input.
#include <algorithm>

#include "comms.h"
#include "firmware_ops.h"
#include "fuzz_targets.h"
#include "settings_flows.h"
#include "sim_unit.h"

namespace {

// More replaced replies than one run of the exchanges below needs.
constexpr unsigned MAX_REPORTS = 64;

} // namespace

int fuzzInputReports(const uint8_t *data, std::size_t size) {
    sim::reset();
    std::size_t at = 0;
    for (unsigned request = 0; at < size && request < MAX_REPORTS; ++request) {
        const std::size_t announced = data[at];
        ++at;
        const std::size_t length = std::min(announced, size - at);
        sim::Fault fault = sim::Fault::atRequest(sim::FaultKind::Raw, request);
        fault.raw.assign(data + at, data + at + length);
        at += length;
        sim::unit().addFault(fault);
    }
    CommsManager comms;
    if (!comms.establish_connection()) {
        return 0;
    }
    Settings_t record{};
    uint32_t checksum = 0;
    FieldSet changed;
    FieldSet unknown = allSettingsFields();
    FieldSet unread;
    SettingsState state{record, checksum, changed, unknown, unread};
    load_settings(&comms, state);
    get_mx25_partition(&comms);
    mx25_erase(&comms, OP_BLOCK_ERASE, FW_PARTITION_1_START_BLOCK, nullptr, nullptr, 0, 1);
    set_mx25_addr(&comms, FW_PARTITION_1_START_BLOCK * MX25_BLOCK_SIZE);
    store_settings_exchange(&comms, checksum);
    return 0;
}

EFIS_FUZZ_ENTRY(fuzzInputReports)
