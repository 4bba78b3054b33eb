#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

// efis-cli's commands and the options each one takes. An option that a command does not
// take is bad usage, refused before anything is sent: a script that writes
// `set vne=100 --dry-run` must not change the unit it meant only to look at.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

namespace cli {

// One option of the command line, by its long name.
struct OptionSpec {
    const char *name;
    const char *value_name; // nullptr: a flag that takes no value
    const char *description;
};

// One command: its name, how many arguments it takes, whether it reads the unit's
// settings before it runs, and the options it takes beyond those every command takes.
struct CommandSpec {
    const char *name;
    int min_args;
    int max_args; // -1: any number
    bool loads;
    QStringList options;
};

// Options every command takes (--json, --verbose, --help).
const QList<OptionSpec> &globalOptions();
// Options that only some commands take; which ones, commands() says.
const QList<OptionSpec> &commandOptions();
// Every command, in the order of the usage text.
const QList<CommandSpec> &commands();

// The command named `name`, or nullptr.
const CommandSpec *findCommand(const QString &name);
// Every option of both lists, for the parser.
QList<QCommandLineOption> parserOptions();
// The first option set on the command line that `command` does not take; empty when every
// option set is one it takes.
QString refusedOption(const QCommandLineParser &parser, const CommandSpec &command);

} // namespace cli

#endif // CLI_COMMANDS_H
