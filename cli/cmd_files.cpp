// efis-cli export, import, diff and check: settings files written, compared, sent and checked.
#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonObject>

#include "backup_file.h"
#include "cli_context.h"
#include "cli_handlers.h"
#include "efis_cli.h"
#include "settings_rules.h"

namespace cli {

namespace {

// Shows what the file read before the unit was reached would change; with `apply` and no
// --dry-run, sends it and stores.
int importFrom(Context &c, const Invocation &in, bool apply) {
    const QString &path = in.args.at(0);
    const bool dry_run = in.parser.isSet(QStringLiteral("dry-run"));
    Settings_t target = c.record;
    settings_file::UnitHeader taken_from;
    QString problem;
    if (!settings_file::read(c.file_text, &target, &taken_from, &problem)) {
        error(QStringLiteral("%1 refused: %2").arg(path, problem));
        return CLI_USAGE;
    }
    // A file of another unit is fine to apply (a fleet shares its settings), but is named.
    const uint32_t connected = c.comms->confirmedSerial(c.comms->getActiveInterface());
    const bool other_unit =
        taken_from.has_serial && connected != 0xFFFFFFFFu && taken_from.serial != connected;
    if (other_unit && !c.s.json) {
        c.say(QStringLiteral("%1 was taken from the unit %2, not from the connected unit %3")
                  .arg(path, settings_file::hexWord(taken_from.serial),
                       settings_file::hexWord(connected)));
    }
    // A file whose registration the unit could not show as text is not sent, nor offered.
    if (const QString refused = registrationProblem(target); apply && !refused.isEmpty()) {
        error(QStringLiteral("%1 refused: %2").arg(path, refused));
        return CLI_USAGE;
    }
    const std::vector<settings_file::Difference> differences =
        settings_file::differences(c.record, target);
    QJsonArray list;
    for (const settings_file::Difference &d : differences) {
        QJsonObject o;
        o.insert("field", d.key);
        o.insert("unit", d.current);
        o.insert("file", d.other);
        list.append(o);
        if (!c.s.json) {
            c.say(QStringLiteral("%1: %2 -> %3").arg(d.key, d.current, d.other));
        }
    }
    if (!c.s.json && differences.empty()) {
        std::fprintf(c.s.out, "%s%s\n", NO_DIFFERENCES, !apply || dry_run ? "" : NOTHING_SENT);
    }
    if (!apply || dry_run) {
        for (const SettingsProblem &problem : checkSettings(target)) {
            error(QStringLiteral("warning: %1").arg(QString::fromStdString(problem.text)));
        }
        if (c.s.json) {
            QJsonObject o;
            o.insert("differences", list);
            if (other_unit) {
                o.insert("taken_from", settings_file::hexWord(taken_from.serial));
            }
            c.printJson(o);
        }
        return CLI_OK;
    }
    if (!c.rulesKept(target, in.parser.isSet(QStringLiteral("force")))) {
        return CLI_USAGE;
    }
    QJsonObject report;
    report.insert("differences", list);
    if (other_unit) {
        report.insert("taken_from", settings_file::hexWord(taken_from.serial));
    }
    return c.sendAndStore(target, true, &report);
}

} // namespace

int runExport(Context &c, const Invocation &in) {
    const QString &path = in.args.at(0);
    // A file holds every field: one that could not be read would come back as 0.
    if (!c.loaded.unread_fields.empty()) {
        error(QStringLiteral("cannot write %1: field(s) %2 of the unit's settings could not be "
                             "read")
                  .arg(path, fieldList(c.loaded.unread_fields)));
        return CLI_UNIT_FAILED;
    }
    const backup_file::Written written = backup_file::writeNamed(
        path,
        backup_file::fileText(c.record, c.comms->confirmedSerial(c.comms->getActiveInterface())),
        in.parser.isSet(QStringLiteral("force")));
    if (written.outcome == backup_file::Outcome::Exists) {
        error(QStringLiteral("%1 exists: nothing written (--force replaces it)").arg(path));
        return CLI_USAGE;
    }
    if (!written.ok()) {
        error(QStringLiteral("cannot write %1: %2").arg(path, written.problem));
        return CLI_USAGE;
    }
    if (c.s.json) {
        QJsonObject o;
        o.insert("exported", path);
        c.printJson(o);
    } else {
        c.say(QStringLiteral("exported to %1").arg(path));
    }
    return CLI_OK;
}

// A file to compare is read before the unit is reached: a file that cannot be taken ends the
// command with nothing sent.
std::optional<int> readComparedFile(Context &c, const Invocation &in) {
    const QString &path = in.args.at(0);
    if (!c.fileTaken(path, settings_file::readFileText(path, &c.file_text))) {
        return CLI_USAGE;
    }
    return std::nullopt;
}

int runImport(Context &c, const Invocation &in) {
    return importFrom(c, in, true);
}

int runDiff(Context &c, const Invocation &in) {
    return importFrom(c, in, false);
}

// A file is checked without a unit; the unit's settings are read first.
int runCheck(Context &c, const Invocation &in) {
    Settings_t checked{};
    if (!in.args.isEmpty()) {
        if (!c.fileTaken(in.args.at(0),
                         settings_file::readFile(in.args.at(0), &checked, nullptr))) {
            return CLI_USAGE;
        }
    } else {
        if (const int status = c.connect(in.parser); status != CLI_OK) {
            return status;
        }
        if (const int status = c.load(); status != CLI_OK) {
            return status;
        }
        checked = c.record;
    }
    const std::vector<SettingsProblem> problems = checkSettings(checked);
    if (c.s.json) {
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
        c.printJson(o);
    } else if (problems.empty()) {
        std::fprintf(c.s.out, "no problems: the settings keep every rule\n");
    } else {
        for (const SettingsProblem &problem : problems) {
            c.say(QString::fromStdString(problem.text));
        }
    }
    return problems.empty() ? CLI_OK : CLI_USAGE;
}

} // namespace cli
