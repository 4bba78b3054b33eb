#include "field_catalogue.h"

#include <cstring>

namespace {

using Widgets = std::array<const char *, 3>;
using Choices = std::array<UnitOption, 3>;

constexpr Widgets ONE(const char *widget) {
    return {widget, nullptr, nullptr};
}
constexpr Widgets NONE = {nullptr, nullptr, nullptr};
constexpr Choices NO_CHOICES = {};
constexpr ColourPicker NO_PICKER = {nullptr, 0};

FieldRow unitChoice(const char *key, const char *label, Widgets widgets, Choices choices) {
    uint32_t bits = 0;
    for (const UnitOption &choice : choices) {
        bits |= choice.bit;
    }
    return {key,     label,   UNITS_VALUE_INDEX, FieldKind::UnitChoice, bits, 0, 0,
            widgets, choices, NO_PICKER};
}

FieldRow field(const char *key, const char *label, settings_struct_index index, FieldKind kind,
               double min, double max, Widgets widgets) {
    return {key, label, index, kind, 0, min, max, widgets, NO_CHOICES, NO_PICKER};
}

FieldRow colour(const char *key, const char *label, settings_struct_index index, const char *widget,
                const char *title, uint32_t preset) {
    return {key, label, index,       FieldKind::Colour, 0,
            0,   0,     ONE(widget), NO_CHOICES,        {title, preset}};
}

std::vector<FieldRow> rows() {
    // The form's ranges: V-speeds are the record's bytes, volts and angles the spin boxes'.
    const double BYTE = 255;
    const double V_MIN = 5.0;
    const double V_MAX = 65.0;
    return {
        // The radio buttons are listed in the order the form sets them: with two bits of one
        // group set, the button set last stays checked.
        unitChoice("speed_unit", "Speed unit",
                   {"radioButton_mph", "radioButton_kph", "radioButton_knots"},
                   {{{"mph", 1u << 0, "radioButton_mph"},
                     {"knots", 1u << 1, "radioButton_knots"},
                     {"kph", 1u << 2, "radioButton_kph"}}}),
        unitChoice("altitude_unit", "Altitude unit", {"radioButton_feet", "radioButton_meter"},
                   {{{"feet", 1u << 3, "radioButton_feet"},
                     {"meters", 1u << 4, "radioButton_meter"},
                     {nullptr, 0, nullptr}}}),
        unitChoice("temperature_unit", "Temperature unit", {"radioButton_degF", "radioButton_degC"},
                   {{{"fahrenheit", 1u << 5, "radioButton_degF"},
                     {"celsius", 1u << 6, "radioButton_degC"},
                     {nullptr, 0, nullptr}}}),
        unitChoice("pressure_unit", "Pressure unit", {"radioButton_inhg", "radioButton_mbar"},
                   {{{"inHg", 1u << 7, "radioButton_inhg"},
                     {"mbar", 1u << 8, "radioButton_mbar"},
                     {nullptr, 0, nullptr}}}),
        // Bits 9 to 31 carry nothing the form shows, but the unit holds them: a backup keeps them
        // and a comparison tells them apart.
        {"units", "Units word (bits no choice covers)", UNITS_VALUE_INDEX, FieldKind::UnitBits,
         ~0x1FFu, 0, 0, NONE, NO_CHOICES, NO_PICKER},
        field("vmin", "Vmin", VMIN_INDEX, FieldKind::Whole, 0, BYTE, ONE("spinBox_vmin")),
        field("vs0", "Vs0", VS0_INDEX, FieldKind::Whole, 0, BYTE, ONE("spinBox_vs0")),
        field("vs1", "Vs1", VS1_INDEX, FieldKind::Whole, 0, BYTE, ONE("spinBox_vs1")),
        field("vfe", "Vfe", VFE_INDEX, FieldKind::Whole, 0, BYTE, ONE("spinBox_vfe")),
        field("vn0", "Vn0", VN0_INDEX, FieldKind::Whole, 0, BYTE, ONE("spinBox_vn0")),
        field("vne", "Vne", VNE_INDEX, FieldKind::Whole, 0, BYTE, ONE("spinBox_vne")),
        field("vref", "Vref", APPROACHSPEED_INDEX, FieldKind::Whole, 0, BYTE, ONE("spinBox_vref")),
        field("vlo", "Vlo", VLO_INDEX, FieldKind::Whole, 0, BYTE, ONE("spinBox_vlo")),
        field("voltage_warning_min", "Min Volt Warning", MIN_VOLTS_INDEX, FieldKind::Volts, V_MIN,
              V_MAX, ONE("min_volt_warn_value")),
        field("voltage_warning_max", "Max Volt Warning", MAX_VOLTS_INDEX, FieldKind::Volts, V_MIN,
              V_MAX, ONE("max_volt_warn_value")),
        field("voltage_alert_min", "Min Volt Alert", MIN_VOLTS_ALERT_INDEX, FieldKind::Volts, V_MIN,
              V_MAX, ONE("min_volt_alert_value")),
        field("voltage_alert_max", "Max Volt Alert", MAX_VOLTS_ALERT_INDEX, FieldKind::Volts, V_MIN,
              V_MAX, ONE("max_volt_alert_value")),
        field("registration", "Registration", REGISTRATION_1_INDEX, FieldKind::Registration, 0,
              SETTINGS_REGISTRATION_LEN - 1,
              {"comboBox_reg_prefix", "text_registration_num", nullptr}),
        colour("sky_color_top", "Sky Upper", SKY_COLOR_0_INDEX, "color_picker_sky0",
               "Select Sky Color 0", 0x87CEEBu),
        colour("sky_color_bottom", "Sky Lower", SKY_COLOR_1_INDEX, "color_picker_sky1",
               "Select Sky Color 1", 0x87CEEBu),
        colour("ground_color_top", "Ground Upper", GROUND_COLOR_0_INDEX, "color_picker_ground0",
               "Select Ground Color 0", 0x228B22u),
        colour("ground_color_bottom", "Ground Lower", GROUND_COLOR_1_INDEX, "color_picker_ground1",
               "Select Ground Color 1", 0x228B22u),
        colour("approach_indicator_color", "Approach Indicator", APPROACH_COLOR_INDEX,
               "color_picker_app_indi", "Select Approach Indicator Color", 0xFFFF00u),
        colour("airplane_color", "Airplane", AIRPLANE_COLOR_INDEX, "color_picker_airplane",
               "Select Airplane Color", 0xFFFFFFu),
        colour("green_arc_color", "Green Arc", GREEN_ARC_COLOR_INDEX, "color_picker_green",
               "Select Green Arc Color", 0x00FF00u),
        colour("yellow_arc_color", "Yellow Arc", YELLOW_ARC_COLOR_INDEX, "color_picker_yellow",
               "Select Yellow Arc Color", 0xFFFF00u),
        colour("red_arc_color", "Red Arc", RED_ARC_COLOR_INDEX, "color_picker_red",
               "Select Red Arc Color", 0xFF0000u),
        colour("gear_indicator_color", "Gear Indicator", GEAR_INDI_COLOR_INDEX, "color_picker_gear",
               "Select Gear Indicator Color", 0xFFFFFFu),
        field("backlight_brightness", "Display Brightness", BACKLIGHT_BRIGHTNESS_INDEX,
              FieldKind::Whole, 0, 21, ONE("backlight_slider")),
        field("text_background_transparency", "Text Background Transparency", TEXT_BG_ALPHA_INDEX,
              FieldKind::Whole, 0, 254, ONE("text_bg_alpha_slider")),
        field("roll_correction", "Roll Correction", ROLL_CORRECTION_INDEX, FieldKind::Angle, -90,
              90, ONE("roll_corr_spinbox")),
        field("pitch_correction", "Pitch Correction", PITCH_CORRECTION_INDEX, FieldKind::Angle, -90,
              90, ONE("pitch_corr_spinbox")),
        field("use_magnetic_heading", "Magnetic heading (not in the form)", USE_MAG_INDEX,
              FieldKind::Whole, 0, 4294967295.0, NONE),
    };
}

} // namespace

const std::vector<FieldRow> &fieldCatalogue() {
    static const std::vector<FieldRow> catalogue = rows();
    return catalogue;
}

const FieldRow *fieldByKey(const char *key) {
    for (const FieldRow &row : fieldCatalogue()) {
        if (std::strcmp(row.key, key) == 0) {
            return &row;
        }
    }
    return nullptr;
}

const FieldRow *fieldByIndex(settings_struct_index index) {
    for (const FieldRow &row : fieldCatalogue()) {
        for (const settings_struct_index i : indicesOf(row)) {
            if (i == index) {
                return &row;
            }
        }
    }
    return nullptr;
}

const char *labelOf(settings_struct_index index) {
    const FieldRow *row = fieldByIndex(index);
    return row != nullptr ? row->label : "";
}

uint32_t unitChoiceBits() {
    uint32_t bits = 0;
    for (const FieldRow &row : fieldCatalogue()) {
        if (row.kind == FieldKind::UnitChoice) {
            bits |= row.unit_bits;
        }
    }
    return bits;
}

std::vector<settings_struct_index> indicesOf(const FieldRow &row) {
    if (row.kind == FieldKind::Registration) {
        return {REGISTRATION_1_INDEX, REGISTRATION_2_INDEX, REGISTRATION_3_INDEX};
    }
    return {row.index};
}
