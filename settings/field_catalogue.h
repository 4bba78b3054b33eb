#ifndef FIELD_CATALOGUE_H
#define FIELD_CATALOGUE_H

// The field catalogue: one row per settings field as a person meets it, with everything the
// tool knows of it: the settings file's key, the form's label, the record index, the units bits
// it covers, its kind (which says its codec), the range the form allows and the object names
// of the widgets that show it. The settings file, the form binder, the rules' and the preview's
// labels and the differences tables all read this one table, so a new field is one new row.
// No widgets, no Qt.

#include <array>
#include <cstdint>
#include <vector>

#include "settings_types.h"

// How a field's word is shown, typed and written; each kind has its codec (codecs.h).
enum class FieldKind {
    UnitChoice,   // one group of the units word's bits, chosen by radio buttons
    UnitBits,     // the units word's bits that no choice covers: carried, never shown in the form
    Whole,        // a whole number: a V-speed, the brightness, the text background
    Volts,        // tenths of a volt, shown in volts with one decimal
    Registration, // the text carried by three words (indices 11 to 13)
    Colour,       // a colour word, 0xFFRRGGBB from the form
    Angle,        // a single-precision float, in degrees
};

// One choice of a unit group: the name the settings file writes, its bit, and its radio button.
struct UnitOption {
    const char *name;
    uint32_t bit;
    const char *widget;
};

// What a colour button's picker offers: its dialog's title and the preset in custom slot 1.
struct ColourPicker {
    const char *title;
    uint32_t preset_rgb; // 0xRRGGBB
};

struct FieldRow {
    const char *key;   // the settings file's key, efis-cli's field name
    const char *label; // the form's label
    settings_struct_index index;
    FieldKind kind;
    uint32_t unit_bits; // for a unit choice: its bits of the units word, else 0
    double min;         // the range the form allows: whole numbers, volts, degrees, characters
    double max;
    // Object names of the widgets that show the field, in the order the form fills them (for a
    // unit choice: its radio buttons; for the registration: the prefix box, then the number box).
    std::array<const char *, 3> widgets;
    // For a unit choice, in the file's order; unused entries have no name.
    std::array<UnitOption, 3> choices;
    ColourPicker picker; // for a colour
};

// Every field of the form (and the one field the form does not show), in the file's order.
const std::vector<FieldRow> &fieldCatalogue();
// The row of a settings file key; null when no field has that key.
const FieldRow *fieldByKey(const char *key);
// The row that shows a record index (for the units word: the speed unit; for the registration's
// three words: the registration); null for an index that reaches no field.
const FieldRow *fieldByIndex(settings_struct_index index);
// The form's label of a record index; "" for an index that reaches no field.
const char *labelOf(settings_struct_index index);

// The units word's bits that a choice of the form covers; the rest carry nothing the form shows.
uint32_t unitChoiceBits();

// The record indices a row's value lives in: the registration's three words, else its index.
std::vector<settings_struct_index> indicesOf(const FieldRow &row);

#endif // FIELD_CATALOGUE_H
