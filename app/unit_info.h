#ifndef UNIT_INFO_H
#define UNIT_INFO_H

// What the tool tells of the connected unit, one list for the window's Unit Information and
// efis-cli info: which unit, where, its record's header and checksum check, the partition its
// next firmware goes to, and this tool's version.

#include <QString>

#include <optional>
#include <vector>

#include "comms.h"
#include "discovery.h"
#include "mem_layout.h"
#include "settings_types.h"

namespace unit_info {

struct Row {
    QString key;         // efis-cli's name for it ("serial_number")
    QString label;       // the window's ("Serial number")
    QString value;       // as both show it; empty for a value not known (JSON null)
    bool number = false; // a count, which JSON gives as a number
};

// What the rows are made from. `record` is empty until a load read the unit's record.
struct Facts {
    UnitInterface unit;
    struct Record {
        Settings_t header{}; // magic, version, num_elements
        uint32_t checksum = 0;
        bool crc_matches = false;
    };
    std::optional<Record> record;
    mx25_partition partition = partition_none;
};

// The facts of the unit `comms` reaches: asks only which partition it would write next.
Facts gather(CommsManager *comms, const UnitInterface &unit);

std::vector<Row> rows(const Facts &facts);

// "partition 1", "partition 2", "debug partition", "not reported".
QString partitionText(mx25_partition partition);

} // namespace unit_info

#endif // UNIT_INFO_H
