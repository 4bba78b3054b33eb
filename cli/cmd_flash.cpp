// efis-cli flash: a firmware image checked, the unit's settings backed up, the image written into
// the unit's flash, and with --reboot the wait for the same unit and the comparison of its
// settings with the backup (--restore-settings sends and stores the differences back).
#include <QCommandLineParser>
#include <QDate>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include <chrono>
#include <unistd.h>

#include "after_update.h"
#include "cli_context.h"
#include "cli_handlers.h"
#include "efis_cli.h"
#include "firmware_image.h"
#include "get_set.h"
#include "settings_flows.h"

namespace cli {

namespace {

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

int afterReboot(Context &c, const after_update::Before &before, bool restore, QJsonObject *report) {
    if (!after_update::reboot_and_let_go(c.comms.get())) {
        error(QStringLiteral("the reboot command could not be sent"));
        return CLI_UNIT_FAILED;
    }
    if (!c.s.json) {
        std::fprintf(c.s.out,
                     "reboot command sent; waiting up to %lld s for the unit (serial "
                     "number %s)\n",
                     static_cast<long long>(after_update::RETURN_TIMEOUT.count()),
                     qPrintable(settings_file::hexWord(before.serial)));
    }
    const after_update::Look back = after_update::wait_for_unit(
        c.comms, before.serial, after_update::RETURN_TIMEOUT, &interrupted);
    if (c.stopIfInterrupted(QStringLiteral("while waiting for the unit to come back from its "
                                           "reboot"))) {
        return CLI_INTERRUPTED;
    }
    switch (back.kind) {
    case after_update::Return::NotYet:
        if (std::string in_use; c.comms->unitInUse(&in_use)) {
            error(QStringLiteral("the unit came back from its reboot, but %1")
                      .arg(QString::fromStdString(in_use)));
            return CLI_IN_USE;
        }
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
    if (!c.s.json) {
        std::fprintf(c.s.out, "the unit is back\n");
    }
    if (const int status = c.load(); status != CLI_OK) {
        return status;
    }
    if (!before.has_settings) {
        return CLI_OK;
    }
    const std::vector<settings_file::Difference> changed_by_update =
        after_update::changes(before, c.record);
    QJsonArray list;
    for (const settings_file::Difference &d : changed_by_update) {
        QJsonObject o;
        o.insert("field", d.key);
        o.insert("before", d.current);
        o.insert("now", d.other);
        list.append(o);
    }
    report->insert("differences", list);
    if (!c.s.json) {
        if (changed_by_update.empty()) {
            std::fprintf(c.s.out, "settings unchanged\n");
        }
        for (const settings_file::Difference &d : changed_by_update) {
            c.say(QStringLiteral("%1: %2 -> %3").arg(d.key, d.current, d.other));
        }
    }
    if (changed_by_update.empty()) {
        return CLI_OK;
    }
    if (!restore) {
        if (!c.s.json) {
            if (!before.backup_path.isEmpty()) {
                c.say(QStringLiteral("restore them with: efis-cli import %1")
                          .arg(before.backup_path));
            } else {
                std::fprintf(c.s.out, "no backup was written: these values are not kept\n");
            }
        }
        return CLI_OK;
    }
    // The backup's values where the unit differs: sent, then stored.
    Settings_t target = c.record;
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
    const int status = c.sendAndStore(target, true, &restored, false);
    if (status != CLI_OK) {
        return status;
    }
    report->insert("restored", restored);
    if (!c.s.json) {
        for (const QJsonValue key : restored.value("sent").toArray()) {
            c.say(QStringLiteral("sent %1").arg(key.toString()));
        }
        c.say(QStringLiteral("settings restored from the backup: stored under checksum %1")
                  .arg(restored.value("checksum").toString()));
    }
    return CLI_OK;
}

} // namespace

int runFlash(Context &c, const Invocation &in) {
    const QString &path = in.args.at(0);
    const QCommandLineParser &parser = in.parser;
    Options options;
    options.backup = parser.value(QStringLiteral("backup"));
    options.no_backup = parser.isSet(QStringLiteral("no-backup"));
    options.reboot = parser.isSet(QStringLiteral("reboot"));
    options.restore_settings = parser.isSet(QStringLiteral("restore-settings"));
    // The file first: a file that cannot be written whole is refused before any exchange.
    const QByteArray file = QFile::encodeName(path);
    // Read once, whole: the transfer sends this copy, so what is checked is what the unit gets.
    const FirmwareImage read = read_firmware_image(file.constData());
    const ImageCheck &image = read.check;
    if (!image.ok()) {
        error(QStringLiteral("%1 %2").arg(path, QString::fromStdString(image_problem_text(image))));
        return CLI_USAGE;
    }
    const QString version = QString::fromStdString(image_version_text(image.header));
    if (!c.s.json) {
        c.say(QStringLiteral("image %1: version %2, %3 payload bytes")
                  .arg(path, version,
                       QString::number(static_cast<unsigned>(image.header.encrypted_size))));
    }
    QJsonObject report;
    report.insert("image_version", version);

    // The settings as they are before the update, kept in a file unless the user says not to.
    after_update::Before before;
    before.serial = get_serialnumber(c.comms.get(), c.comms->getActiveInterface());
    if (const int status = c.load(); status != CLI_OK) {
        if (!options.no_backup) {
            error(QStringLiteral("no backup of the unit's settings could be made: the firmware "
                                 "was not written (--no-backup writes it without one)"));
            return status;
        }
    } else {
        before.has_settings = true;
        before.settings = c.record;
    }
    if (!options.no_backup) {
        const QString backup =
            options.backup.isEmpty()
                ? after_update::backup_file_name(c.record, before.serial, QDate::currentDate())
                : options.backup;
        const QString problem = after_update::write_backup(backup, c.record, before.serial);
        if (!problem.isEmpty()) {
            error(QStringLiteral("cannot write the backup %1: %2: the firmware was not written")
                      .arg(backup, problem));
            return CLI_USAGE;
        }
        before.backup_path = backup;
        report.insert("backup", backup);
        if (!c.s.json) {
            c.say(QStringLiteral("settings backed up to %1").arg(backup));
        }
    }
    if (c.stopIfInterrupted(QStringLiteral("before the firmware update: nothing was written"))) {
        return CLI_INTERRUPTED;
    }

    FlashProgress progress;
    progress.terminal = isatty(STDERR_FILENO) != 0;
    const FwTransferResult done =
        send_fw_image(c.comms.get(), read, flashProgress, &progress, &interrupted);
    c.flash_confirmed = done.bytes_confirmed;
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
    if (!c.s.json) {
        c.say(QStringLiteral("firmware written from %1").arg(path));
    }
    if (!options.reboot && !options.restore_settings) {
        if (c.s.json) {
            c.printJson(report);
        } else {
            c.say(QStringLiteral("the new firmware starts when the unit restarts: efis-cli "
                                 "reboot%1 restarts it")
                      .arg(unitOptions(parser)));
        }
        return CLI_OK;
    }
    const int status = afterReboot(c, before, options.restore_settings, &report);
    if (status == CLI_OK && c.s.json) {
        c.printJson(report);
    }
    return status;
}

std::optional<int> checkFlashRequest(Context &, const Invocation &in) {
    if (in.parser.isSet(QStringLiteral("backup")) && in.parser.isSet(QStringLiteral("no-backup"))) {
        error(QStringLiteral("--backup and --no-backup exclude each other"));
        return CLI_USAGE;
    }
    // A file that cannot be written whole is refused before any exchange.
    const ImageCheck image = check_firmware_image(QFile::encodeName(in.args.at(0)).constData());
    if (!image.ok()) {
        error(QStringLiteral("%1 %2").arg(in.args.at(0),
                                          QString::fromStdString(image_problem_text(image))));
        return CLI_USAGE;
    }
    return std::nullopt;
}

QString flashLost(const Context &c) {
    return QStringLiteral("the unit was disconnected during flash after %1 byte(s) of the image "
                          "were confirmed; the update is incomplete: run it again")
        .arg(c.flash_confirmed);
}

} // namespace cli
