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
        {"force", nullptr, "set, import: send settings that contradict each other."},
        {"from", "SETTINGS.json", "preview: the settings file to draw."},
        {"size", "WIDTHxHEIGHT", "preview: the image's size."},
        {"serial", "N", "The unit with this serial number (0x... or decimal)."},
        {"device", "PATH", "The unit at this USB HID path or on this CAN FD interface."},
        {"can", "IFACE", "The CAN FD interface to look on (default can0)."},
        {"backup", "FILE", "flash: where the backup of the settings goes."},
        {"no-backup", nullptr, "flash: no backup of the settings."},
        {"reboot", nullptr, "flash: reboot, wait for the unit and compare its settings."},
        {"restore-settings", nullptr, "flash: --reboot, then restore what the update changed."},
    };
    return options;
}

const QList<CommandSpec> &commands() {
    // Every command that talks to a unit can be told which one.
    static const QStringList unit = {"serial", "device", "can"};
    // One command a line: name, fewest and most arguments, loads first, its options.
    // clang-format off
    static const QList<CommandSpec> list = {
        {"devices", 0, 0, false, {"can"}},
        {"info", 0, 0, true, unit},
        {"get", 0, -1, true, unit},
        {"set", 1, -1, true, unit + QStringList{"save", "force"}},
        {"save", 0, 0, true, unit},
        {"export", 1, 1, true, unit},
        {"import", 1, 1, true, unit + QStringList{"dry-run", "force"}},
        {"diff", 1, 1, true, unit},
        {"flash", 1, 1, false, unit + QStringList{"backup", "no-backup", "reboot", "restore-settings"}},
        {"reboot", 0, 0, false, unit},
        {"check", 0, 1, false, unit},
        {"preview", 1, 1, true, unit + QStringList{"from", "size"}},
    };
    // clang-format on
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

QCommandLineOption parserOption(const OptionSpec &option) {
    QStringList names{QString::fromLatin1(option.name)};
    if (names.front() == QLatin1String("help")) {
        names.prepend(QStringLiteral("h"));
    }
    if (option.value_name == nullptr) {
        return QCommandLineOption(names, QString::fromLatin1(option.description));
    }
    return QCommandLineOption(names, QString::fromLatin1(option.description),
                              QString::fromLatin1(option.value_name));
}

bool isGlobal(const QString &name) {
    if (name == QLatin1String("h")) {
        return true;
    }
    for (const OptionSpec &option : globalOptions()) {
        if (name == QLatin1String(option.name)) {
            return true;
        }
    }
    return false;
}

} // namespace

QList<QCommandLineOption> parserOptions() {
    QList<QCommandLineOption> options;
    for (const OptionSpec &option : globalOptions()) {
        options << parserOption(option);
    }
    for (const OptionSpec &option : commandOptions()) {
        options << parserOption(option);
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
