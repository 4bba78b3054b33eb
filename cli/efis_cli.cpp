#include "efis_cli.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "cli_commands.h"
#include "cli_context.h"
#include "interrupt.h"
#include "null_device.h"

namespace {

using cli::interrupted;

// Runs a command whose arguments and options were checked against its entry: what it does before
// the unit is reached, the unit reached as far as its entry says, then its handler.
int run(cli::Context &c, const cli::Invocation &in) {
    const cli::CommandSpec &command = in.command;
    if (command.reach == cli::Reach::Nothing) {
        return command.run(c, in);
    }
    if (command.before != nullptr) {
        if (const std::optional<int> done = command.before(c, in)) {
            return *done;
        }
    }
    if (const int status = c.connect(in.parser); status != CLI_OK) {
        return status;
    }
    const int status = [&] {
        if (command.reach == cli::Reach::Settings) {
            if (const int loaded = c.load(); loaded != CLI_OK) {
                return loaded;
            }
        }
        if (c.stopIfInterrupted(
                QStringLiteral("during %1: nothing was sent").arg(QLatin1String(command.name)))) {
            return static_cast<int>(CLI_INTERRUPTED);
        }
        return command.run(c, in);
    }();
    if (status != CLI_OK && c.comms->linkLost()) {
        // Whatever the command said, the cause is that the unit went away or fell silent.
        cli::error(command.lost != nullptr ? command.lost(c)
                                           : QStringLiteral("the unit was disconnected during %1")
                                                 .arg(QLatin1String(command.name)));
        return CLI_UNIT_FAILED;
    }
    return status;
}

// A usage error: one line that says what is wrong, and where the whole usage is.
int usageError(const QString &text) {
    cli::error(text);
    std::fputs("see efis-cli --help\n", stderr);
    return CLI_USAGE;
}

// Runs one command line; `json` tells whether it asked for JSON.
int runLine(int argc, char *argv[], bool *json) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    parser.addOptions(cli::parserOptions());
    const bool parsed = parser.parse(arguments);
    *json = parser.isSet(QStringLiteral("json")) || arguments.contains(QStringLiteral("--json"));
    if (!parsed) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(cli::usageText().constData(), stdout);
        return CLI_OK;
    }
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        return usageError(QStringLiteral("no command given"));
    }
    const QString command = positional.takeFirst();
    const cli::CommandSpec *found = cli::findCommand(command);
    if (found == nullptr) {
        return usageError(QStringLiteral("unknown command \"%1\"").arg(command));
    }
    if (positional.size() < found->min_args ||
        (found->max_args >= 0 && positional.size() > found->max_args)) {
        return usageError(QStringLiteral("wrong number of arguments for %1").arg(command));
    }
    // Before anything reaches the unit: an option the command does not take would otherwise
    // be ignored, and the command run as though it had not been given.
    if (const QString refused = cli::refusedOption(parser, *found); !refused.isEmpty()) {
        return usageError(QStringLiteral("%1 does not take --%2").arg(command, refused));
    }

    // The command's application object: the preview draws text, whose fonts only a GUI
    // application provides (on Qt's offscreen platform unless another is chosen, so no display
    // is needed); every other command needs Qt Core alone.
    int app_argc = 1;
    std::unique_ptr<QCoreApplication> app;
    if (QCoreApplication::instance() == nullptr) {
        if (found->draws) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
                qputenv("QT_QPA_PLATFORM", "offscreen");
            }
            app = std::make_unique<QGuiApplication>(app_argc, argv);
        } else {
            app = std::make_unique<QCoreApplication>(app_argc, argv);
        }
    } else if (found->draws &&
               qobject_cast<QGuiApplication *>(QCoreApplication::instance()) == nullptr) {
        cli::error(QStringLiteral("preview cannot draw without a GUI application"));
        return CLI_USAGE;
    }

    // The device layer prints its lines on standard output: keep that stream for the program's
    // own output and send those lines to standard error, or nowhere.
    std::fflush(stdout);
    const int saved_stdout = dup(STDOUT_FILENO);
    const int sink = parser.isSet(QStringLiteral("verbose"))
                         ? dup(STDERR_FILENO)
                         : open(platform::NULL_DEVICE, O_WRONLY);
    cli::Streams streams;
    streams.json = parser.isSet(QStringLiteral("json"));
    streams.out = saved_stdout >= 0 ? fdopen(dup(saved_stdout), "w") : nullptr;
    if (streams.out == nullptr || sink < 0) {
        cli::error(QStringLiteral("cannot set up the output streams"));
        return CLI_USAGE;
    }
    std::setvbuf(streams.out, nullptr, _IOLBF, 0);
    dup2(sink, STDOUT_FILENO);
    close(sink);

    int status;
    {
        // Ctrl-C, SIGTERM or closing the console sets `interrupted`, read between exchanges.
        const platform::InterruptWatch handlers(interrupted);
        cli::Context context(streams);
        status = run(context, cli::Invocation{*found, positional, parser});
    }

    std::fflush(stdout);
    std::fclose(streams.out);
    dup2(saved_stdout, STDOUT_FILENO);
    close(saved_stdout);
    return status;
}

} // namespace

int efisCliMain(int argc, char *argv[]) {
    cli::beginRun();
    bool json = false;
    const int status = runLine(argc, argv, &json);
    cli::endRun(stdout, json, status);
    return status;
}
