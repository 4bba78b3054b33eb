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

#include "backup_file.h"
#include "cli_context.h"
#include "cli_handlers.h"
#include "efis_cli.h"
#include "get_set.h"
#include "outcome.h"
#include "settings_flows.h"
#include "transfer_meter.h"
#include "unit_locator.h"
#include "update_job.h"

namespace cli {

namespace {

// The firmware transfer's progress on standard error: on a terminal a bar redrawn at most every
// REDRAW_INTERVAL, with the meter's rate and time left; otherwise one line per tenth.
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(100);

struct FlashProgress {
    using Clock = std::chrono::steady_clock;
    bool terminal = false;
    int last_tenth = -1;
    int last_phase = -1;
    Clock::time_point start = Clock::now();
    Clock::time_point last_drawn{};
    TransferMeter meter;
};

void flashProgress(FlashProgress &p, uint32_t current, uint32_t total, int phase) {
    const FlashProgress::Clock::time_point now = FlashProgress::Clock::now();
    const auto elapsed_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - p.start).count();
    const TransferMeter::Reading reading = p.meter.update(current, total, phase, elapsed_ms);
    const bool new_phase = phase != p.last_phase;
    if (new_phase) {
        if (p.terminal && p.last_phase >= 0) {
            std::fprintf(stderr, "\n");
        }
        p.last_phase = phase;
        p.last_tenth = -1;
    }
    const int percent = reading.percent;
    const bool last = current == total;
    if (p.terminal ? !new_phase && !last && now - p.last_drawn < REDRAW_INTERVAL
                   : percent / 10 == p.last_tenth) {
        return;
    }
    p.last_drawn = now;
    p.last_tenth = percent / 10;
    const QByteArray rate = reading.rateText().toLatin1();
    const char *what = phase == 0 ? "Erasing" : "Writing";
    const char *unit = phase == 0 ? "blocks" : "bytes";
    if (p.terminal) {
        const int filled = percent / 5;
        std::fprintf(stderr, "\r%s [%-20.*s] %3d%%  %u / %u %s  %s\033[K", what, filled,
                     "####################", percent, current, total, unit, rate.constData());
        std::fflush(stderr);
    } else {
        std::fprintf(stderr, "%s: %d%% (%u / %u %s%s%s)\n", what, percent, current, total, unit,
                     rate.isEmpty() ? "" : ", ", rate.constData());
    }
}

// What flash is asked beyond its image.
struct Options {
    QString backup; // flash: where the backup goes; empty: the default name
    bool no_backup = false;
    bool replace_backup = false;
    bool reboot = false;
    bool restore_settings = false;
};

int afterReboot(Context &c, const update_job::Before &before, bool restore, QJsonObject *report) {
    // Where the unit is reached and which others are present, while it is still there.
    const unit_locator::Target target = update_job::returnTarget(c.comms.get());
    if (!update_job::rebootAndLetGo(c.comms.get())) {
        return failed(outcome::words(outcome::Result::RebootFailed));
    }
    if (!c.s.json) {
        std::fprintf(c.s.out,
                     "reboot command sent; waiting up to %lld s for the unit (serial "
                     "number %s)\n",
                     static_cast<long long>(unit_locator::RETURN_TIMEOUT.count()),
                     qPrintable(settings_file::hexWord(before.serial)));
    }
    const unit_locator::Look back =
        unit_locator::waitFor(target, c.comms, unit_locator::RETURN_TIMEOUT, &interrupted);
    if (c.stopIfInterrupted(QStringLiteral("while waiting for the unit to come back from its "
                                           "reboot"))) {
        return CLI_INTERRUPTED;
    }
    switch (back.kind) {
    case unit_locator::Return::NotYet:
        if (std::string in_use; c.comms->unitInUse(&in_use)) {
            error(QStringLiteral("the unit came back from its reboot, but %1")
                      .arg(QString::fromStdString(in_use)));
            return CLI_IN_USE;
        }
        return failed(outcome::words(outcome::Result::UnitNotBack,
                                     {QString::number(unit_locator::RETURN_TIMEOUT.count())}));
    case unit_locator::Return::Other:
        return failed(outcome::words(
            outcome::Result::OtherUnitBack,
            {settings_file::hexWord(back.serial), settings_file::hexWord(before.serial)}));
    case unit_locator::Return::Same:
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
    if (!c.loaded.unread_fields.empty()) {
        error(QStringLiteral("its settings were not compared with the backup: field(s) %1 could "
                             "not be read")
                  .arg(fieldList(c.loaded.unread_fields)));
        return CLI_UNIT_FAILED;
    }
    const update_job::RestorePlan plan = update_job::restorePlan(before.settings, c.record);
    const std::vector<settings_file::Difference> changed_by_update =
        update_job::changes(before, c.record);
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
        if (plan.empty()) {
            std::fprintf(c.s.out, "settings unchanged\n");
        }
        for (const settings_file::Difference &d : changed_by_update) {
            c.say(QStringLiteral("%1: %2 -> %3").arg(d.key, d.current, d.other));
        }
    }
    if (plan.empty()) {
        return CLI_OK;
    }
    if (!restore) {
        if (!c.s.json) {
            if (!before.backup_path.isEmpty()) {
                c.say(QStringLiteral("restore them with: efis-cli import %1")
                          .arg(backup_file::commandArgument(before.backup_path)));
            } else {
                std::fprintf(c.s.out, "no backup was written: these values are not kept\n");
            }
        }
        return CLI_OK;
    }
    // The restore plan: the backup's words where the unit's differ, sent, then stored.
    QJsonObject restored;
    const int status = c.sendAndStore(plan.target, true, &restored, false);
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
    options.replace_backup = parser.isSet(QStringLiteral("force"));
    options.reboot = parser.isSet(QStringLiteral("reboot"));
    options.restore_settings = parser.isSet(QStringLiteral("restore-settings"));
    // The file first: a file that cannot be written whole is refused before any exchange.
    const update_job::ImageStep image = update_job::checkImage(path);
    if (!image.ok()) {
        return failed(outcome::words(outcome::Result::ImageRefused, {path, image.problem}));
    }
    if (!c.s.json) {
        c.say(
            QStringLiteral("image %1: version %2, %3 payload bytes")
                .arg(path, image.version,
                     QString::number(static_cast<unsigned>(image.check().header.encrypted_size))));
    }
    QJsonObject report;
    report.insert("image_version", image.version);

    // The settings as they are before the update, kept in a file unless the user says not to.
    update_job::Before before;
    before.serial = c.comms->confirmedSerial(c.comms->getActiveInterface());
    const int loaded = c.load();
    // A backup holds every field: one that could not be read would come back as 0.
    if (loaded != CLI_OK || !c.loaded.unread_fields.empty()) {
        if (!options.no_backup) {
            error(QStringLiteral("no backup of the unit's settings could be made: the firmware "
                                 "was not written (--no-backup writes it without one)"));
            return loaded != CLI_OK ? loaded : CLI_UNIT_FAILED;
        }
    } else {
        before.has_settings = true;
        before.settings = c.record;
    }
    if (!options.no_backup) {
        update_job::BackupRequest request;
        request.path = options.backup;
        request.replace = options.replace_backup;
        const backup_file::Written written =
            update_job::backUp(before, request, QDate::currentDate());
        if (!written.ok()) {
            error(written.outcome == backup_file::Outcome::Exists
                      ? QStringLiteral("the backup %1 exists: the firmware was not written "
                                       "(--force replaces it)")
                            .arg(written.path)
                      : QStringLiteral("cannot write the backup %1: %2: the firmware was not "
                                       "written")
                            .arg(written.path, written.problem));
            return CLI_USAGE;
        }
        report.insert("backup", before.backup_path);
        if (!c.s.json) {
            c.say(QStringLiteral("settings backed up to %1").arg(before.backup_path));
        }
    }
    if (c.stopIfInterrupted(QStringLiteral("before the firmware update: nothing was written"))) {
        return CLI_INTERRUPTED;
    }

    FlashProgress progress;
    progress.terminal = isatty(STDERR_FILENO) != 0;
    // The image as read and checked above: a file rewritten meanwhile changes nothing sent.
    const update_job::Transfer done = update_job::transfer(
        c.comms.get(), image.image,
        [&progress](uint32_t current, uint32_t total, int phase) {
            flashProgress(progress, current, total, phase);
        },
        &interrupted);
    c.flash_confirmed = done.result.bytes_confirmed;
    if (progress.terminal) {
        std::fprintf(stderr, "\n");
    }
    // A reboot asked for is not sent after an image left incomplete: the unit may not start.
    const QString not_rebooted =
        (options.reboot || options.restore_settings) && done.leftIncomplete()
            ? QStringLiteral("; not rebooted: the firmware image in the unit is incomplete: it "
                             "may not start")
            : QString();
    if (done.result.end == FwTransferEnd::Cancelled) {
        return failed(outcome::words(outcome::Result::UpdateCancelled,
                                     {QString::number(done.result.bytes_confirmed),
                                      QString::number(done.result.bytes_total), not_rebooted}));
    }
    if (done.result.end != FwTransferEnd::Completed) {
        return failed(
            outcome::words(outcome::Result::UpdateFailed, {done.reasonText(), not_rebooted}));
    }
    report.insert("flashed", path);
    if (!c.s.json) {
        c.say(outcome::words(outcome::Result::UpdateCompleted, {path}).cli);
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
    const update_job::ImageStep image = update_job::checkImage(in.args.at(0));
    if (!image.ok()) {
        return failed(
            outcome::words(outcome::Result::ImageRefused, {in.args.at(0), image.problem}));
    }
    return std::nullopt;
}

QString flashLost(const Context &c) {
    return QStringLiteral("the unit was disconnected during flash after %1 byte(s) of the image "
                          "were confirmed; the update is incomplete: run it again")
        .arg(c.flash_confirmed);
}

} // namespace cli
