// efis-cli get, set and save: the unit's settings read, changed and stored.
#include <QJsonObject>

#include "cli_context.h"
#include "cli_handlers.h"
#include "efis_cli.h"

namespace cli {

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
