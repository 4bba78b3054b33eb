#ifndef SETTINGS_FILE_H
#define SETTINGS_FILE_H

// The settings file: a unit's user settings as JSON, by readable names in the form's own terms,
// so that an installer can keep a unit's settings, move them to another unit and restore them.
// Every record the tool can read from a unit comes back from its file word for word: where a
// readable value cannot carry the unit's word (a value outside the form's range, an angle that
// is no finite number, units bits no choice covers, registration bytes beyond its text), the
// file carries the word beside it under "beyond_form". Reading checks every value against what
// the form allows and refuses the whole file on the first problem; nothing is taken from a
// refused file. Its fields are the field catalogue's rows, converted by the codecs.

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "field_catalogue.h"
#include "settings_types.h"

namespace settings_file {

inline constexpr const char *FORMAT_NAME = "efis-config-settings";
// Version 2 says the whole units word (bits no choice covers are 0 unless "beyond_form" gives the
// word) and may carry words beyond the form; files of version 1 are still read.
inline constexpr int FORMAT_VERSION = 2;

// What the file says of the unit it was taken from; informative only, never sent.
struct UnitHeader {
    bool has_serial = false;
    uint32_t serial = 0;
    uint32_t magic = 0;
    uint32_t version = 0;
    uint32_t num_elements = 0;
};

// One entry of the file's settings: its key, the field that carries it, and its value as a
// person reads it (displayText).
struct Entry {
    QString key;
    settings_struct_index index;
    QString text;
};

// The settings of a record as the file holds them, by key.
QJsonObject settingsObject(const Settings_t &record);
// A value as a person reads it: a text as it stands, anything else as JSON.
QString shownText(const QJsonValue &value);
// A 32-bit word as the file writes it: "0x" and eight upper-case hexadecimal digits.
QString hexWord(uint32_t value);

// A field's value as a person reads it: the file's readable value, marked where it does not
// carry the unit's word ("6553.5 (outside the form's range)", "nan (word 0x7FC00000)",
// "G-AB (words 0x472D4142 0x00000000 0x000000FF)").
QString displayText(const Settings_t &record, const FieldRow &row);

// The settings entries of a record, in the file's order.
std::vector<Entry> entries(const Settings_t &record);

// The file's text for a record's user fields and the unit it came from; read back, it gives
// every user field's word as the record holds it.
QByteArray write(const Settings_t &record, const UnitHeader &unit);

// Reads a file into `record`: every user field the file names is set, the rest of the record
// (header words; in a file of version 1, the unit bits no choice covers) is kept. False with
// `error` set, and `record` untouched, for a file that is not a settings file of a version this
// tool reads, or that holds an unknown key, a missing one, a key named twice, or a value out of
// range.
bool read(const QByteArray &text, Settings_t *record, UnitHeader *unit, QString *error);

// Sets one field of `record` from a value as the file writes it (efis-cli set): false with
// `error` set, and `record` untouched, for a key the file does not have or a value the form does
// not allow, in the words a file's refusal uses.
bool assign(Settings_t *record, const QString &key, const QJsonValue &value, QString *error);

// The largest settings file read: one is a few kilobytes, anything far larger is not one.
inline constexpr std::size_t MAX_FILE_SIZE = 1024 * 1024;

// Reading a named file: Unreadable when it cannot be opened or is no file that ends (a
// directory, a pipe or device that goes on), Refused when it is too large or `read` refuses it;
// `problem` says why.
enum class FileOutcome { Read, Unreadable, Refused };
struct FileResult {
    FileOutcome outcome;
    QString problem;
};
FileResult readFile(const QString &path, Settings_t *record, UnitHeader *unit);
// The first half of readFile: the file's text, read with the same bounds, for a caller that
// reads the file before it has the record to read it into.
FileResult readFileText(const QString &path, QByteArray *text);

// The fields whose words differ between two records: (key, current text, other text). Decided on
// the words the unit holds (every bit of the units word, every registration byte, an angle's
// bits), never on the texts, which only show them.
struct Difference {
    QString key;
    settings_struct_index index;
    QString current;
    QString other;
};
std::vector<Difference> differences(const Settings_t &current, const Settings_t &other);

} // namespace settings_file

#endif // SETTINGS_FILE_H
