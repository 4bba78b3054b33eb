// efis-cli get, set and save: the unit's settings read, changed and stored.
#include <QJsonObject>

#include "cli_context.h"
#include "cli_handlers.h"
#include "efis_cli.h"
#include "field_catalogue.h"
#include "speed_units.h"

namespace cli {

namespace {

// A new speed unit changes what every V-speed set means: the person says whether the numbers
// are converted or kept. Converted, the V-speeds named in this set are taken as typed, in the
// new unit; the others are the unit's, converted. False (after the error) for bad usage or a
// conversion that does not fit the unit's byte.
bool speedsFollowTheUnit(const Settings_t &unit, Settings_t *target, const QStringList &named,
                         const QCommandLineParser &parser) {
    const bool convert = parser.isSet(QStringLiteral("convert-speeds"));
    const bool keep = parser.isSet(QStringLiteral("keep-speeds"));
    if (convert && keep) {
        error(QStringLiteral("--convert-speeds and --keep-speeds exclude each other: give one"));
        return false;
    }
    const std::optional<SpeedUnit> from = speedUnitOf(unit.units.units_value);
    const std::optional<SpeedUnit> to = speedUnitOf(target->units.units_value);
    if (!from || !to || *from == *to || !anyVSpeedSet(unit) || keep) {
        return true;
    }
    const QString from_symbol = QString::fromLatin1(speedSymbol(*from));
    const QString to_symbol = QString::fromLatin1(speedSymbol(*to));
    if (!convert) {
        error(QStringLiteral("the V-speeds are set in %1: changing the speed unit to %2 needs "
                             "--convert-speeds (converted, rounded to whole numbers) or "
                             "--keep-speeds (the numbers kept, read in %2)")
                  .arg(from_symbol, to_symbol));
        return false;
    }
    std::vector<settings_struct_index> typed;
    for (const QString &key : named) {
        const FieldRow *row = fieldByKey(key.toLatin1().constData());
        if (row != nullptr) {
            typed.push_back(row->index);
        }
    }
    const SpeedConversion conversion = convertSpeeds(*target, *from, *to, typed);
    if (!conversion.fits) {
        error(QStringLiteral("the V-speeds cannot be converted to %1: %2; nothing sent")
                  .arg(to_symbol, QString::fromStdString(tooLargeText(conversion, *from, *to))));
        return false;
    }
    *target = conversion.record;
    return true;
}

} // namespace

int runGet(Context &c, const Invocation &in) {
    const QStringList &fields = in.args;
    const QJsonObject all = settings_file::settingsObject(c.record);
    QJsonObject chosen;
    for (const QString &field : fields) {
        if (!all.contains(field)) {
            error(QStringLiteral("unknown field \"%1\" (efis-cli get lists them)").arg(field));
            return CLI_USAGE;
        }
        chosen.insert(field, all.value(field));
    }
    if (c.s.json) {
        c.printJson(fields.isEmpty() ? all : chosen);
        return CLI_OK;
    }
    // All in the file's order, or the fields named in the order asked.
    for (const settings_file::Entry &entry : settings_file::entries(c.record)) {
        if (fields.isEmpty()) {
            c.say(QStringLiteral("%1: %2").arg(entry.key, entry.text));
        }
    }
    for (const QString &field : fields) {
        c.say(QStringLiteral("%1: %2").arg(field, settings_file::shownText(all.value(field))));
    }
    return CLI_OK;
}

int runSet(Context &c, const Invocation &in) {
    const QStringList &assignments = in.args;
    if (assignments.isEmpty()) {
        error(QStringLiteral("set needs FIELD=VALUE"));
        return CLI_USAGE;
    }
    // Each value converted as a settings file's; the other fields keep the unit's words, even
    // those beyond what the form allows.
    const QJsonObject settings = settings_file::settingsObject(c.record);
    QStringList named;
    Settings_t target = c.record;
    for (const QString &assignment : assignments) {
        const int eq = assignment.indexOf('=');
        const QString key = assignment.left(eq);
        if (eq <= 0 || !settings.contains(key)) {
            error(QStringLiteral("\"%1\" is not FIELD=VALUE with a known field").arg(assignment));
            return CLI_USAGE;
        }
        // Which of two values was meant cannot be told: a settings file is refused for it too.
        if (named.contains(key)) {
            error(QStringLiteral("%1 is named twice: give each field once").arg(key));
            return CLI_USAGE;
        }
        named << key;
        QString problem;
        if (!settings_file::assign(&target, key, typedValue(assignment.mid(eq + 1)), &problem)) {
            error(problem);
            return CLI_USAGE;
        }
    }
    if (!speedsFollowTheUnit(c.record, &target, named, in.parser)) {
        return CLI_USAGE;
    }
    if (const QString refused = registrationProblem(target); !refused.isEmpty()) {
        error(refused);
        return CLI_USAGE;
    }
    if (!c.rulesKept(target, in.parser.isSet(QStringLiteral("force")))) {
        return CLI_USAGE;
    }
    if (!c.s.json && settings_file::differences(c.record, target).empty()) {
        std::fprintf(c.s.out, "%s%s\n", NO_DIFFERENCES, NOTHING_SENT);
    }
    const bool save = in.parser.isSet(QStringLiteral("save"));
    const bool sends = !settings_file::differences(c.record, target).empty();
    QJsonObject report;
    const int status = c.sendAndStore(target, save, &report);
    // The unit uses what it was sent until it restarts; say what keeps it.
    if (status == CLI_OK && sends && !save && !c.s.json) {
        c.say(QStringLiteral("sent, not stored: the unit loses these values when it restarts; "
                             "efis-cli save%1 stores them")
                  .arg(unitOptions(in.parser)));
    }
    return status;
}

int runSave(Context &c, const Invocation &) {
    QJsonObject report;
    return c.sendAndStore(c.record, true, &report);
}

} // namespace cli
