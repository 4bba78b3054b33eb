#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

// efis-cli's commands: one table that gives each command its arguments, the options it takes,
// how far it reaches the unit before it runs, and the function that runs it. An option that a
// command does not take is bad usage, refused before anything is sent: a script that writes
// `set vne=100 --dry-run` must not change the unit it meant only to look at.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace cli {

class Context;
struct CommandSpec;

// One option of the command line, by its long name.
struct OptionSpec {
    const char *name;
    const char *value_name; // nullptr: a flag that takes no value
    const char *description;
};

// One command as typed: which one, its arguments, and the whole parsed line for its options.
struct Invocation {
    const CommandSpec &command;
    QStringList args;
    const QCommandLineParser &parser;
};

// How far the unit is reached before a command's handler runs.
enum class Reach {
    Nothing,  // the handler reaches what it needs itself (a list of units, a file or a unit)
    Unit,     // connected to the chosen unit
    Settings, // connected, and the unit's settings read whole
};

// Runs a command; returns its exit status.
using Handler = int (*)(Context &, const Invocation &);
// Runs before the unit is reached: an exit status ends the command there (a file that cannot be
// taken, or a command that needs no unit after all); nothing lets it go on to the unit.
using BeforeUnit = std::optional<int> (*)(Context &, const Invocation &);
// What to say when the unit went away during the command, in place of the general line.
using LostText = QString (*)(const Context &);

// One command, with what it takes and what runs it.
struct CommandSpec {
    const char *name;
    const char *usage; // its lines of the usage text
    int min_args;
    int max_args; // -1: any number
    Reach reach;
    bool draws;          // needs a GUI application: it draws text, whose fonts only that provides
    QStringList options; // beyond those every command takes
    Handler run;
    BeforeUnit before = nullptr;
    LostText lost = nullptr;
};

// The usage text: the command line's shape, each command's lines in the table's order, the
// choice of a unit and the exit statuses.
QByteArray usageText();
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
