#include "speed_units.h"

#include <cmath>

#include "field_catalogue.h"
#include "get_set.h"

namespace {

// Each speed unit in kilometres per hour, exactly: the knot is 1852 m an hour, the statute mile
// 1609.344 m.
double kphOf(SpeedUnit unit) {
    switch (unit) {
    case SpeedUnit::Mph:
        return 1.609344;
    case SpeedUnit::Knots:
        return 1.852;
    case SpeedUnit::Kph:
        break;
    }
    return 1.0;
}

// The largest V-speed the record's byte holds.
constexpr long LARGEST_SPEED = 255;

} // namespace

std::optional<SpeedUnit> speedUnitOf(uint32_t units_word) {
    units_t units{};
    units.units_value = units_word;
    const int chosen = units.bits.is_mph + units.bits.is_knots + units.bits.is_kph;
    if (chosen != 1) {
        return std::nullopt;
    }
    return units.bits.is_mph != 0     ? SpeedUnit::Mph
           : units.bits.is_knots != 0 ? SpeedUnit::Knots
                                      : SpeedUnit::Kph;
}

const char *speedSymbol(SpeedUnit unit) {
    switch (unit) {
    case SpeedUnit::Mph:
        return "mph";
    case SpeedUnit::Knots:
        return "kt";
    case SpeedUnit::Kph:
        break;
    }
    return "km/h";
}

const std::vector<settings_struct_index> &vSpeedIndices() {
    static const std::vector<settings_struct_index> indices = {
        VMIN_INDEX, VS0_INDEX, VS1_INDEX,           VFE_INDEX,
        VN0_INDEX,  VNE_INDEX, APPROACHSPEED_INDEX, VLO_INDEX};
    return indices;
}

bool anyVSpeedSet(const Settings_t &record) {
    for (const settings_struct_index index : vSpeedIndices()) {
        if (settings_get_value(&record, index) != 0) {
            return true;
        }
    }
    return false;
}

SpeedConversion convertSpeeds(const Settings_t &record, SpeedUnit from, SpeedUnit to,
                              const std::vector<settings_struct_index> &skip) {
    SpeedConversion conversion;
    conversion.record = record;
    Settings_t converted = record;
    for (const settings_struct_index index : vSpeedIndices()) {
        bool skipped = false;
        for (const settings_struct_index s : skip) {
            skipped = skipped || s == index;
        }
        const uint32_t value = settings_get_value(&record, index);
        if (value == 0 || skipped) {
            continue;
        }
        const long result = std::lround(static_cast<double>(value) * kphOf(from) / kphOf(to));
        const ConvertedSpeed speed{index, labelOf(index), value, result};
        conversion.speeds.push_back(speed);
        if (result > LARGEST_SPEED) {
            conversion.too_large.push_back(speed);
            continue;
        }
        const uint32_t word = static_cast<uint32_t>(result);
        settings_set_value(&converted, index, &word);
    }
    conversion.fits = conversion.too_large.empty();
    if (conversion.fits) {
        conversion.record = converted;
    }
    return conversion;
}

std::string tooLargeText(const SpeedConversion &conversion, SpeedUnit from, SpeedUnit to) {
    std::string text;
    for (const ConvertedSpeed &speed : conversion.too_large) {
        if (!text.empty()) {
            text += ", ";
        }
        text += speed.label + " " + std::to_string(speed.from) + " " + speedSymbol(from) +
                " would be " + std::to_string(speed.to) + " " + speedSymbol(to);
    }
    return text + " - beyond the 0 to 255 the unit holds";
}
