#ifndef FORM_BINDER_H
#define FORM_BINDER_H

// The form binder: the settings tab's widgets bound to the record's fields through the field
// catalogue. It fills the form from a record, reads the form back into one, marks the edited
// fields, and holds the colour buttons; every conversion goes through the codecs. The window's
// edit handlers stay the window's slots: each passes its value, converted here, to the session.

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "codecs.h"
#include "colour_button.h"
#include "field_catalogue.h"
#include "settings_flows.h"
#include "settings_session.h"
#include "settings_types.h"

class QWidget;

class FormBinder {
public:
    // Finds every widget the catalogue names under `form` (the settings tab).
    explicit FormBinder(QWidget *form);

    // How a record is shown. From the unit (no `previous`), the widgets' signals are blocked so
    // that no edit handler runs. As edits over `previous` (an imported file), every widget that
    // changes reports it through its handler, and `edit` is called for what no widget's signal
    // reports (a colour shown, a field with no widget), so each such field is marked.
    struct Fill {
        const Settings_t *previous = nullptr;
        bool units_unread = false;        // the unit's choices are not known: show none chosen
        bool registration_unread = false; // show the registration as not read
        std::function<void(settings_struct_index, uint32_t)> edit;
    };
    // What the fill did with the registration: split and shown, or left as it was.
    struct Filled {
        bool registration_shown = false;
        codecs::RegistrationSplit split;
    };
    Filled fill(const Settings_t &record, const Fill &how);

    // `base` with the form's values laid over it: a colour button that has shown no colour, a unit
    // group with no button checked and a field with no widget keep the words of `base`.
    Settings_t readBack(const Settings_t &base) const;

    // The unit choices the radio buttons show, and which bits of the units word they cover.
    UnitChoices unitChoices() const;
    // The colour word a colour field's button shows; false while it shows none.
    bool colour(settings_struct_index index, uint32_t *word) const;
    // Lets a person pick the colour of a colour field, starting from `current`; false when
    // cancelled (nothing changes but the dialog's custom colour slot).
    bool pickColour(QWidget *parent, settings_struct_index index, uint32_t current);
    // Keeps in the number box only what the unit can store (printable Latin-1, letters in upper
    // case, no more than the prefix leaves room for) and returns the registration's three words
    // as the form shows it. A character kept out is named in `refused` (and in the box's tool
    // tip) with the reason; empty when every character typed was taken.
    std::array<uint32_t, 3> takeRegistration(QString *refused = nullptr);
    // The registration's three words as the form shows it.
    std::array<uint32_t, 3> registrationWords() const;

    // Marks the widgets of the fields the session holds as edited; the count of marked fields.
    int mark(const SettingsSession &session);

    // Each V-speed box shows the speed unit the radio buttons choose ("kt", "mph", "km/h"), or
    // none while none is chosen. Follows the buttons by itself; a fill calls it too.
    void showSpeedUnit();
    // The radio buttons now choose `units` while `record` holds the V-speeds in its own speed
    // unit. With V-speeds set and both units known, asks whether to convert them or keep the
    // numbers: converted, each V-speed box takes its new value through its edit handler;
    // cancelled, the buttons show the record's units again and `go_on` is false. `status` is
    // the outcome for the status bar; empty when nothing was asked.
    struct SpeedUnitChange {
        bool go_on = true;
        QString status;
    };
    SpeedUnitChange changeSpeedUnit(QWidget *parent, const Settings_t &record, uint32_t units);

private:
    QWidget *widget(const char *name) const;
    template <typename T> T *widgetAs(const FieldRow &row, int i = 0) const;

    QWidget *form_;
    std::map<std::string, QWidget *> widgets_;
    std::map<settings_struct_index, ColourButton> colours_;
};

namespace form_binding {

// The style of a marked widget (the colour buttons, which paint themselves, draw the same
// frame in EDITED_COLOUR).
#define EFIS_EDITED_COLOUR "#e08000"
inline constexpr const char *EDITED_COLOUR = EFIS_EDITED_COLOUR;
inline constexpr const char *EDITED_STYLE =
    "*[edited=\"true\"] { border: 2px solid " EFIS_EDITED_COLOUR "; border-radius: 3px; }";

// The form's label for a settings file key; the key itself when the form has no such field.
QString labelOf(const QString &key);

// `record` as the form holds it once shown: every value bounded to its widget's range, angles
// and volts to one decimal, colours opaque, the registration as its text. Where the two differ,
// the form cannot show the record's value exactly.
Settings_t asTheFormHoldsIt(const Settings_t &record);

// Sets the dynamic property `edited` on every widget whose field is edited and not yet
// acknowledged by the unit (for a unit choice: whose group differs from the unit's), clears it
// elsewhere and restyles the widgets that changed. Returns how many fields are marked.
int markEdited(QWidget *form, const SettingsSession &session);

// What the number box keeps of what was typed: the characters the unit can store, letters in
// upper case, at most `room` characters. The first character kept out for what it is (not for
// want of room) goes to `refused`.
QString registrationInput(const QString &typed, int room, QString *refused = nullptr);

} // namespace form_binding

#endif // FORM_BINDER_H
