#ifndef FORM_BINDING_H
#define FORM_BINDING_H

// The form binding: which widgets of the settings tab show which field of the record, under
// which label, and how the registration is split into the prefix box and the number box and
// joined again. The window fills, reads and marks its form from this one table.

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

#include "settings_session.h"
#include "settings_types.h"

class QWidget;

namespace form_binding {

// One field of the form as a person sees it. The unit choices share the units word, each with
// the bits of its group; the registration's three words are one field.
struct FormField {
    const char *key;   // the settings file's key
    const char *label; // the form's label
    settings_struct_index index;
    uint32_t mask;                       // for a unit choice: its bits of the units word, else 0
    std::array<const char *, 3> widgets; // object names of the widgets that show it
};

// Every field of the form, in the settings file's order.
const std::vector<FormField> &formFields();
// The form's label for a settings file key; the key itself when the form has no such field.
QString labelOf(const QString &key);

// `record` as the form holds it once shown: angles to one decimal, colours opaque. Where the two
// differ, the form cannot show the record's value exactly.
Settings_t asTheFormHoldsIt(const Settings_t &record);

// Sets the dynamic property `edited` on every widget whose field is edited and not yet
// acknowledged by the unit (for a unit choice: whose group differs from the unit's), clears it
// elsewhere and restyles the widgets that changed. Returns how many fields are marked.
int markEdited(QWidget *form, const SettingsSession &session);

// The style of a marked widget.
inline constexpr const char *EDITED_STYLE =
    "*[edited=\"true\"] { border: 2px solid #e08000; border-radius: 3px; }";

// Characters of the registration text; byte 11 of the record is never part of it.
inline constexpr int REGISTRATION_TEXT_LEN = SETTINGS_REGISTRATION_LEN - 1;

// A stored registration as the form shows it: the first prefix of the table it starts with
// (row -1: none, the text is shown whole) and the rest.
struct RegistrationSplit {
    QString text; // the stored text, for the log
    int prefix_row = 0;
    QString prefix;
    QString rest;
};
RegistrationSplit splitRegistration(const char (&registration)[SETTINGS_REGISTRATION_LEN]);

// Writes prefix and number into the record's registration bytes (all zero when the number is
// empty; at most 11 characters, Latin-1, "?" for anything else, byte 11 zero) and returns the
// three words that carry them, first character most significant.
std::array<uint32_t, 3> joinRegistration(char (&registration)[SETTINGS_REGISTRATION_LEN],
                                         const QString &prefix, const QString &number);

// What the number box keeps of what was typed: printable characters only, letters in upper
// case, at most `room` characters.
QString registrationInput(const QString &typed, int room);

} // namespace form_binding

#endif // FORM_BINDING_H
