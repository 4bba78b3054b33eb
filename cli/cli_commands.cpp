#include "cli_commands.h"

namespace cli {

const QList<OptionSpec> &globalOptions() {
    static const QList<OptionSpec> options = {
        {"json", nullptr, "Machine-readable output."},
        {"verbose", nullptr, "The device layer's lines on standard error."},
        {"help", nullptr, "This text."},
    };
    return options;
}

const QList<OptionSpec> &commandOptions() {
    static const QList<OptionSpec> options = {
        {"save", nullptr, "set: store the settings afterwards."},
        {"dry-run", nullptr, "import: show the differences only."},
    };
    return options;
}

const QList<CommandSpec> &commands() {
    static const QList<CommandSpec> list = {
        {"info", 0, 0, true, {}}, {"get", 0, -1, true, {}},   {"set", 1, -1, true, {"save"}},
        {"save", 0, 0, true, {}}, {"export", 1, 1, true, {}}, {"import", 1, 1, true, {"dry-run"}},
        {"diff", 1, 1, true, {}}, {"flash", 1, 1, false, {}}, {"reboot", 0, 0, false, {}},
    };
    return list;
}

const CommandSpec *findCommand(const QString &name) {
    for (const CommandSpec &command : commands()) {
        if (name == QLatin1String(command.name)) {
            return &command;
        }
    }
    return nullptr;
}

namespace {

QCommandLineOption parserOption(const OptionSpec &spec) {
    QStringList names{QString::fromLatin1(spec.name)};
    if (names.front() == QLatin1String("help")) {
        names.prepend(QStringLiteral("h"));
    }
    if (spec.value_name == nullptr) {
        return QCommandLineOption(names, QString::fromLatin1(spec.description));
    }
    return QCommandLineOption(names, QString::fromLatin1(spec.description),
                              QString::fromLatin1(spec.value_name));
}

bool isGlobal(const QString &name) {
    if (name == QLatin1String("h")) {
        return true;
    }
    for (const OptionSpec &spec : globalOptions()) {
        if (name == QLatin1String(spec.name)) {
            return true;
        }
    }
    return false;
}

} // namespace

QList<QCommandLineOption> parserOptions() {
    QList<QCommandLineOption> options;
    for (const OptionSpec &spec : globalOptions()) {
        options << parserOption(spec);
    }
    for (const OptionSpec &spec : commandOptions()) {
        options << parserOption(spec);
    }
    return options;
}

QString refusedOption(const QCommandLineParser &parser, const CommandSpec &command) {
    for (const QString &name : parser.optionNames()) {
        if (!isGlobal(name) && !command.options.contains(name)) {
            return name;
        }
    }
    return QString();
}

} // namespace cli
