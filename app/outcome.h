#ifndef OUTCOME_H
#define OUTCOME_H

// The outcomes of the settings load, the update job, the reboot and the wait for the unit, each
// worded once: the
// status text the window shows, the log line it writes, what efis-cli says of it and the exit
// status efis-cli ends with.
// A front end looks its result up here and says it; the specified texts stand here as they are
// specified, so they are the same wherever they are shown.

#include <QString>
#include <QStringList>

#include "settings_flows.h"
#include "settings_types.h"

namespace outcome {

// efis-cli's exit statuses.
enum class Exit : int {
    Ok = 0,
    UnitFailed = 1, // the unit refused or an exchange failed
    Usage = 2,      // bad usage or a bad file
    NoUnit = 3,     // no unit found
    Interrupted =
        130 // SIGINT or SIGTERM, or the person's cancel: stopped after the exchange in flight
};

enum class Result {
    NoConnection, // an exchange asked for without a unit connected
    // The load of the unit's settings. Each front end gives the arguments in its own form.
    ChecksumUnread,   // a header word not read (also before a store); efis-cli: args: its index
    MagicUnread,      //   the same for the marker word,
    VersionUnread,    //   the record's version
    CountUnread,      //   and its element count
    FieldRejected,    // args: the field's index
    FieldUnread,      // args: the window: one field's index (a line each); efis-cli: the list
    ChecksumMismatch, // args: the checksum computed, the unit's
    RecordErased,     // the unit holds no record: not a failure
    SettingsLoaded,
    // The sending of edits and the save: the fields one by one (args: the window: one field's
    // index, a line each; efis-cli: the list), then the flow's end (args: counts).
    FieldNotSent,
    FieldNotReadForSave,
    ValuesSent,  // args: sent
    SomeNotSent, // args: sent, not sent
    SaveUnread,  // args: not read
    SaveNotSent, // args: not sent
    Saved,
    // The store of the settings: each step's end (args: an unexpected reply's identifier), then
    // the save's end when it failed (efis-cli: args: the step's words).
    StoreNotSent,
    StoreEraseTimeout,
    StoreEraseFailed,
    StoreUnexpectedErase,
    StoreAckTimeout,
    StoreUnexpectedAck,
    Stored,
    StoreFailed,
    // The update job, the reboot and the wait.
    NoFileChosen,     // no image chosen
    NotConnected,     // the update asked for without a unit
    ImageRefused,     // args: path, why (a phrase after the file's name)
    BackupNotWritten, // args: path, why
    UpdateNotStarted, // the person declined to go on without a backup
    UpdateStarted,    // args: path
    UpdateCompleted,
    UpdateFailed,    // args: the reason (a sentence); efis-cli: and what follows it
    UpdateCancelled, // args: bytes confirmed, bytes in all (as shown); efis-cli: and what follows
    RebootFailed,
    RebootSent,
    UnitNotBack,    // args: seconds waited
    OtherUnitBack,  // args: its serial number, the updated unit's
    UnitBackSilent, // a unit answered without a serial number
    SettingsUnchanged,
    SettingsChanged, // args: how many rows
};

struct Words {
    QString status; // the window's status bar; empty: the status bar keeps its message
    QString log;    // the log line; empty: none
    QString cli;    // what efis-cli says (its error line, or its output line for a success)
    Exit exit = Exit::Ok;
};

// A text as the log writes a text item (in double quotes, with its escapes), for an argument of
// a log line that was always written so.
QString quoted(const QString &text);

// The result of a header word of the record that could not be read.
Result headerUnread(settings_struct_index index);

// The result of a store exchange that reached the unit (NotConnected: NoConnection).
Result storeResult(StoreOutcome outcome);

// The words of `result`, with `args` put into their places in order.
Words words(Result result, const QStringList &args = {});
// The same, where the log (and efis-cli) write their arguments otherwise than the status bar
// shows them (plain numbers in the log, grouped digits on the status bar).
Words words(Result result, const QStringList &status_args, const QStringList &log_args);

} // namespace outcome

#endif // OUTCOME_H
