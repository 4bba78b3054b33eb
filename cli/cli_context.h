#ifndef CLI_CONTEXT_H
#define CLI_CONTEXT_H

// What every efis-cli command shares while it runs: the program's own output stream, the unit it
// reached and the settings read from it, and the steps several commands take (reach the unit,
// read its settings, send and store, say where an interrupt stopped them).

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "comms.h"
#include "firmware_ops.h"
#include "outcome.h"
#include "settings_file.h"
#include "settings_session.h"

class QCommandLineParser;

namespace cli {

// Set by SIGINT or SIGTERM; read between exchanges.
extern FwCancelFlag interrupted;

// What a command that finds nothing to change says, rather than nothing at all.
extern const char *const NO_DIFFERENCES;
extern const char *const NOTHING_SENT;

// The program's own streams: standard output as it was (the device layer's lines go elsewhere),
// and whether it speaks JSON.
struct Streams {
    FILE *out = nullptr;
    bool json = false;
};

// One line on standard error, "efis-cli: " first, its control characters escaped. The line is
// also kept for the JSON object a failed command ends with under --json.
void error(const QString &text);
// Says an outcome as efis-cli words it, as an error line, and returns its exit status.
int failed(const outcome::Words &words);

// A line on standard error that follows an error line (a list under it), kept with it.
void note(const QString &text);

// Under --json, a command that fails ends with one object on standard output that says why:
// {"error": its last error line, "details": the lines before it, "exit": its status}; a command
// that printed its own object (check's problems) adds none. Starts a run afresh.
void beginRun();
// Prints that object when `status` is a failure and no object of the command's own was printed.
void endRun(FILE *out, bool json, int status);

// A value typed on the command line: JSON when it reads as a number, true, false, null or a
// quoted text; any other text as it stands.
QJsonValue typedValue(const QString &text);

// Field numbers as "1, 2, 3".
QString fieldList(const std::vector<int> &fields);

// Why `record`'s registration cannot be sent (it holds control characters, which the window's
// registration box never takes either); empty when it can.
QString registrationProblem(const Settings_t &record);

// The options that chose the unit on this command line (" --serial 0x12345678", " --device
// PATH", " --can IFACE"), quoted for a shell, to repeat in a command it suggests; empty when none.
QString unitOptions(const QCommandLineParser &parser);

// A serial number as a list shows it; a unit that did not answer says so.
QString serialText(uint32_t serial);

class Context {
public:
    explicit Context(Streams streams) : s(streams) {}

    // One JSON object on the program's standard output.
    void printJson(const QJsonObject &object) const;
    // One line of text on the program's standard output, its control characters escaped (a
    // unit's registration, a file's name or content can hold any).
    void say(const QString &line) const;

    // Connects to the unit the options name, or the only one present.
    int connect(const QCommandLineParser &parser);
    // Reads the unit's settings; a partial read is said on standard error (loaded.unread_fields
    // holds what could not be read).
    int load();
    // After SIGINT or SIGTERM: says where the command stopped; true when it must stop.
    bool stopIfInterrupted(const QString &where);
    // Sends every field whose stored words differ between `target` and the unit's record, then
    // stores when asked. Prints what it did unless `print` is false (the caller reports it).
    int sendAndStore(const Settings_t &target, bool store, QJsonObject *report, bool print = true);
    // False, with the problems on standard error, when `target` breaks a rule and `force` is
    // not given.
    bool rulesKept(const Settings_t &target, bool force);
    // Reports a settings file that could not be taken; true when it was.
    bool fileTaken(const QString &path, const settings_file::FileResult &read);

    Streams s;
    std::unique_ptr<CommsManager> comms;
    SettingsSession session;
    const Settings_t &record = session.record();
    LoadResult loaded;
    QByteArray file_text; // import, diff: the settings file, read before the unit is reached
    // Payload bytes the unit confirmed in the last firmware transfer.
    uint32_t flash_confirmed = 0;
};

} // namespace cli

#endif // CLI_CONTEXT_H
