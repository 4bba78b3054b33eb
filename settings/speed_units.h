#ifndef SETTINGS_SPEED_UNITS_H
#define SETTINGS_SPEED_UNITS_H

// The speed unit and the V-speeds read in it. The record keeps the V-speeds as whole numbers in
// the chosen speed unit, one byte each, and the unit's choice as one of three bits of the units
// word; changing the bit alone changes what every V-speed means (Vs0 45 kt read as 45 mph). The
// conversion of the V-speeds to another speed unit is written here once: the window asks before
// it converts, efis-cli converts on --convert-speeds. No widgets, no Qt.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings_types.h"

enum class SpeedUnit { Mph, Knots, Kph };

// The speed unit a units word chooses; none when no speed bit or more than one is set (the
// V-speeds' unit is then not known).
std::optional<SpeedUnit> speedUnitOf(uint32_t units_word);
// The symbol shown beside a V-speed: "mph", "kt", "km/h".
const char *speedSymbol(SpeedUnit unit);

// The eight V-speeds' record indices, in the form's order.
const std::vector<settings_struct_index> &vSpeedIndices();
// True when any V-speed is set (not 0).
bool anyVSpeedSet(const Settings_t &record);

// One V-speed as converted: its form label, the value before and the whole number after.
struct ConvertedSpeed {
    settings_struct_index index;
    std::string label;
    uint32_t from;
    long to;
};

// The V-speeds of `record` converted from `from` to `to`, each rounded to the nearest whole
// number; a V-speed of 0 is not set and stays 0. `speeds` lists every V-speed set; `record` is
// the input with the converted V-speeds (the units word is left to the caller). When a result
// does not fit the unit's byte (0 to 255), `fits` is false, `too_large` names those V-speeds,
// and `record` keeps the input's V-speeds: no conversion happens in part.
struct SpeedConversion {
    bool fits = true;
    std::vector<ConvertedSpeed> speeds;
    std::vector<ConvertedSpeed> too_large;
    Settings_t record{};
};
SpeedConversion convertSpeeds(const Settings_t &record, SpeedUnit from, SpeedUnit to,
                              const std::vector<settings_struct_index> &skip = {});

// "Vne 160 kt would be 296 km/h": each V-speed that does not fit, joined with ", ", then
// " - beyond the 0 to 255 the unit holds".
std::string tooLargeText(const SpeedConversion &conversion, SpeedUnit from, SpeedUnit to);

#endif // SETTINGS_SPEED_UNITS_H
