// efis-cli devices, info and reboot: the units present, one unit's identity, its reboot.
#include <QJsonArray>
#include <QJsonObject>

#include "cli_context.h"
#include "cli_handlers.h"
#include "discovery.h"
#include "efis_cli.h"
#include "settings_flows.h"

namespace cli {

int runDevices(Context &c, const Invocation &in) {
    const QString can_interface = in.parser.isSet(QStringLiteral("can"))
                                      ? in.parser.value(QStringLiteral("can"))
                                      : QString::fromLatin1(DEFAULT_CANFD_INTERFACE);
    const std::vector<UnitInterface> units = discover_units(can_interface.toStdString());
    if (units.empty()) {
        error(QStringLiteral("no EFIS unit found over USB HID or CAN FD"));
        return CLI_NO_UNIT;
    }
    QJsonArray list;
    for (const UnitInterface &unit : units) {
        QJsonObject o;
        o.insert("serial_number",
                 unit.answered() ? QJsonValue(settings_file::hexWord(unit.serial)) : QJsonValue());
        o.insert("interface", interface_name(unit.iface));
        o.insert("path", QString::fromStdString(unit.path));
        o.insert("in_use", unit.in_use);
        list.append(o);
        if (!c.s.json) {
            // A unit another program holds was not asked: say so rather than "not answering".
            const QString serial = unit.in_use && !unit.answered() ? QStringLiteral("(not asked)")
                                                                   : serialText(unit.serial);
            c.say(
                QStringLiteral("%1  %2  %3%4")
                    .arg(serial, QLatin1String(interface_name(unit.iface)),
                         QString::fromStdString(unit.path),
                         unit.in_use ? QStringLiteral("  in use by another program") : QString()));
        }
    }
    if (c.s.json) {
        QJsonObject o;
        o.insert("devices", list);
        c.printJson(o);
    }
    return CLI_OK;
}

int runInfo(Context &c, const Invocation &) {
    CommsManager *comms = c.comms.get();
    const uint32_t serial = get_serialnumber(comms, comms->getActiveInterface());
    const COMM_INTERFACE_t iface = comms->getActiveInterface();
    QJsonObject o;
    o.insert("serial_number",
             serial == 0xFFFFFFFFu ? QJsonValue() : QJsonValue(settings_file::hexWord(serial)));
    o.insert("interface", interface_name(iface));
    o.insert("path", QString::fromStdString(iface == CAN_FD ? comms->getCANFD()->name()
                                                            : comms->getUSBHID()->path()));
    o.insert("checksum", settings_file::hexWord(c.session.unitChecksum()));
    o.insert("magic", settings_file::hexWord(c.record.magic));
    o.insert("version", static_cast<double>(c.record.version));
    o.insert("num_elements", static_cast<double>(c.record.num_elements));
    o.insert("crc_check", c.loaded.crc_matches ? "passed" : "failed");
    if (c.s.json) {
        c.printJson(o);
    } else {
        for (const char *key : {"serial_number", "interface", "path", "checksum", "magic",
                                "version", "num_elements", "crc_check"}) {
            c.say(QStringLiteral("%1: %2").arg(QLatin1String(key),
                                               settings_file::shownText(o.value(key))));
        }
    }
    return CLI_OK;
}

int runReboot(Context &c, const Invocation &) {
    if (!reboot_unit(c.comms.get())) {
        error(QStringLiteral("the reboot command could not be sent"));
        return CLI_UNIT_FAILED;
    }
    if (c.s.json) {
        QJsonObject o;
        o.insert("reboot", "sent");
        c.printJson(o);
    } else {
        std::fprintf(c.s.out, "reboot command sent\n");
    }
    return CLI_OK;
}

} // namespace cli
