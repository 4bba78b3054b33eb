// efis-cli devices, info and reboot: the units present, one unit's identity, its reboot.
#include <QJsonArray>
#include <QJsonObject>

#include "cli_context.h"
#include "cli_handlers.h"
#include "discovery.h"
#include "efis_cli.h"
#include "settings_flows.h"
#include "unit_info.h"
#include "unit_locator.h"

namespace cli {

int runDevices(Context &c, const Invocation &in) {
    const QString can_interface = in.parser.isSet(QStringLiteral("can"))
                                      ? in.parser.value(QStringLiteral("can"))
                                      : QString::fromLatin1(DEFAULT_CANFD_INTERFACE);
    const std::vector<UnitInterface> units = unit_locator::list(can_interface.toStdString());
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
    // The rows Unit Information shows in the window, by their keys.
    unit_info::Facts facts =
        unit_info::gather(c.comms.get(), unit_locator::identify(c.comms.get()));
    unit_info::Facts::Record record;
    record.header = c.record;
    record.checksum = c.session.unitChecksum();
    record.crc_matches = c.loaded.crc_matches;
    facts.record = record;
    QJsonObject o;
    const std::vector<unit_info::Row> rows = unit_info::rows(facts);
    for (const unit_info::Row &row : rows) {
        o.insert(row.key, row.value.isEmpty() ? QJsonValue()
                          : row.number        ? QJsonValue(row.value.toDouble())
                                              : QJsonValue(row.value));
    }
    if (c.s.json) {
        c.printJson(o);
    } else {
        for (const unit_info::Row &row : rows) {
            c.say(
                QStringLiteral("%1: %2").arg(row.key, settings_file::shownText(o.value(row.key))));
        }
    }
    return CLI_OK;
}

int runReboot(Context &c, const Invocation &) {
    if (!reboot_unit(c.comms.get())) {
        return failed(outcome::words(outcome::Result::RebootFailed));
    }
    if (c.s.json) {
        QJsonObject o;
        o.insert("reboot", "sent");
        c.printJson(o);
    } else {
        c.say(outcome::words(outcome::Result::RebootSent).cli);
    }
    return CLI_OK;
}

} // namespace cli
