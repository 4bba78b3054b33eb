#include "form_binding.h"

#include <QStyle>
#include <QVariant>
#include <QWidget>

#include <cmath>
#include <cstring>

#include "get_set.h"
#include "registration_prefix.h"

namespace form_binding {

namespace {

constexpr uint32_t SPEED_BITS = 0x007u;
constexpr uint32_t ALTITUDE_BITS = 0x018u;
constexpr uint32_t TEMPERATURE_BITS = 0x060u;
constexpr uint32_t PRESSURE_BITS = 0x180u;

bool marked(const FormField &field, const SettingsSession &session) {
    if (field.index == REGISTRATION_1_INDEX) {
        return anyRegistrationWordIn(session.edits());
    }
    if (session.edits().count(field.index) == 0) {
        return false;
    }
    if (field.mask == 0) {
        return true;
    }
    const uint32_t shown = settings_get_value(&session.record(), field.index);
    const uint32_t unit = settings_get_value(&session.unitRecord(), field.index);
    return ((shown ^ unit) & field.mask) != 0;
}

} // namespace

const std::vector<FormField> &formFields() {
    static const std::vector<FormField> fields = {
        {"speed_unit",
         "Speed unit",
         UNITS_VALUE_INDEX,
         SPEED_BITS,
         {"radioButton_mph", "radioButton_kph", "radioButton_knots"}},
        {"altitude_unit",
         "Altitude unit",
         UNITS_VALUE_INDEX,
         ALTITUDE_BITS,
         {"radioButton_feet", "radioButton_meter", nullptr}},
        {"temperature_unit",
         "Temperature unit",
         UNITS_VALUE_INDEX,
         TEMPERATURE_BITS,
         {"radioButton_degF", "radioButton_degC", nullptr}},
        {"pressure_unit",
         "Pressure unit",
         UNITS_VALUE_INDEX,
         PRESSURE_BITS,
         {"radioButton_inhg", "radioButton_mbar", nullptr}},
        {"vmin", "Vmin", VMIN_INDEX, 0, {"spinBox_vmin", nullptr, nullptr}},
        {"vs0", "Vs0", VS0_INDEX, 0, {"spinBox_vs0", nullptr, nullptr}},
        {"vs1", "Vs1", VS1_INDEX, 0, {"spinBox_vs1", nullptr, nullptr}},
        {"vfe", "Vfe", VFE_INDEX, 0, {"spinBox_vfe", nullptr, nullptr}},
        {"vn0", "Vn0", VN0_INDEX, 0, {"spinBox_vn0", nullptr, nullptr}},
        {"vne", "Vne", VNE_INDEX, 0, {"spinBox_vne", nullptr, nullptr}},
        {"vref", "Vref", APPROACHSPEED_INDEX, 0, {"spinBox_vref", nullptr, nullptr}},
        {"vlo", "Vlo", VLO_INDEX, 0, {"spinBox_vlo", nullptr, nullptr}},
        {"voltage_warning_min",
         "Min Volt Warning",
         MIN_VOLTS_INDEX,
         0,
         {"min_volt_warn_value", nullptr, nullptr}},
        {"voltage_warning_max",
         "Max Volt Warning",
         MAX_VOLTS_INDEX,
         0,
         {"max_volt_warn_value", nullptr, nullptr}},
        {"voltage_alert_min",
         "Min Volt Alert",
         MIN_VOLTS_ALERT_INDEX,
         0,
         {"min_volt_alert_value", nullptr, nullptr}},
        {"voltage_alert_max",
         "Max Volt Alert",
         MAX_VOLTS_ALERT_INDEX,
         0,
         {"max_volt_alert_value", nullptr, nullptr}},
        {"registration",
         "Registration",
         REGISTRATION_1_INDEX,
         0,
         {"comboBox_reg_prefix", "text_registration_num", nullptr}},
        {"sky_color_top",
         "Sky Upper",
         SKY_COLOR_0_INDEX,
         0,
         {"color_picker_sky0", nullptr, nullptr}},
        {"sky_color_bottom",
         "Sky Lower",
         SKY_COLOR_1_INDEX,
         0,
         {"color_picker_sky1", nullptr, nullptr}},
        {"ground_color_top",
         "Ground Upper",
         GROUND_COLOR_0_INDEX,
         0,
         {"color_picker_ground0", nullptr, nullptr}},
        {"ground_color_bottom",
         "Ground Lower",
         GROUND_COLOR_1_INDEX,
         0,
         {"color_picker_ground1", nullptr, nullptr}},
        {"approach_indicator_color",
         "Approach Indicator",
         APPROACH_COLOR_INDEX,
         0,
         {"color_picker_app_indi", nullptr, nullptr}},
        {"airplane_color",
         "Airplane",
         AIRPLANE_COLOR_INDEX,
         0,
         {"color_picker_airplane", nullptr, nullptr}},
        {"green_arc_color",
         "Green Arc",
         GREEN_ARC_COLOR_INDEX,
         0,
         {"color_picker_green", nullptr, nullptr}},
        {"yellow_arc_color",
         "Yellow Arc",
         YELLOW_ARC_COLOR_INDEX,
         0,
         {"color_picker_yellow", nullptr, nullptr}},
        {"red_arc_color",
         "Red Arc",
         RED_ARC_COLOR_INDEX,
         0,
         {"color_picker_red", nullptr, nullptr}},
        {"gear_indicator_color",
         "Gear Indicator",
         GEAR_INDI_COLOR_INDEX,
         0,
         {"color_picker_gear", nullptr, nullptr}},
        {"backlight_brightness",
         "Display Brightness",
         BACKLIGHT_BRIGHTNESS_INDEX,
         0,
         {"backlight_slider", nullptr, nullptr}},
        {"text_background_transparency",
         "Text Background Transparency",
         TEXT_BG_ALPHA_INDEX,
         0,
         {"text_bg_alpha_slider", nullptr, nullptr}},
        {"roll_correction",
         "Roll Correction",
         ROLL_CORRECTION_INDEX,
         0,
         {"roll_corr_spinbox", nullptr, nullptr}},
        {"pitch_correction",
         "Pitch Correction",
         PITCH_CORRECTION_INDEX,
         0,
         {"pitch_corr_spinbox", nullptr, nullptr}},
        {"use_magnetic_heading",
         "Magnetic heading (not in the form)",
         USE_MAG_INDEX,
         0,
         {nullptr, nullptr, nullptr}},
    };
    return fields;
}

QString labelOf(const QString &key) {
    for (const FormField &field : formFields()) {
        if (key == QLatin1String(field.key)) {
            return QString::fromLatin1(field.label);
        }
    }
    return key;
}

Settings_t asTheFormHoldsIt(const Settings_t &record) {
    Settings_t held = record;
    for (int i = SKY_COLOR_0_INDEX; i <= GEAR_INDI_COLOR_INDEX; ++i) {
        const auto index = static_cast<settings_struct_index>(i);
        const uint32_t opaque = settings_get_value(&held, index) | 0xFF000000u;
        settings_set_value(&held, index, &opaque);
    }
    for (float *angle : {&held.roll_correction, &held.pitch_correction}) {
        // The correction boxes hold one decimal.
        *angle = static_cast<float>(std::round(static_cast<double>(*angle) * 10.0) / 10.0);
    }
    return held;
}

int markEdited(QWidget *form, const SettingsSession &session) {
    int count = 0;
    for (const FormField &field : formFields()) {
        const bool mark = marked(field, session);
        count += mark ? 1 : 0;
        for (const char *name : field.widgets) {
            QWidget *widget = name != nullptr ? form->findChild<QWidget *>(name) : nullptr;
            if (widget == nullptr || widget->property("edited").toBool() == mark) {
                continue;
            }
            widget->setProperty("edited", mark);
            widget->style()->unpolish(widget);
            widget->style()->polish(widget);
            widget->update();
        }
    }
    return count;
}

RegistrationSplit splitRegistration(const char (&registration)[SETTINGS_REGISTRATION_LEN]) {
    RegistrationSplit split;
    const auto *reg = reinterpret_cast<const unsigned char *>(registration);
    bool erased = true;
    for (int i = 0; i < SETTINGS_REGISTRATION_LEN; ++i) {
        erased = erased && reg[i] == 0xFF;
    }
    int length = 0;
    while (!erased && length < REGISTRATION_TEXT_LEN && reg[length] != 0 && reg[length] != 0xFF) {
        ++length;
    }
    if (length == 0) {
        split.prefix = QStringLiteral("N"); // nothing stored: the form's start
        return split;
    }
    split.text = QString::fromLatin1(registration, length);
    split.prefix_row = -1;
    for (int i = 0; i < NUM_REGISTRATION_PREFIXES; ++i) {
        if (split.text.startsWith(QLatin1String(REGISTRATION_PREFIXES[i]))) {
            split.prefix_row = i;
            split.prefix = QString::fromLatin1(REGISTRATION_PREFIXES[i]);
            break;
        }
    }
    // Without a prefix of the table the text is shown whole, as stored, so that writing it back
    // changes nothing.
    split.rest = split.text.mid(split.prefix.size())
                     .left(REGISTRATION_TEXT_LEN - static_cast<int>(split.prefix.size()));
    return split;
}

std::array<uint32_t, 3> joinRegistration(char (&registration)[SETTINGS_REGISTRATION_LEN],
                                         const QString &prefix, const QString &number) {
    std::memset(registration, 0, sizeof(registration));
    if (!number.isEmpty()) {
        const QString full = (prefix + number).left(REGISTRATION_TEXT_LEN);
        for (int i = 0; i < full.size(); ++i) {
            const char16_t unit = full.at(i).unicode();
            const char byte = unit <= 0xFF ? static_cast<char>(unit) : '?';
            if (byte == '\0') {
                break;
            }
            registration[i] = byte;
        }
        registration[SETTINGS_REGISTRATION_LEN - 1] = '\0';
    }
    std::array<uint32_t, 3> words{};
    for (int g = 0; g < 3; ++g) {
        const auto byte = [&](int i) {
            return static_cast<uint32_t>(static_cast<uint8_t>(registration[4 * g + i]));
        };
        words[g] = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    }
    return words;
}

QString registrationInput(const QString &typed, int room) {
    QString kept;
    for (const QChar c : typed) {
        if (kept.size() >= room) {
            break;
        }
        if (c.isPrint()) {
            kept += c.toUpper();
        }
    }
    return kept;
}

} // namespace form_binding
