#include "cli_commands.h"

#include "cli_handlers.h"

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
        {"convert-speeds", nullptr,
         "set: with a new speed_unit, convert the V-speeds (rounded to whole numbers)."},
        {"keep-speeds", nullptr, "set: with a new speed_unit, keep the V-speed numbers."},
        {"dry-run", nullptr, "import: show the differences only."},
        {"force", nullptr,
         "set, import: send settings that contradict each other; export, flash --backup: "
         "replace FILE when it exists."},
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
    // Each command: its name and usage lines; fewest and most arguments; how far the unit is
    // reached; whether it draws; its options; its handler; what runs before the unit is reached;
    // what it says when the unit goes away.
    // clang-format off
    static const QList<CommandSpec> list = {
        {"devices",
         "  devices                 every unit present: serial number, interface, path\n",
         0, 0, Reach::Nothing, false, {"can"}, runDevices},
        {"info",
         "  info                    serial number, record header and the checksum check\n",
         0, 0, Reach::Settings, false, unit, runInfo},
        {"get",
         "  get [FIELD...]          the settings (all, or the fields named)\n",
         0, -1, Reach::Settings, false, unit, runGet},
        {"set",
         "  set FIELD=VALUE... [--save] [--force] [--convert-speeds | --keep-speeds]\n"
         "                          sends the values; --save stores the settings afterwards;\n"
         "                          a new speed_unit while V-speeds are set needs\n"
         "                          --convert-speeds (the V-speeds not named converted, rounded\n"
         "                          to whole numbers; refused beyond 0 to 255) or --keep-speeds\n"
         "                          (the numbers kept, read in the new unit)\n",
         1, -1, Reach::Settings, false,
         unit + QStringList{"save", "force", "convert-speeds", "keep-speeds"}, runSet},
        {"save",
         "  save                    stores the unit's settings in its non-volatile memory\n",
         0, 0, Reach::Settings, false, unit, runSave},
        {"export",
         "  export FILE [--force]   writes the unit's settings to a settings file (a FILE that\n"
         "                          exists only with --force)\n",
         1, 1, Reach::Settings, false, unit + QStringList{"force"}, runExport},
        {"import",
         "  import FILE [--dry-run] [--force]\n"
         "                          shows what the file changes, sends it and stores\n",
         1, 1, Reach::Settings, false, unit + QStringList{"dry-run", "force"}, runImport,
         readComparedFile},
        {"diff",
         "  diff FILE               shows what the file would change\n",
         1, 1, Reach::Settings, false, unit, runDiff, readComparedFile},
        {"flash",
         "  flash IMAGE [--backup FILE [--force] | --no-backup] [--reboot] [--restore-settings]\n"
         "                          checks the image, backs up the unit's settings (to FILE, or\n"
         "                          to a new name from registration, serial number and date,\n"
         "                          with -2, -3... when taken; a FILE that exists only with\n"
         "                          --force), then writes the image into the unit's flash;\n"
         "                          --reboot then starts the new firmware, waits up to 60 s for\n"
         "                          the same unit where it was reached and compares its settings\n"
         "                          with the backup;\n"
         "                          --restore-settings (--reboot implied) also sends and stores\n"
         "                          the backup's values where they differ\n",
         1, 1, Reach::Unit, false,
         unit + QStringList{"backup", "no-backup", "force", "reboot", "restore-settings"}, runFlash,
         checkFlashRequest, flashLost},
        {"reboot",
         "  reboot                  sends the unit its reboot command\n",
         0, 0, Reach::Unit, false, unit, runReboot},
        {"check",
         "  check [FILE]            lists the settings that contradict each other, on the unit or\n"
         "                          in the file\n"
         "set and import refuse settings that contradict each other (exit 2, nothing sent) unless\n"
         "--force; check exits 2 when it lists a problem.\n",
         0, 1, Reach::Nothing, false, unit, runCheck},
        {"preview",
         "  preview FILE.png [--from SETTINGS.json] [--size WIDTHxHEIGHT]\n"
         "                          draws how the unit's settings (or the file's) read on its\n"
         "                          display, as a PNG image (800x600 unless --size)\n",
         1, 1, Reach::Settings, true, unit + QStringList{"from", "size"}, runPreview,
         previewWithoutUnit},
    };
    // clang-format on
    return list;
}

QByteArray usageText() {
    QByteArray text =
        "usage: efis-cli [--json] [--verbose] COMMAND [ARGUMENTS] [--serial N | --device PATH]\n"
        "                [--can IFACE]\n"
        "commands:\n";
    for (const CommandSpec &command : commands()) {
        text += command.usage;
    }
    text +=
        "With more than one unit present, --serial (0x12345678 or decimal) or --device (a path\n"
        "that devices lists) chooses one; --can names the CAN FD interface (default can0).\n"
        "FIELD is a settings file key (efis-cli get lists them); VALUE is a number, or a text\n"
        "(quote a text that reads as a number: registration='\"123\"').\n"
        "With --json, a failure is one object on standard output: {\"error\": ..., \"exit\": N}.\n"
        "exit status: 0 done, 1 the unit refused or an exchange failed, 2 bad usage or a bad\n"
        "file, 3 no unit found, 4 the unit is in use by another program (nothing sent),\n"
        "130 interrupted (SIGINT or SIGTERM: the exchange in flight ends first; a second\n"
        "Ctrl-C ends at once)\n";
    return text;
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
