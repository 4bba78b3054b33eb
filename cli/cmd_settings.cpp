// efis-cli get, set and save: the unit's settings read, changed and stored.
#include <QJsonDocument>
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
    // In the file's order.
    for (const settings_file::Entry &entry : settings_file::entries(c.record)) {
        if (fields.isEmpty() || fields.contains(entry.key)) {
            std::fprintf(c.s.out, "%s: %s\n", qPrintable(entry.key), qPrintable(entry.text));
        }
    }
    return CLI_OK;
}

int runSet(Context &c, const Invocation &in) {
    const QStringList &assignments = in.args;
    if (assignments.isEmpty()) {
        error(QStringLiteral("set needs FIELD=VALUE"));
        return CLI_USAGE;
    }
    QJsonObject settings = settings_file::settingsObject(c.record);
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
    Settings_t target = c.record;
    QString problem;
    if (!settings_file::read(QJsonDocument(file).toJson(), &target, nullptr, &problem)) {
        error(problem);
        return CLI_USAGE;
    }
    if (!c.rulesKept(target, in.parser.isSet(QStringLiteral("force")))) {
        return CLI_USAGE;
    }
    if (!c.s.json && settings_file::differences(c.record, target).empty()) {
        std::fprintf(c.s.out, "%s%s\n", NO_DIFFERENCES, NOTHING_SENT);
    }
    QJsonObject report;
    return c.sendAndStore(target, in.parser.isSet(QStringLiteral("save")), &report);
}

int runSave(Context &c, const Invocation &) {
    QJsonObject report;
    return c.sendAndStore(c.record, true, &report);
}

} // namespace cli
