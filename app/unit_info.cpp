#include "unit_info.h"

#include "firmware_ops.h"
#include "settings_file.h"

#ifndef EFIS_TOOL_VERSION
#define EFIS_TOOL_VERSION "unknown"
#endif

namespace unit_info {

QString partitionText(mx25_partition partition) {
    switch (partition) {
    case partition_1:
        return QStringLiteral("partition 1");
    case partition_2:
        return QStringLiteral("partition 2");
    case partition_debug:
        return QStringLiteral("debug partition");
    default:
        return QStringLiteral("not reported");
    }
}

Facts gather(CommsManager *comms, const UnitInterface &unit) {
    Facts facts;
    facts.unit = unit;
    // The partition query only reads which partition the unit would write next.
    facts.partition = get_mx25_partition(comms);
    return facts;
}

std::vector<Row> rows(const Facts &facts) {
    using settings_file::hexWord;
    std::vector<Row> list;
    list.push_back({QStringLiteral("serial_number"), QStringLiteral("Serial number"),
                    facts.unit.answered() ? hexWord(facts.unit.serial) : QString()});
    list.push_back({QStringLiteral("interface"), QStringLiteral("Interface"),
                    QString::fromLatin1(interface_name(facts.unit.iface))});
    list.push_back(
        {QStringLiteral("path"), QStringLiteral("Path"), QString::fromStdString(facts.unit.path)});
    if (facts.record) {
        const Facts::Record &r = *facts.record;
        list.push_back(
            {QStringLiteral("checksum"), QStringLiteral("Checksum"), hexWord(r.checksum)});
        list.push_back({QStringLiteral("magic"), QStringLiteral("Magic"), hexWord(r.header.magic)});
        list.push_back({QStringLiteral("version"), QStringLiteral("Record version"),
                        QString::number(r.header.version), true});
        list.push_back({QStringLiteral("num_elements"), QStringLiteral("Elements"),
                        QString::number(r.header.num_elements), true});
        list.push_back({QStringLiteral("crc_check"), QStringLiteral("Checksum check"),
                        r.crc_matches ? QStringLiteral("passed") : QStringLiteral("failed")});
    } else {
        list.push_back(
            {QStringLiteral("record"), QStringLiteral("Record"), QStringLiteral("not loaded yet")});
    }
    list.push_back({QStringLiteral("partition"), QStringLiteral("Firmware partition"),
                    partitionText(facts.partition)});
    list.push_back({QStringLiteral("tool_version"), QStringLiteral("Tool version"),
                    QStringLiteral(EFIS_TOOL_VERSION)});
    return list;
}

} // namespace unit_info
