// efis-cli's choice of a unit: the one the options name, or the only one present; never a guess
// among several.
#include <QCommandLineParser>

#include "backup_file.h"
#include "cli_context.h"
#include "discovery.h"
#include "efis_cli.h"
#include "hid_access.h"
#include "unit_locator.h"

namespace cli {

namespace {

// A serial number as typed: hexadecimal with 0x, or decimal.
bool parseSerial(const QString &text, uint32_t *serial) {
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const qulonglong value = (hex ? text.mid(2) : text).toULongLong(&ok, hex ? 16 : 10);
    if (!ok || value > 0xFFFFFFFEull) {
        return false;
    }
    *serial = static_cast<uint32_t>(value);
    return true;
}

} // namespace

int Context::connect(const QCommandLineParser &parser) {
    comms = std::make_unique<CommsManager>();
    UnitChoice choice;
    if (parser.isSet(QStringLiteral("can"))) {
        choice.can_interface = parser.value(QStringLiteral("can")).toStdString();
    }
    const bool by_serial = parser.isSet(QStringLiteral("serial"));
    const bool by_path = parser.isSet(QStringLiteral("device"));
    uint32_t wanted_serial = 0;
    if (by_serial && !parseSerial(parser.value(QStringLiteral("serial")), &wanted_serial)) {
        error(QStringLiteral("--serial takes a serial number: 0x12345678 or decimal"));
        return CLI_USAGE;
    }
    if (by_serial && by_path) {
        error(QStringLiteral("--serial and --device each choose a unit: give one of them"));
        return CLI_USAGE;
    }
    // Several units: never guess which one is meant.
    if (by_serial || by_path || list_unit_interfaces(choice.can_interface).size() > 1) {
        unit_locator::Wanted wanted;
        wanted.by_serial = by_serial;
        wanted.serial = wanted_serial;
        wanted.by_path = by_path;
        wanted.path = parser.value(QStringLiteral("device")).toStdString();
        const std::vector<UnitInterface> units = unit_locator::list(choice.can_interface);
        const unit_locator::Choice chosen = unit_locator::choose(units, wanted);
        switch (chosen.outcome) {
        case unit_locator::ChoiceOutcome::NotFound:
            error(by_serial ? QStringLiteral("no EFIS unit with serial number %1 found")
                                  .arg(settings_file::hexWord(wanted_serial))
                            : QStringLiteral("no EFIS unit found at %1")
                                  .arg(parser.value(QStringLiteral("device"))));
            return CLI_NO_UNIT;
        case unit_locator::ChoiceOutcome::Ambiguous:
            error(
                QStringLiteral("%1 units found; choose one, nothing was sent:").arg(chosen.count));
            for (const UnitInterface &unit : units) {
                const QString path = QString::fromStdString(unit.path);
                note(QStringLiteral("  %1  %2 %3: --serial %4 or --device %5")
                         .arg(serialText(unit.serial), QLatin1String(interface_name(unit.iface)),
                              path,
                              unit.answered() ? settings_file::hexWord(unit.serial)
                                              : QStringLiteral("-"),
                              backup_file::commandArgument(path)));
            }
            return CLI_USAGE;
        case unit_locator::ChoiceOutcome::Chosen:
            choice = unit_locator::connectionFor(chosen.unit, choice.can_interface);
            break;
        case unit_locator::ChoiceOutcome::OnlyOne:
            break;
        }
    }
    comms->choose(choice);
    if (comms->establish_connection()) {
        return CLI_OK;
    }
    const USBHID *usb = comms->getUSBHID();
    std::string in_use;
    if (comms->unitInUse(&in_use)) {
        error(QString::fromStdString(in_use) + QStringLiteral(": nothing sent"));
        return CLI_IN_USE;
    }
    if (usb != nullptr && usb->openRefused()) {
        error(QString::fromStdString(hidAccessStatus(usb->refusedPath(), usb->refusedError())));
    } else {
        error(QStringLiteral("no EFIS unit found over USB HID or CAN FD"));
    }
    return CLI_NO_UNIT;
}

} // namespace cli
