#ifndef BACKUP_FILE_H
#define BACKUP_FILE_H

// The backup of a unit's settings and every other settings file the tool writes for the person:
// one default name, one writer, for the window and efis-cli alike. A name the tool made up never
// replaces anything ("-2", "-3"... when it is taken), a name the person gave replaces a file only
// when they said so, and nothing is ever written through a link planted at the name.

#include <QByteArray>
#include <QDate>
#include <QString>

#include <cstdint>

#include "settings_types.h"

namespace backup_file {

// What get_serialnumber returns for a unit that did not say: no serial number in the name.
inline constexpr uint32_t NO_SERIAL = 0xFFFFFFFFu;
// How far a taken name is counted on ("-2" ... "-999") before the writer gives up.
inline constexpr int MAX_NAME_NUMBER = 999;

// The default name of a backup: registration, serial number and date, in characters every file
// system takes ("G-ABCD-12345678-2026-12-08.json").
QString defaultName(const Settings_t &record, uint32_t serial, const QDate &date);

// The settings file's text for `record`, saying which unit it came from.
QByteArray fileText(const Settings_t &record, uint32_t serial);

enum class Outcome {
    Written, // `path` holds the text, whole
    Exists,  // a file the person named is there and was not to be replaced: nothing written
    Failed   // `problem` says why; nothing was written under the name
};

struct Written {
    Outcome outcome = Outcome::Failed;
    QString path; // where the text went (a made-up name may have had a number added)
    QString problem;
    bool ok() const { return outcome == Outcome::Written; }
};

// Writes under a name the tool made up: created new, never over anything. When `path` is taken,
// "-2", "-3"... go before its suffix until a free name is found.
Written writeUnderNewName(const QString &path, const QByteArray &text);

// Writes under a name the person gave: when something has the name it is refused (Exists) unless
// `replace`, and then replaced whole by a rename (a link there is replaced, not followed).
Written writeNamed(const QString &path, const QByteArray &text, bool replace);

// The first name from `path` on ("-2", "-3"...) that nothing has (no file, folder or link), for a
// file dialog to propose.
QString freeName(const QString &path);

// Writes what a save dialog returned: the name it `proposed` is the tool's own (created new, a
// number added should one have turned up since), any other is the person's, which the dialog has
// asked about before it is replaced.
Written writeChosen(const QString &chosen, const QString &proposed, const QByteArray &text);

// `path` as an argument of a printed command that a shell and efis-cli's option parser both take
// as a file name: "./" before a name that starts with '-', and single quotes around one that holds
// anything but letters, digits and "._/-+,:@".
QString commandArgument(const QString &path);

} // namespace backup_file

#endif // BACKUP_FILE_H
