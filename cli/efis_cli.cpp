#include "efis_cli.h"

#include <QCommandLineParser>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QRegularExpression>
#include <QStringList>

#include <chrono>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "cli_commands.h"
#include "comms.h"
#include "discovery.h"
#include "display_preview.h"
#include "after_update.h"
#include "firmware_image.h"
#include "firmware_ops.h"
#include "hid_access.h"
#include "interrupt.h"
#include "null_device.h"
#include "settings_file.h"
#include "settings_flows.h"
#include "settings_rules.h"
#include "settings_session.h"
#include "get_set.h"

namespace {

const char *const USAGE =
    "usage: efis-cli [--json] [--verbose] COMMAND [ARGUMENTS] [--serial N | --device PATH]\n"
    "                [--can IFACE]\n"
    "commands:\n"
    "  devices                 every unit present: serial number, interface, path\n"
    "  info                    serial number, record header and the checksum check\n"
    "  get [FIELD...]          the settings (all, or the fields named)\n"
    "  set FIELD=VALUE... [--save] [--force]\n"
    "                          sends the values; --save stores the settings afterwards\n"
    "  save                    stores the unit's settings in its non-volatile memory\n"
    "  export FILE             writes the unit's settings to a settings file\n"
    "  import FILE [--dry-run] [--force]\n"
    "                          shows what the file changes, sends it and stores\n"
    "  diff FILE               shows what the file would change\n"
    "  flash IMAGE [--backup FILE | --no-backup] [--reboot] [--restore-settings]\n"
    "                          checks the image, backs up the unit's settings (to FILE, or\n"
    "                          to a name from registration, serial number and date),\n"
    "                          then writes the image into the unit's flash; --reboot then\n"
    "                          starts the new firmware, waits up to 60 s for the same unit\n"
    "                          and compares its settings with the backup;\n"
    "                          --restore-settings (--reboot implied) also sends and stores\n"
    "                          the backup's values where they differ\n"
    "  reboot                  sends the unit its reboot command\n"
    "  check [FILE]            lists the settings that contradict each other, on the unit or\n"
    "                          in the file\n"
    "set and import refuse settings that contradict each other (exit 2, nothing sent) unless\n"
    "--force; check exits 2 when it lists a problem.\n"
    "  preview FILE.png [--from SETTINGS.json] [--size WIDTHxHEIGHT]\n"
    "                          draws how the unit's settings (or the file's) read on its\n"
    "                          display, as a PNG image (800x600 unless --size)\n"
    "With more than one unit present, --serial (0x12345678 or decimal) or --device (a path\n"
    "that devices lists) chooses one; --can names the CAN FD interface (default can0).\n"
    "FIELD is a settings file key (efis-cli get lists them); VALUE is a number, or a text\n"
    "(quote a text that reads as a number: registration='\"123\"').\n"
    "exit status: 0 done, 1 the unit refused or an exchange failed, 2 bad usage or a bad\n"
    "file, 3 no unit found, 130 interrupted (SIGINT or SIGTERM: the exchange in flight\n"
    "ends first; a second Ctrl-C ends at once)\n";

// Set by Ctrl-C, SIGTERM or closing the console; read between exchanges.
FwCancelFlag interrupted{false};

// What a command that finds nothing to change says, rather than nothing at all.
const char *const NO_DIFFERENCES = "no differences";
const char *const NOTHING_SENT = ": nothing sent";

// The program's own streams: standard output as it was, and standard error.
struct Streams {
    FILE *out = nullptr;
    bool json = false;
};

void error(const QString &text) {
    std::fprintf(stderr, "efis-cli: %s\n", text.toLocal8Bit().constData());
}

void printJson(const Streams &s, const QJsonObject &object) {
    std::fprintf(s.out, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
}

// A value typed on the command line: JSON when it reads as a number, true, false, null or a
// quoted text; any other text as it stands.
QJsonValue typedValue(const QString &text) {
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray("[") + text.toUtf8() + QByteArray("]"));
    const QJsonArray array = document.array();
    if (document.isArray() && array.size() == 1) {
        return array.at(0);
    }
    return text;
}

// The outcome of the last store, for the message of a failed save.
StoreResult last_store;
int storeAndKeep(CommsManager *comms, uint32_t crc) {
    last_store = store_settings_exchange(comms, crc);
    return last_store.outcome == StoreOutcome::Stored ? 0 : -1;
}

QString storeText(const StoreResult &store) {
    switch (store.outcome) {
    case StoreOutcome::NotConnected:
        return QStringLiteral("no unit connected");
    case StoreOutcome::SendFailed:
        return QStringLiteral("the store command could not be sent");
    case StoreOutcome::EraseTimeout:
        return QStringLiteral("no erase status within the time-out");
    case StoreOutcome::EraseFailed:
        return QStringLiteral("the unit could not erase its settings memory");
    case StoreOutcome::UnexpectedErase:
        return QStringLiteral("unexpected erase status 0x%1").arg(store.can_id, 0, 16);
    case StoreOutcome::AckTimeout:
        return QStringLiteral("no acknowledgement of the store within the time-out");
    case StoreOutcome::UnexpectedAck:
        return QStringLiteral("unexpected store reply 0x%1").arg(store.can_id, 0, 16);
    case StoreOutcome::Stored:
        break;
    }
    return QStringLiteral("stored");
}

QString fieldList(const std::vector<int> &fields) {
    QStringList names;
    for (const int index : fields) {
        names << QString::number(index);
    }
    return names.join(QStringLiteral(", "));
}

// The firmware transfer's progress on standard error: on a terminal a bar redrawn at most
// every REDRAW_INTERVAL, with the rate in bytes per second once the payload has flowed for
// RATE_AFTER; otherwise one line per tenth.
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(100);
constexpr auto RATE_AFTER = std::chrono::seconds(1);

struct FlashProgress {
    using Clock = std::chrono::steady_clock;
    bool terminal = false;
    int last_tenth = -1;
    int last_phase = -1;
    Clock::time_point last_drawn{};
    Clock::time_point payload_start{}; // the first confirmed packet
    uint32_t payload_start_bytes = 0;
    uint32_t confirmed = 0; // payload bytes
    uint32_t total = 0;
};

void flashProgress(uint32_t current, uint32_t total, int phase, void *user) {
    auto *p = static_cast<FlashProgress *>(user);
    const FlashProgress::Clock::time_point now = FlashProgress::Clock::now();
    const bool new_phase = phase != p->last_phase;
    if (new_phase) {
        if (p->terminal && p->last_phase >= 0) {
            std::fprintf(stderr, "\n");
        }
        p->last_phase = phase;
        p->last_tenth = -1;
        if (phase == 1) {
            p->payload_start = now;
            p->payload_start_bytes = current;
        }
    }
    if (phase == 1) {
        p->confirmed = current;
        p->total = total;
    }
    const int percent = total == 0 ? 100 : static_cast<int>(uint64_t{current} * 100 / total);
    const bool last = current == total;
    if (p->terminal ? !new_phase && !last && now - p->last_drawn < REDRAW_INTERVAL
                    : percent / 10 == p->last_tenth) {
        return;
    }
    p->last_drawn = now;
    p->last_tenth = percent / 10;

    // The rate and the time left, once the payload has flowed long enough to tell.
    QString rate;
    const std::chrono::duration<double> flowing = now - p->payload_start;
    if (phase == 1 && flowing >= RATE_AFTER && current > p->payload_start_bytes) {
        const double bytes_per_second = (current - p->payload_start_bytes) / flowing.count();
        const auto left = static_cast<long>((total - current) / bytes_per_second + 0.5);
        rate = QStringLiteral("%1 B/s, %2:%3 left")
                   .arg(static_cast<long>(bytes_per_second + 0.5))
                   .arg(left / 60)
                   .arg(left % 60, 2, 10, QLatin1Char('0'));
    }
    const char *what = phase == 0 ? "Erasing" : "Writing";
    const char *unit = phase == 0 ? "blocks" : "bytes";
    if (p->terminal) {
        const int filled = percent / 5;
        std::fprintf(stderr, "\r%s [%-20.*s] %3d%%  %u / %u %s  %s\033[K", what, filled,
                     "####################", percent, current, total, unit,
                     rate.toLatin1().constData());
        std::fflush(stderr);
    } else {
        std::fprintf(stderr, "%s: %d%% (%u / %u %s%s%s)\n", what, percent, current, total, unit,
                     rate.isEmpty() ? "" : ", ", rate.toLatin1().constData());
    }
}

// What flash is asked beyond its image.
struct Options {
    QString backup; // flash: where the backup goes; empty: the default name
    bool no_backup = false;
    bool reboot = false;
    bool restore_settings = false;
};

class Cli {
public:
    explicit Cli(Streams streams) : s(streams) {}

    // Runs a command whose arguments and options were checked against its entry; a preview is
    // drawn at `preview_size`.
    int run(const cli::CommandSpec &found, const QStringList &args,
            const QCommandLineParser &parser, const QSize &preview_size);

private:
    // Connects to the unit the options name, or the only one present.
    int connect(const QCommandLineParser &parser);
    // Lists every unit interface present.
    int devices(const QString &can_interface);
    int runCommand(const cli::CommandSpec &found, const QStringList &args,
                   const QCommandLineParser &parser);
    int load();
    int info();
    int get(const QStringList &fields);
    int set(const QStringList &assignments, bool save_after, bool force);
    int check(const QStringList &args, const QCommandLineParser &parser);
    // False, with the problems on standard error, when `target` breaks a rule and `force` is
    // not given.
    bool rulesKept(const Settings_t &target, bool force);
    int save();
    int exportTo(const QString &path);
    int importFrom(const QString &path, bool dry_run, bool apply, bool force);
    int flash(const QString &path, const QCommandLineParser &parser);
    int afterReboot(const after_update::Before &before, bool restore, QJsonObject *report);
    // After SIGINT or SIGTERM: says where the command stopped; true when it must stop.
    bool stopIfInterrupted(const QString &where);
    int reboot();
    int preview(const QString &path, const QSize &size);
    // Prints what it did unless `print` is false (the caller reports it).
    int sendAndStore(const Settings_t &target, bool store, QJsonObject *report, bool print = true);
    bool fileTaken(const QString &path, const settings_file::FileResult &read);

    Streams s;
    std::unique_ptr<CommsManager> comms;
    SettingsSession session;
    const Settings_t &record = session.record();
    LoadResult loaded;
    QByteArray file_text; // import, diff: the settings file, read before the unit is reached
    // Payload bytes the unit confirmed in the last firmware transfer.
    uint32_t flash_confirmed = 0;
    // The image size of a preview, as run() was given it.
    QSize preview_size_;
};

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

QString serialText(uint32_t serial) {
    return serial == 0xFFFFFFFFu ? QStringLiteral("(not answering)")
                                 : settings_file::hexWord(serial);
}

int Cli::connect(const QCommandLineParser &parser) {
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
        const std::vector<UnitInterface> units = discover_units(choice.can_interface);
        const UnitInterface *picked = nullptr;
        for (const UnitInterface &unit : units) {
            const bool match = by_serial ? unit.serial == wanted_serial
                                         : unit.path == parser.value("device").toStdString();
            if ((by_serial || by_path) && match && picked == nullptr) {
                picked = &unit;
            }
        }
        if ((by_serial || by_path) && picked == nullptr) {
            error(by_serial ? QStringLiteral("no EFIS unit with serial number %1 found")
                                  .arg(settings_file::hexWord(wanted_serial))
                            : QStringLiteral("no EFIS unit found at %1")
                                  .arg(parser.value(QStringLiteral("device"))));
            return CLI_NO_UNIT;
        }
        if (picked == nullptr && count_units(units) > 1) {
            error(QStringLiteral("%1 units found; choose one, nothing was sent:")
                      .arg(count_units(units)));
            for (const UnitInterface &unit : units) {
                std::fprintf(stderr, "  %s  %s %s: --serial %s or --device %s\n",
                             qPrintable(serialText(unit.serial)), interface_name(unit.iface),
                             unit.path.c_str(),
                             unit.answered() ? qPrintable(settings_file::hexWord(unit.serial))
                                             : "-",
                             unit.path.c_str());
            }
            return CLI_USAGE;
        }
        if (picked != nullptr) {
            const std::string can_interface = choice.can_interface;
            choice = choice_for(*picked);
            if (picked->iface == USB_HID) {
                choice.can_interface = can_interface;
            }
        }
    }
    comms->choose(choice);
    if (comms->establish_connection()) {
        return CLI_OK;
    }
    const USBHID *usb = comms->getUSBHID();
    if (usb != nullptr && usb->openRefused()) {
        error(QString::fromStdString(hidAccessStatus(usb->refusedPath(), usb->refusedError())));
    } else {
        error(QStringLiteral("no EFIS unit found over USB HID or CAN FD"));
    }
    return CLI_NO_UNIT;
}

int Cli::load() {
    loaded = session.load(comms.get());
    switch (loaded.outcome) {
    case LoadOutcome::NotConnected:
        error(QStringLiteral("no unit connected"));
        return CLI_NO_UNIT;
    case LoadOutcome::HeaderUnread:
        error(QStringLiteral("could not read header word %1 of the unit's settings")
                  .arg(static_cast<int>(loaded.header)));
        return CLI_UNIT_FAILED;
    case LoadOutcome::FieldRejected:
        error(QStringLiteral("field %1 could not be taken").arg(loaded.rejected_field));
        return CLI_UNIT_FAILED;
    case LoadOutcome::Loaded:
        break;
    }
    // Nothing is shown, kept or sent on the strength of a partial read.
    if (!loaded.unread_fields.empty()) {
        error(QStringLiteral("could not read field(s) %1 of the unit's settings")
                  .arg(fieldList(loaded.unread_fields)));
        return CLI_UNIT_FAILED;
    }
    if (!loaded.crc_matches) {
        error(QStringLiteral("warning: the unit's checksum %1 does not match its settings (%2)")
                  .arg(settings_file::hexWord(session.unitChecksum()),
                       settings_file::hexWord(loaded.calculated_crc)));
    }
    return CLI_OK;
}

int Cli::devices(const QString &can_interface) {
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
        list.append(o);
        if (!s.json) {
            std::fprintf(s.out, "%s  %s  %s\n", qPrintable(serialText(unit.serial)),
                         interface_name(unit.iface), unit.path.c_str());
        }
    }
    if (s.json) {
        QJsonObject o;
        o.insert("devices", list);
        printJson(s, o);
    }
    return CLI_OK;
}

int Cli::info() {
    const uint32_t serial = get_serialnumber(comms.get(), comms->getActiveInterface());
    const COMM_INTERFACE_t iface = comms->getActiveInterface();
    QJsonObject o;
    o.insert("serial_number",
             serial == 0xFFFFFFFFu ? QJsonValue() : QJsonValue(settings_file::hexWord(serial)));
    o.insert("interface", interface_name(iface));
    o.insert("path", QString::fromStdString(iface == CAN_FD ? comms->getCANFD()->name()
                                                            : comms->getUSBHID()->path()));
    o.insert("checksum", settings_file::hexWord(session.unitChecksum()));
    o.insert("magic", settings_file::hexWord(record.magic));
    o.insert("version", static_cast<double>(record.version));
    o.insert("num_elements", static_cast<double>(record.num_elements));
    o.insert("crc_check", loaded.crc_matches ? "passed" : "failed");
    if (s.json) {
        printJson(s, o);
    } else {
        for (const char *key : {"serial_number", "interface", "path", "checksum", "magic",
                                "version", "num_elements", "crc_check"}) {
            std::fprintf(s.out, "%s: %s\n", key,
                         qPrintable(settings_file::shownText(o.value(key))));
        }
    }
    return CLI_OK;
}

int Cli::get(const QStringList &fields) {
    const QJsonObject all = settings_file::settingsObject(record);
    QJsonObject chosen;
    for (const QString &field : fields) {
        if (!all.contains(field)) {
            error(QStringLiteral("unknown field \"%1\" (efis-cli get lists them)").arg(field));
            return CLI_USAGE;
        }
        chosen.insert(field, all.value(field));
    }
    if (s.json) {
        printJson(s, fields.isEmpty() ? all : chosen);
        return CLI_OK;
    }
    // In the file's order.
    for (const settings_file::Entry &entry : settings_file::entries(record)) {
        if (fields.isEmpty() || fields.contains(entry.key)) {
            std::fprintf(s.out, "%s: %s\n", qPrintable(entry.key), qPrintable(entry.text));
        }
    }
    return CLI_OK;
}

// Sends every field in which `target` differs from the unit's record, then stores when asked.
int Cli::sendAndStore(const Settings_t &target, bool store, QJsonObject *report, bool print) {
    QJsonArray sent;
    for (const settings_file::Difference &d : settings_file::differences(record, target)) {
        session.edit(d.index, settings_get_value(&target, d.index));
        // The registration is one text in three words: a new text changes them all.
        if (anyRegistrationWordIn(FieldSet{d.index})) {
            for (const settings_struct_index word : REGISTRATION_WORDS) {
                session.edit(word, settings_get_value(&target, word));
            }
        }
        sent.append(d.key);
    }
    if (session.hasUnsentEdits()) {
        const SendResult result = session.sendEdits(comms.get(), UnitChoices{});
        if (!result.failed.empty()) {
            error(
                QStringLiteral("the unit did not take field(s) %1").arg(fieldList(result.failed)));
            return CLI_UNIT_FAILED;
        }
    }
    report->insert("sent", sent);
    if (store && stopIfInterrupted(QStringLiteral("before the store: the values were sent but not "
                                                  "stored, and a reboot loses them"))) {
        return CLI_INTERRUPTED;
    }
    if (store) {
        const Settings_t before = record;
        const SaveResult saved = session.save(comms.get(), before, UnitChoices{}, storeAndKeep);
        if (saved.outcome != SaveOutcome::Saved) {
            error(saved.outcome == SaveOutcome::StoreFailed
                      ? QStringLiteral("settings not stored: %1").arg(storeText(last_store))
                      : QStringLiteral("settings not stored: the unit did not answer"));
            return CLI_UNIT_FAILED;
        }
        report->insert("stored", true);
        report->insert("checksum", settings_file::hexWord(saved.new_crc));
    }
    if (!print) {
        return CLI_OK;
    }
    if (s.json) {
        printJson(s, *report);
    } else {
        for (const QJsonValue key : sent) {
            std::fprintf(s.out, "sent %s\n", qPrintable(key.toString()));
        }

        if (store) {
            std::fprintf(s.out, "stored under checksum %s\n",
                         qPrintable(report->value("checksum").toString()));
        }
    }
    return CLI_OK;
}

int Cli::set(const QStringList &assignments, bool save_after, bool force) {
    if (assignments.isEmpty()) {
        error(QStringLiteral("set needs FIELD=VALUE"));
        return CLI_USAGE;
    }
    QJsonObject settings = settings_file::settingsObject(record);
    for (const QString &assignment : assignments) {
        const int eq = assignment.indexOf('=');
        const QString key = assignment.left(eq);
        if (eq <= 0 || !settings.contains(key)) {
            error(QStringLiteral("\"%1\" is not FIELD=VALUE with a known field").arg(assignment));
            return CLI_USAGE;
        }
        settings.insert(key, typedValue(assignment.mid(eq + 1)));
    }
    QJsonObject file;
    file.insert("format", settings_file::FORMAT_NAME);
    file.insert("format_version", settings_file::FORMAT_VERSION);
    file.insert("settings", settings);
    Settings_t target = record;
    QString problem;
    if (!settings_file::read(QJsonDocument(file).toJson(), &target, nullptr, &problem)) {
        error(problem);
        return CLI_USAGE;
    }
    if (!rulesKept(target, force)) {
        return CLI_USAGE;
    }
    if (!s.json && settings_file::differences(record, target).empty()) {
        std::fprintf(s.out, "%s%s\n", NO_DIFFERENCES, NOTHING_SENT);
    }
    QJsonObject report;
    return sendAndStore(target, save_after, &report);
}

int Cli::save() {
    QJsonObject report;
    return sendAndStore(record, true, &report);
}

// Reports a settings file that could not be taken; true when it was.
bool Cli::fileTaken(const QString &path, const settings_file::FileResult &read) {
    if (read.outcome == settings_file::FileOutcome::Unreadable) {
        error(QStringLiteral("cannot read %1: %2").arg(path, read.problem));
    } else if (read.outcome == settings_file::FileOutcome::Refused) {
        error(QStringLiteral("%1 refused: %2").arg(path, read.problem));
    }
    return read.outcome == settings_file::FileOutcome::Read;
}

int Cli::exportTo(const QString &path) {
    const QString failure = after_update::write_backup(
        path, record, get_serialnumber(comms.get(), comms->getActiveInterface()));
    if (!failure.isEmpty()) {
        error(QStringLiteral("cannot write %1: %2").arg(path, failure));
        return CLI_USAGE;
    }
    if (s.json) {
        QJsonObject o;
        o.insert("exported", path);
        printJson(s, o);
    } else {
        std::fprintf(s.out, "exported to %s\n", qPrintable(path));
    }
    return CLI_OK;
}

int Cli::importFrom(const QString &path, bool dry_run, bool apply, bool force) {
    Settings_t target = record;
    QString problem;
    if (!settings_file::read(file_text, &target, nullptr, &problem)) {
        error(QStringLiteral("%1 refused: %2").arg(path, problem));
        return CLI_USAGE;
    }
    const std::vector<settings_file::Difference> differences =
        settings_file::differences(record, target);
    QJsonArray list;
    for (const settings_file::Difference &d : differences) {
        QJsonObject o;
        o.insert("field", d.key);
        o.insert("unit", d.current);
        o.insert("file", d.other);
        list.append(o);
        if (!s.json) {
            std::fprintf(s.out, "%s: %s -> %s\n", qPrintable(d.key), qPrintable(d.current),
                         qPrintable(d.other));
        }
    }
    if (!s.json && differences.empty()) {
        std::fprintf(s.out, "%s%s\n", NO_DIFFERENCES, !apply || dry_run ? "" : NOTHING_SENT);
    }
    if (!apply || dry_run) {
        for (const SettingsProblem &problem : checkSettings(target)) {
            error(QStringLiteral("warning: %1").arg(QString::fromStdString(problem.text)));
        }
        if (s.json) {
            QJsonObject o;
            o.insert("differences", list);
            printJson(s, o);
        }
        return CLI_OK;
    }
    if (!rulesKept(target, force)) {
        return CLI_USAGE;
    }
    QJsonObject report;
    report.insert("differences", list);
    return sendAndStore(target, true, &report);
}

bool Cli::rulesKept(const Settings_t &target, bool force) {
    const std::vector<SettingsProblem> problems = checkSettings(target);
    for (const SettingsProblem &problem : problems) {
        error(QString::fromStdString(problem.text));
    }
    if (problems.empty() || force) {
        return true;
    }
    error(QStringLiteral("nothing sent: the settings contradict each other (--force sends them "
                         "anyway)"));
    return false;
}

int Cli::check(const QStringList &args, const QCommandLineParser &parser) {
    Settings_t checked{};
    if (!args.isEmpty()) {
        if (!fileTaken(args.at(0), settings_file::readFile(args.at(0), &checked, nullptr))) {
            return CLI_USAGE;
        }
    } else {
        if (const int status = connect(parser); status != CLI_OK) {
            return status;
        }
        if (const int status = load(); status != CLI_OK) {
            return status;
        }
        checked = record;
    }
    const std::vector<SettingsProblem> problems = checkSettings(checked);
    if (s.json) {
        QJsonArray list;
        for (const SettingsProblem &problem : problems) {
            QJsonArray fields;
            for (const ProblemField &field : problem.fields) {
                QJsonObject f;
                f.insert("label", QString::fromStdString(field.label));
                f.insert("value", QString::fromStdString(field.value));
                fields.append(f);
            }
            QJsonObject o;
            o.insert("text", QString::fromStdString(problem.text));
            o.insert("fields", fields);
            list.append(o);
        }
        QJsonObject o;
        o.insert("problems", list);
        printJson(s, o);
    } else if (problems.empty()) {
        std::fprintf(s.out, "no problems: the settings keep every rule\n");
    } else {
        for (const SettingsProblem &problem : problems) {
            std::fprintf(s.out, "%s\n", problem.text.c_str());
        }
    }
    return problems.empty() ? CLI_OK : CLI_USAGE;
}

bool Cli::stopIfInterrupted(const QString &where) {
    if (!interrupted.load()) {
        return false;
    }
    error(QStringLiteral("interrupted %1").arg(where));
    return true;
}

int Cli::flash(const QString &path, const QCommandLineParser &parser) {
    Options options;
    options.backup = parser.value(QStringLiteral("backup"));
    options.no_backup = parser.isSet(QStringLiteral("no-backup"));
    options.reboot = parser.isSet(QStringLiteral("reboot"));
    options.restore_settings = parser.isSet(QStringLiteral("restore-settings"));
    // The file first: a file that cannot be written whole is refused before any exchange.
    const QByteArray file = QFile::encodeName(path);
    const ImageCheck image = check_firmware_image(file.constData());
    if (!image.ok()) {
        error(QStringLiteral("%1 %2").arg(path, QString::fromStdString(image_problem_text(image))));
        return CLI_USAGE;
    }
    const QString version = QString::fromStdString(image_version_text(image.header));
    if (!s.json) {
        std::fprintf(s.out, "image %s: version %s, %u payload bytes\n", qPrintable(path),
                     qPrintable(version), static_cast<unsigned>(image.header.encrypted_size));
    }
    QJsonObject report;
    report.insert("image_version", version);

    // The settings as they are before the update, kept in a file unless the user says not to.
    after_update::Before before;
    before.serial = get_serialnumber(comms.get(), comms->getActiveInterface());
    if (const int status = load(); status != CLI_OK) {
        if (!options.no_backup) {
            error(QStringLiteral("no backup of the unit's settings could be made: the firmware "
                                 "was not written (--no-backup writes it without one)"));
            return status;
        }
    } else {
        before.has_settings = true;
        before.settings = record;
    }
    if (!options.no_backup) {
        const QString backup =
            options.backup.isEmpty()
                ? after_update::backup_file_name(record, before.serial, QDate::currentDate())
                : options.backup;
        const QString problem = after_update::write_backup(backup, record, before.serial);
        if (!problem.isEmpty()) {
            error(QStringLiteral("cannot write the backup %1: %2: the firmware was not written")
                      .arg(backup, problem));
            return CLI_USAGE;
        }
        before.backup_path = backup;
        report.insert("backup", backup);
        if (!s.json) {
            std::fprintf(s.out, "settings backed up to %s\n", qPrintable(backup));
        }
    }
    if (stopIfInterrupted(QStringLiteral("before the firmware update: nothing was written"))) {
        return CLI_INTERRUPTED;
    }

    FlashProgress progress;
    progress.terminal = isatty(STDERR_FILENO) != 0;
    const FwTransferResult done =
        send_fw_cancellable(comms.get(), file.constData(), flashProgress, &progress, &interrupted);
    flash_confirmed = done.bytes_confirmed;
    if (progress.terminal) {
        std::fprintf(stderr, "\n");
    }
    if (done.end == FwTransferEnd::Cancelled) {
        error(QStringLiteral("interrupted during the firmware update at %1 of %2 bytes: the "
                             "update is incomplete")
                  .arg(done.bytes_confirmed)
                  .arg(done.bytes_total));
        return CLI_INTERRUPTED;
    }
    if (done.end != FwTransferEnd::Completed) {
        error(QStringLiteral("firmware update failed (--verbose shows the unit's exchanges)"));
        return CLI_UNIT_FAILED;
    }
    report.insert("flashed", path);
    if (!s.json) {
        std::fprintf(s.out, "firmware written from %s\n", qPrintable(path));
    }
    if (!options.reboot && !options.restore_settings) {
        if (s.json) {
            printJson(s, report);
        }
        return CLI_OK;
    }
    const int status = afterReboot(before, options.restore_settings, &report);
    if (status == CLI_OK && s.json) {
        printJson(s, report);
    }
    return status;
}

int Cli::afterReboot(const after_update::Before &before, bool restore, QJsonObject *report) {
    if (!after_update::reboot_and_let_go(comms.get())) {
        error(QStringLiteral("the reboot command could not be sent"));
        return CLI_UNIT_FAILED;
    }
    if (!s.json) {
        std::fprintf(s.out,
                     "reboot command sent; waiting up to %lld s for the unit (serial "
                     "number %s)\n",
                     static_cast<long long>(after_update::RETURN_TIMEOUT.count()),
                     qPrintable(settings_file::hexWord(before.serial)));
    }
    const after_update::Look back = after_update::wait_for_unit(
        comms, before.serial, after_update::RETURN_TIMEOUT, &interrupted);
    if (stopIfInterrupted(QStringLiteral("while waiting for the unit to come back from its "
                                         "reboot"))) {
        return CLI_INTERRUPTED;
    }
    switch (back.kind) {
    case after_update::Return::NotYet:
        error(QStringLiteral("the unit did not come back within %1 s of its reboot")
                  .arg(after_update::RETURN_TIMEOUT.count()));
        return CLI_UNIT_FAILED;
    case after_update::Return::Other:
        error(QStringLiteral("another unit answered after the reboot (serial number %1, not %2): "
                             "its settings were not compared")
                  .arg(settings_file::hexWord(back.serial), settings_file::hexWord(before.serial)));
        return CLI_UNIT_FAILED;
    case after_update::Return::Same:
        break;
    }
    report->insert("returned", true);
    if (!s.json) {
        std::fprintf(s.out, "the unit is back\n");
    }
    if (const int status = load(); status != CLI_OK) {
        return status;
    }
    if (!before.has_settings) {
        return CLI_OK;
    }
    const std::vector<settings_file::Difference> changed_by_update =
        after_update::changes(before, record);
    QJsonArray list;
    for (const settings_file::Difference &d : changed_by_update) {
        QJsonObject o;
        o.insert("field", d.key);
        o.insert("before", d.current);
        o.insert("now", d.other);
        list.append(o);
    }
    report->insert("differences", list);
    if (!s.json) {
        if (changed_by_update.empty()) {
            std::fprintf(s.out, "settings unchanged\n");
        }
        for (const settings_file::Difference &d : changed_by_update) {
            std::fprintf(s.out, "%s: %s -> %s\n", qPrintable(d.key), qPrintable(d.current),
                         qPrintable(d.other));
        }
    }
    if (changed_by_update.empty()) {
        return CLI_OK;
    }
    if (!restore) {
        if (!s.json) {
            if (!before.backup_path.isEmpty()) {
                std::fprintf(s.out, "restore them with: efis-cli import %s\n",
                             qPrintable(before.backup_path));
            } else {
                std::fprintf(s.out, "no backup was written: these values are not kept\n");
            }
        }
        return CLI_OK;
    }
    // The backup's values where the unit differs: sent, then stored.
    Settings_t target = record;
    const auto take = [&](settings_struct_index index) {
        const uint32_t value = settings_get_value(&before.settings, index);
        settings_set_value(&target, index, &value);
    };
    for (const settings_file::Difference &d : changed_by_update) {
        take(d.index);
        if (anyRegistrationWordIn(FieldSet{d.index})) {
            for (const settings_struct_index word : REGISTRATION_WORDS) {
                take(word);
            }
        }
    }
    QJsonObject restored;
    const int status = sendAndStore(target, true, &restored, false);
    if (status != CLI_OK) {
        return status;
    }
    report->insert("restored", restored);
    if (!s.json) {
        for (const QJsonValue key : restored.value("sent").toArray()) {
            std::fprintf(s.out, "sent %s\n", qPrintable(key.toString()));
        }
        std::fprintf(s.out, "settings restored from the backup: stored under checksum %s\n",
                     qPrintable(restored.value("checksum").toString()));
    }
    return CLI_OK;
}

int Cli::reboot() {
    if (!reboot_unit(comms.get())) {
        error(QStringLiteral("the reboot command could not be sent"));
        return CLI_UNIT_FAILED;
    }
    if (s.json) {
        QJsonObject o;
        o.insert("reboot", "sent");
        printJson(s, o);
    } else {
        std::fprintf(s.out, "reboot command sent\n");
    }
    return CLI_OK;
}

int Cli::preview(const QString &path, const QSize &size) {
    const QStringList problems = display_preview::problems(record);
    const QImage image = display_preview::image(record, size);
    QSaveFile out(path);
    if (image.isNull() || !out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG") ||
        !out.commit()) {
        error(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return CLI_USAGE;
    }
    if (s.json) {
        QJsonObject o;
        o.insert("preview", path);
        o.insert("width", size.width());
        o.insert("height", size.height());
        o.insert("problems", QJsonArray::fromStringList(problems));
        printJson(s, o);
    } else {
        std::fprintf(s.out, "preview written to %s (%dx%d)\n", qPrintable(path), size.width(),
                     size.height());
        for (const QString &problem : problems) {
            std::fprintf(s.out, "problem: %s\n", qPrintable(problem));
        }
    }
    return CLI_OK;
}

int Cli::run(const cli::CommandSpec &found, const QStringList &args,
             const QCommandLineParser &parser, const QSize &preview_size) {
    const QString command = QLatin1String(found.name);
    // A file is checked without a unit; the unit's settings are read first.
    if (command == "check") {
        return check(args, parser);
    }
    preview_size_ = preview_size;
    // A preview of a settings file needs no unit.
    if (command == "preview" && parser.isSet(QStringLiteral("from"))) {
        for (const char *unit_option : {"serial", "device", "can"}) {
            if (parser.isSet(QLatin1String(unit_option))) {
                error(QStringLiteral("preview --from reaches no unit: --%1 does not apply")
                          .arg(QLatin1String(unit_option)));
                return CLI_USAGE;
            }
        }
        const QString from = parser.value(QStringLiteral("from"));
        if (!fileTaken(from, settings_file::readFile(from, &session.record(), nullptr))) {
            return CLI_USAGE;
        }
        return preview(args.at(0), preview_size_);
    }
    if (command == "devices") {
        return devices(parser.isSet(QStringLiteral("can")) ? parser.value(QStringLiteral("can"))
                                                           : DEFAULT_CANFD_INTERFACE);
    }
    if (command == "flash") {
        if (parser.isSet(QStringLiteral("backup")) && parser.isSet(QStringLiteral("no-backup"))) {
            error(QStringLiteral("--backup and --no-backup exclude each other"));
            return CLI_USAGE;
        }
        // A file that cannot be written whole is refused before any exchange.
        const ImageCheck image = check_firmware_image(QFile::encodeName(args.at(0)).constData());
        if (!image.ok()) {
            error(QStringLiteral("%1 %2").arg(args.at(0),
                                              QString::fromStdString(image_problem_text(image))));
            return CLI_USAGE;
        }
    }
    // A file to compare is read before the unit is reached: a file that cannot be taken ends
    // the command with nothing sent.
    if ((command == "import" || command == "diff") &&
        !fileTaken(args.at(0), settings_file::readFileText(args.at(0), &file_text))) {
        return CLI_USAGE;
    }
    if (const int status = connect(parser); status != CLI_OK) {
        return status;
    }
    const int status = runCommand(found, args, parser);
    if (status != CLI_OK && comms->linkLost()) {
        // Whatever the command said, the cause is that the unit went away or fell silent.
        if (command == "flash") {
            error(QStringLiteral("the unit was disconnected during flash after %1 byte(s) of the "
                                 "image were confirmed; the update is incomplete: run it again")
                      .arg(flash_confirmed));
        } else {
            error(QStringLiteral("the unit was disconnected during %1").arg(command));
        }
        return CLI_UNIT_FAILED;
    }
    return status;
}

int Cli::runCommand(const cli::CommandSpec &found, const QStringList &args,
                    const QCommandLineParser &parser) {
    const QString command = QLatin1String(found.name);
    const bool save_after = parser.isSet(QStringLiteral("save"));
    const bool dry_run = parser.isSet(QStringLiteral("dry-run"));
    const bool force = parser.isSet(QStringLiteral("force"));
    if (found.loads) {
        if (const int status = load(); status != CLI_OK) {
            return status;
        }
    }
    if (stopIfInterrupted(QStringLiteral("during %1: nothing was sent").arg(command))) {
        return CLI_INTERRUPTED;
    }
    if (command == "info") {
        return info();
    }
    if (command == "get") {
        return get(args);
    }
    if (command == "set") {
        return set(args, save_after, force);
    }
    if (command == "save") {
        return save();
    }
    if (command == "export") {
        return exportTo(args.at(0));
    }
    if (command == "import" || command == "diff") {
        return importFrom(args.at(0), dry_run, command == "import", force);
    }
    if (command == "flash") {
        return flash(args.at(0), parser);
    }
    if (command == "preview") {
        return preview(args.at(0), preview_size_);
    }
    return reboot();
}

// The preview's image size: 800x600 unless --size says otherwise, each side 16 to 4096 pixels.
const QSize DEFAULT_PREVIEW_SIZE(800, 600);
constexpr int MIN_PREVIEW_SIDE = 16;
constexpr int MAX_PREVIEW_SIDE = 4096;

// WIDTHxHEIGHT as a size; an empty size for anything else or a side out of range.
QSize previewSize(const QString &text) {
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,5})x([0-9]{1,5})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return {};
    }
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    const auto fits = [](int side) { return side >= MIN_PREVIEW_SIDE && side <= MAX_PREVIEW_SIDE; };
    return fits(width) && fits(height) ? QSize(width, height) : QSize();
}

} // namespace

int efisCliMain(int argc, char *argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    parser.addOptions(cli::parserOptions());
    if (!parser.parse(arguments)) {
        error(parser.errorText());
        std::fputs(USAGE, stderr);
        return CLI_USAGE;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(USAGE, stdout);
        return CLI_OK;
    }
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        std::fputs(USAGE, stderr);
        return CLI_USAGE;
    }
    const QString command = positional.takeFirst();
    const cli::CommandSpec *found = cli::findCommand(command);
    if (found == nullptr || positional.size() < found->min_args ||
        (found->max_args >= 0 && positional.size() > found->max_args)) {
        error(found == nullptr ? QStringLiteral("unknown command \"%1\"").arg(command)
                               : QStringLiteral("wrong number of arguments for %1").arg(command));
        std::fputs(USAGE, stderr);
        return CLI_USAGE;
    }
    // Before anything reaches the unit: an option the command does not take would otherwise
    // be ignored, and the command run as though it had not been given.
    if (const QString refused = cli::refusedOption(parser, *found); !refused.isEmpty()) {
        error(QStringLiteral("%1 does not take --%2").arg(command, refused));
        std::fputs(USAGE, stderr);
        return CLI_USAGE;
    }
    const QSize preview_size = parser.isSet(QStringLiteral("size"))
                                   ? previewSize(parser.value(QStringLiteral("size")))
                                   : DEFAULT_PREVIEW_SIZE;
    if (preview_size.isEmpty()) {
        error(QStringLiteral("--size needs WIDTHxHEIGHT, each from %1 to %2")
                  .arg(MIN_PREVIEW_SIDE)
                  .arg(MAX_PREVIEW_SIDE));
        return CLI_USAGE;
    }

    // The command's application object: the preview draws text, whose fonts only a GUI
    // application provides (on Qt's offscreen platform unless another is chosen, so no display
    // is needed); every other command needs Qt Core alone.
    int app_argc = 1;
    std::unique_ptr<QCoreApplication> app;
    if (QCoreApplication::instance() == nullptr) {
        if (command == "preview") {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
                qputenv("QT_QPA_PLATFORM", "offscreen");
            }
            app = std::make_unique<QGuiApplication>(app_argc, argv);
        } else {
            app = std::make_unique<QCoreApplication>(app_argc, argv);
        }
    } else if (command == "preview" &&
               qobject_cast<QGuiApplication *>(QCoreApplication::instance()) == nullptr) {
        error(QStringLiteral("preview cannot draw without a GUI application"));
        return CLI_USAGE;
    }

    // The device layer prints its lines on standard output: keep that stream for the program's
    // own output and send those lines to standard error, or nowhere.
    std::fflush(stdout);
    const int saved_stdout = dup(STDOUT_FILENO);
    const int sink = parser.isSet(QStringLiteral("verbose"))
                         ? dup(STDERR_FILENO)
                         : open(platform::NULL_DEVICE, O_WRONLY);
    Streams streams;
    streams.json = parser.isSet(QStringLiteral("json"));
    streams.out = saved_stdout >= 0 ? fdopen(dup(saved_stdout), "w") : nullptr;
    if (streams.out == nullptr || sink < 0) {
        error(QStringLiteral("cannot set up the output streams"));
        return CLI_USAGE;
    }
    std::setvbuf(streams.out, nullptr, _IOLBF, 0);
    dup2(sink, STDOUT_FILENO);
    close(sink);

    int status;
    {
        const platform::InterruptWatch handlers(interrupted);
        Cli cli(streams);
        status = cli.run(*found, positional, parser, preview_size);
    }

    std::fflush(stdout);
    std::fclose(streams.out);
    dup2(saved_stdout, STDOUT_FILENO);
    close(saved_stdout);
    return status;
}
