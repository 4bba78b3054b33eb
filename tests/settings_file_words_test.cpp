// The settings file by the words the unit holds: every record comes back from its file word for
// word, files of the first version still read, and differences are decided on the words.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "update_job.h"
#include "codecs.h"
#include "get_set.h"
#include "settings_file.h"

namespace {

uint32_t word(const Settings_t &record, int index) {
    return settings_get_value(&record, static_cast<settings_struct_index>(index));
}

void setWord(Settings_t &record, settings_struct_index index, uint32_t value) {
    settings_set_value(&record, index, &value);
}

// A record as a unit may hold it: each field either any word at all, or a value at one of the
// edges of what the form allows, or an ordinary value.
Settings_t randomRecord(std::mt19937 &random) {
    const uint32_t edges[] = {0u,          1u,          21u,         22u,         49u,
                              50u,         254u,        255u,        650u,        651u,
                              0xFFFFu,     0x10000u,    0x7FC00000u, 0x7F800000u, 0xFF800000u,
                              0x80000000u, 0x42B40000u, 0x42B40001u, 0xFFFFFFFFu, 0x1FFu};
    Settings_t record{};
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        uint32_t value = random();
        switch (random() % 3) {
        case 0:
            value = edges[random() % (sizeof(edges) / sizeof(edges[0]))];
            break;
        case 1:
            value %= 300; // mostly inside the form's ranges
            break;
        default:
            break;
        }
        setWord(record, static_cast<settings_struct_index>(i), value);
    }
    if (random() % 2 == 0) {
        // A registration the form could have written: a text and zeros.
        const std::string texts[] = {"", "G-ABCD", "N12345", "D-EFGH", "ABCDEFGHIJK"};
        codecs::joinRegistration(record.registration, texts[random() % 5]);
    }
    if (random() % 2 == 0) {
        record.units.units_value &= 0x1FFu; // units with nothing above the choices' bits
    }
    return record;
}

std::string differingFields(const Settings_t &a, const Settings_t &b) {
    std::string fields;
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        if (word(a, i) != word(b, i)) {
            fields += " " + std::to_string(i);
        }
    }
    return fields;
}

TEST(SettingsFileWords, EveryRecordComesBackFromItsFileWordForWord) {
    std::mt19937 random(2026);
    int beyond = 0;
    for (int n = 0; n < 3000; ++n) {
        const Settings_t record = randomRecord(random);
        const QByteArray text = settings_file::write(record, settings_file::UnitHeader{});
        // Read into a record that holds something else in every field.
        Settings_t back = randomRecord(random);
        QString error;
        ASSERT_TRUE(settings_file::read(text, &back, nullptr, &error))
            << error.toStdString() << "\n"
            << text.toStdString();
        ASSERT_EQ(differingFields(record, back), "") << text.toStdString();
        EXPECT_TRUE(settings_file::differences(record, back).empty());
        const QJsonObject root = QJsonDocument::fromJson(text).object();
        beyond += root.contains("beyond_form") ? 1 : 0;
        EXPECT_EQ(root.value("format_version").toInt(), 2);
    }
    EXPECT_GT(beyond, 2000);
}

TEST(SettingsFileWords, ValuesBeyondTheFormAreMarkedAndKept) {
    Settings_t record{};
    codecs::joinRegistration(record.registration, "G-ABCD");
    record.units.units_value = 0x2u | 0x8u | 0x40u | 0x80u;
    record.volt_warnings = {0, 0xFFFF};
    record.volt_alerts = {110, 155};
    setWord(record, ROLL_CORRECTION_INDEX, 0x7FC00000u);  // NaN
    setWord(record, PITCH_CORRECTION_INDEX, 0xFF800000u); // -inf
    const QByteArray text = settings_file::write(record, settings_file::UnitHeader{});
    const QJsonObject root = QJsonDocument::fromJson(text).object();
    const QJsonObject beyond = root.value("beyond_form").toObject();
    EXPECT_EQ(beyond.keys(), QStringList({"pitch_correction", "roll_correction",
                                          "voltage_warning_max", "voltage_warning_min"}));
    EXPECT_EQ(beyond.value("roll_correction").toString(), "0x7FC00000");
    EXPECT_TRUE(root.value("settings").toObject().value("roll_correction").isNull());
    EXPECT_EQ(root.value("settings").toObject().value("voltage_warning_max").toDouble(), 6553.5);

    // What a person reads of them says so.
    for (const settings_file::Entry &entry : settings_file::entries(record)) {
        if (entry.key == "voltage_warning_max") {
            EXPECT_EQ(entry.text, "6553.5 (outside the form's range)");
        } else if (entry.key == "pitch_correction") {
            EXPECT_EQ(entry.text, "-inf (word 0xFF800000)");
        } else if (entry.key == "vne") {
            EXPECT_EQ(entry.text, "0");
        }
    }

    // A readable value changed without its word is refused, not taken silently.
    QJsonObject edited = root;
    QJsonObject settings = edited.value("settings").toObject();
    settings.insert("voltage_warning_max", 14.5);
    edited.insert("settings", settings);
    Settings_t back{};
    QString error;
    EXPECT_FALSE(settings_file::read(QJsonDocument(edited).toJson(), &back, nullptr, &error));
    EXPECT_EQ(error, "Field \"voltage_warning_max\": value 14.5 is not what its words in "
                     "\"beyond_form\" hold (6553.5); remove them there to set a new value");
    // Without the word it is an ordinary value again.
    QJsonObject words = beyond;
    words.remove("voltage_warning_max");
    edited.insert("beyond_form", words);
    EXPECT_TRUE(settings_file::read(QJsonDocument(edited).toJson(), &back, nullptr, &error))
        << error.toStdString();
    EXPECT_EQ(back.volt_warnings.max_volts, 145u);
    EXPECT_EQ(back.volt_warnings.min_volts, 0u);

    // A file of the first version has no such words, and a malformed word is refused.
    QJsonObject v1 = root;
    v1.insert("format_version", 1);
    EXPECT_FALSE(settings_file::read(QJsonDocument(v1).toJson(), &back, nullptr, &error));
    EXPECT_EQ(error, "Unknown key \"beyond_form\" in the file");
    words.insert("registration", "0x00000000");
    edited.insert("beyond_form", words);
    EXPECT_FALSE(settings_file::read(QJsonDocument(edited).toJson(), &back, nullptr, &error));
    EXPECT_EQ(error, "Field \"registration\" in \"beyond_form\": \"0x00000000\" is not a list of "
                     "3 32-bit words \"0x…\"");
}

TEST(SettingsFileWords, AFileOfTheFirstVersionStillReads) {
    const QByteArray v1 = R"({
        "format": "efis-config-settings", "format_version": 1,
        "unit": {"serial_number": "0x12345678", "magic": "0x5F57565A", "version": 1,
                 "num_elements": 26},
        "settings": {
            "speed_unit": "knots", "altitude_unit": "feet", "temperature_unit": null,
            "pressure_unit": "inHg",
            "vmin": 40, "vs0": 45, "vs1": 50, "vfe": 85, "vn0": 120, "vne": 150, "vref": 65,
            "vlo": 90, "voltage_warning_min": 11.8, "voltage_warning_max": 15,
            "voltage_alert_min": 11, "voltage_alert_max": 15.5, "registration": "G-ABCD",
            "sky_color_top": "#87CEEB", "sky_color_bottom": "#4682B4",
            "ground_color_top": "#228B22", "ground_color_bottom": "#8B4513",
            "approach_indicator_color": "#00FFFF", "airplane_color": "#FFA500",
            "green_arc_color": "#00C000", "yellow_arc_color": "#FFD700",
            "red_arc_color": "#E00000", "gear_indicator_color": "#0032CD32",
            "backlight_brightness": 15, "text_background_transparency": 150,
            "roll_correction": 0, "pitch_correction": 0.5, "use_magnetic_heading": 0}})";
    Settings_t record{};
    record.units.units_value = 0xABC00000u | 0x20u; // Fahrenheit and bits no choice covers
    settings_file::UnitHeader unit;
    QString error;
    ASSERT_TRUE(settings_file::read(v1, &record, &unit, &error)) << error.toStdString();
    // A null choice and the bits above the choices are kept from the record read into.
    EXPECT_EQ(record.units.units_value, 0xABC00000u | 0x2u | 0x8u | 0x20u | 0x80u);
    EXPECT_EQ(record.volt_warnings.min_volts, 118u);
    EXPECT_EQ(record.gear_indi_color, 0x0032CD32u);
    EXPECT_EQ(word(record, PITCH_CORRECTION_INDEX), 0x3F000000u);
    EXPECT_EQ(unit.serial, 0x12345678u);
    EXPECT_EQ(codecs::registrationText(record.registration), "G-ABCD");
}

TEST(SettingsFileWords, DifferencesAreDecidedOnTheWords) {
    Settings_t before{};
    codecs::joinRegistration(before.registration, "G-ABCD");
    before.units.units_value = 0x2u | 0x8u | 0x40u | 0x80u;
    setWord(before, ROLL_CORRECTION_INDEX, 0x7FC00000u); // NaN
    setWord(before, PITCH_CORRECTION_INDEX, 0x7FC00000u);
    Settings_t now = before;
    setWord(now, ROLL_CORRECTION_INDEX, 0x7F800000u);  // NaN turned infinite
    setWord(now, PITCH_CORRECTION_INDEX, 0x7FC00001u); // another NaN: other bits all the same
    now.units.units_value |= 0x00200000u;              // a bit no choice covers
    now.registration[11] = 'Z';                        // a byte beyond the text

    update_job::Before backup;
    backup.has_settings = true;
    backup.settings = before;
    std::vector<std::string> found;
    for (const settings_file::Difference &d : update_job::changes(backup, now)) {
        found.push_back(d.key.toStdString() + ": " + d.current.toStdString() + " -> " +
                        d.other.toStdString());
    }
    EXPECT_EQ(found, (std::vector<std::string>{
                         "units: 0x000000CA -> 0x002000CA",
                         "registration: G-ABCD -> G-ABCD (words 0x472D4142 0x43440000 "
                         "0x0000005A)",
                         "roll_correction: nan (word 0x7FC00000) -> inf (word 0x7F800000)",
                         "pitch_correction: nan (word 0x7FC00000) -> nan (word 0x7FC00001)"}));
    EXPECT_TRUE(update_job::changes(backup, before).empty());
}

} // namespace
