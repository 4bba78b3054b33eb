#ifndef SETTINGS_RULES_H
#define SETTINGS_RULES_H

// The rules that settings must keep with each other: the V-speed arcs in their order and the
// voltage thresholds in theirs. Each field's own range is the settings file's and the form's;
// these catch combinations that each pass alone and still draw the airspeed arcs backwards or
// alarm at the wrong voltage. The window, efis-cli, the settings file's preview and the display
// preview all ask here. No widgets, no Qt.

#include <string>
#include <vector>

#include "settings_types.h"

// A field a problem names: its label in the form and its value as the form shows it.
struct ProblemField {
    settings_struct_index index;
    std::string label;
    std::string value;
};

struct SettingsProblem {
    std::vector<ProblemField> fields;
    std::string text; // e.g. "Vne (100) is below Vn0 (120): the yellow arc would run backwards"
};

// Every problem of a record's settings, in the form's order. V-speeds are compared as they are
// stored, in the chosen speed unit; a V-speed or a voltage of 0 is not set and is skipped.
std::vector<SettingsProblem> checkSettings(const Settings_t &record);

#endif // SETTINGS_RULES_H
