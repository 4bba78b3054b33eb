// Filling the form from the record and writing it back: voltages, colours, units, sliders,
// corrections and the registration split and join.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>

#include "gui_window.h"

using namespace gui_test;

namespace {

const char *const kUnitButtons[] = {"radioButton_mph",  "radioButton_knots", "radioButton_kph",
                                    "radioButton_feet", "radioButton_meter", "radioButton_degF",
                                    "radioButton_degC", "radioButton_inhg",  "radioButton_mbar"};

void setRegistration(Settings_t &record, const std::vector<unsigned char> &bytes) {
    std::memset(record.registration, 0, sizeof(record.registration));
    std::memcpy(record.registration, bytes.data(), bytes.size());
}

std::vector<unsigned char> registration(const Settings_t &record) {
    const auto *p = reinterpret_cast<const unsigned char *>(record.registration);
    return std::vector<unsigned char>(p, p + SETTINGS_REGISTRATION_LEN);
}

std::vector<unsigned char> padded(const std::string &text) {
    std::vector<unsigned char> bytes(text.begin(), text.end());
    bytes.resize(SETTINGS_REGISTRATION_LEN, 0);
    return bytes;
}

} // namespace

class MappingTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        open(false);
    }
};

TEST_F(MappingTest, VoltagesAreShownInVoltsAndStoredInTenths) {
    struct Case {
        const char *widget;
        settings_struct_index index;
        uint16_t stored;
        double shown;
        uint32_t back;
    };
    const Case cases[] = {
        {"min_volt_warn_value", MIN_VOLTS_INDEX, 125, 12.5, 125},
        {"max_volt_warn_value", MAX_VOLTS_INDEX, 148, 14.8, 148},
        {"min_volt_alert_value", MIN_VOLTS_ALERT_INDEX, 0, 5.0, 50},
        {"max_volt_alert_value", MAX_VOLTS_ALERT_INDEX, 700, 65.0, 650},
    };
    for (const Case &c : cases) {
        const uint32_t stored = c.stored;
        settings_set_value(&peer().record(), c.index, &stored);
    }
    peer().updateUIFromConfig();
    peer().updateConfigFromUI();
    for (const Case &c : cases) {
        EXPECT_DOUBLE_EQ(w<QDoubleSpinBox>(c.widget)->value(), c.shown) << c.widget;
        EXPECT_EQ(settings_get_value(&peer().record(), c.index), c.back) << c.widget;
    }
    // Every value the boxes can hold comes back as its exact number of tenths.
    auto *box = w<QDoubleSpinBox>("min_volt_warn_value");
    for (int tenths = 50; tenths <= 650; ++tenths) {
        box->setValue(tenths / 10.0);
        peer().updateConfigFromUI();
        ASSERT_EQ(peer().record().volt_warnings.min_volts, tenths);
    }
    // Only the box's own edit handler marked a field.
    EXPECT_EQ(window->changedValues(), std::set<settings_struct_index>{MIN_VOLTS_INDEX});
}

TEST_F(MappingTest, ColoursTravelThroughTheButtonsStyleSheets) {
    struct Case {
        const char *button;
        settings_struct_index index;
    };
    const Case cases[] = {{"color_picker_sky0", SKY_COLOR_0_INDEX},
                          {"color_picker_sky1", SKY_COLOR_1_INDEX},
                          {"color_picker_ground0", GROUND_COLOR_0_INDEX},
                          {"color_picker_ground1", GROUND_COLOR_1_INDEX},
                          {"color_picker_app_indi", APPROACH_COLOR_INDEX},
                          {"color_picker_airplane", AIRPLANE_COLOR_INDEX},
                          {"color_picker_green", GREEN_ARC_COLOR_INDEX},
                          {"color_picker_yellow", YELLOW_ARC_COLOR_INDEX},
                          {"color_picker_red", RED_ARC_COLOR_INDEX},
                          {"color_picker_gear", GEAR_INDI_COLOR_INDEX}};

    // No load yet: no style sheet, so saving keeps every colour word as it is.
    for (const Case &c : cases) {
        const uint32_t odd = 0x12345678u + c.index;
        settings_set_value(&peer().record(), c.index, &odd);
    }
    peer().updateConfigFromUI();
    for (const Case &c : cases) {
        EXPECT_EQ(settings_get_value(&peer().record(), c.index), 0x12345678u + c.index) << c.button;
    }

    // Each button shows the low 24 bits of its own word; saving writes them under 0xFF.
    for (const Case &c : cases) {
        const uint32_t word = 0x0000FF00u + (c.index - SKY_COLOR_0_INDEX); // sky 0: 0x0000FF00
        settings_set_value(&peer().record(), c.index, &word);
    }
    peer().updateUIFromConfig();
    peer().updateConfigFromUI();
    for (const Case &c : cases) {
        const QString name = QString("#00ff%1").arg(c.index - SKY_COLOR_0_INDEX, 2, 16, QChar('0'));
        EXPECT_EQ(w<QPushButton>(c.button)->styleSheet(), "background-color: " + name + ";")
            << c.button;
        EXPECT_EQ(settings_get_value(&peer().record(), c.index),
                  0xFF00FF00u + (c.index - SKY_COLOR_0_INDEX))
            << c.button;
    }
    EXPECT_TRUE(window->changedValues().empty());
}

TEST_F(MappingTest, UnitBitsCheckTheirRadioButtonsWithinEachGroup) {
    struct Case {
        uint32_t units;
        std::set<std::string> checked; // after filling the form, starting from the case before
        uint32_t saved;                // units word written back
    };
    const Case cases[] = {
        // knots, feet, celsius, inhg; bits above 8 are kept on save
        {0xABC00000u | 0x2u | 0x8u | 0x40u | 0x80u,
         {"radioButton_knots", "radioButton_feet", "radioButton_degC", "radioButton_inhg"},
         0xABC00000u | 0x2u | 0x8u | 0x40u | 0x80u},
        {0x1u | 0x10u | 0x20u | 0x100u,
         {"radioButton_mph", "radioButton_meter", "radioButton_degF", "radioButton_mbar"},
         0x1u | 0x10u | 0x20u | 0x100u},
        // no bit of any group: the buttons checked before stay checked and are saved
        {0x0u,
         {"radioButton_mph", "radioButton_meter", "radioButton_degF", "radioButton_mbar"},
         0x1u | 0x10u | 0x20u | 0x100u},
        // two bits of a group: the button set last (order mph, kph, knots, ...) wins
        {0x1u | 0x4u | 0x8u | 0x10u,
         {"radioButton_kph", "radioButton_meter", "radioButton_degF", "radioButton_mbar"},
         0x4u | 0x10u | 0x20u | 0x100u},
        {0x1u | 0x2u | 0x4u | 0x40u | 0x20u | 0x80u | 0x100u,
         {"radioButton_knots", "radioButton_meter", "radioButton_degC", "radioButton_mbar"},
         0x2u | 0x10u | 0x40u | 0x100u},
    };
    for (const Case &c : cases) {
        peer().record().units.units_value = c.units;
        peer().updateUIFromConfig();
        std::set<std::string> checked;
        for (const char *name : kUnitButtons) {
            if (w<QRadioButton>(name)->isChecked()) {
                checked.insert(name);
            }
        }
        EXPECT_EQ(checked, c.checked) << std::hex << c.units;
        peer().updateConfigFromUI();
        EXPECT_EQ(peer().record().units.units_value, c.saved) << std::hex << c.units;
    }
    EXPECT_TRUE(window->changedValues().empty());
}

TEST_F(MappingTest, SlidersAndCorrectionsAreBoundedByTheirWidgets) {
    struct Case {
        uint32_t brightness, alpha;
        float roll, pitch;
        int shown_brightness, shown_alpha;
        double shown_roll, shown_pitch;
    };
    const Case cases[] = {
        {15, 150, 1.5f, -2.5f, 15, 150, 1.5, -2.5},
        {30, 255, 100.0f, -100.0f, 21, 254, 90.0, -90.0},
        {0, 0x80000000u, 0.26f, 0.04f, 0, 0, 0.3, 0.0}, // negative as signed: the minimum
    };
    for (const Case &c : cases) {
        peer().record().backlight_brightness = c.brightness;
        peer().record().text_bg_alpha = c.alpha;
        peer().record().roll_correction = c.roll;
        peer().record().pitch_correction = c.pitch;
        peer().updateUIFromConfig();
        EXPECT_EQ(w<QSlider>("backlight_slider")->value(), c.shown_brightness);
        EXPECT_EQ(w<QSlider>("text_bg_alpha_slider")->value(), c.shown_alpha);
        EXPECT_DOUBLE_EQ(w<QDoubleSpinBox>("roll_corr_spinbox")->value(), c.shown_roll);
        EXPECT_DOUBLE_EQ(w<QDoubleSpinBox>("pitch_corr_spinbox")->value(), c.shown_pitch);
        peer().updateConfigFromUI();
        EXPECT_EQ(peer().record().backlight_brightness, static_cast<uint32_t>(c.shown_brightness));
        EXPECT_EQ(peer().record().text_bg_alpha, static_cast<uint32_t>(c.shown_alpha));
        EXPECT_EQ(peer().record().roll_correction, static_cast<float>(c.shown_roll));
        EXPECT_EQ(peer().record().pitch_correction, static_cast<float>(c.shown_pitch));
    }
    EXPECT_TRUE(window->changedValues().empty());
}

TEST_F(MappingTest, RegistrationIsSplitAtTheFirstMatchingPrefixAndJoinedBack) {
    struct Case {
        std::vector<unsigned char> stored;
        int prefix_item;
        const char *number;
        std::vector<std::string> logs; // of the split
        std::vector<unsigned char> saved;
    };
    const std::vector<unsigned char> erased(SETTINGS_REGISTRATION_LEN, 0xFF);
    std::vector<unsigned char> leading_zero = padded("");
    leading_zero[1] = 'G';
    const Case cases[] = {
        {padded("G-ABCD"),
         2,
         "-ABCD",
         {"Created string: \"G-ABCD\"", "Found prefix: \"G\""},
         padded("G-ABCD")},
        {padded("CC-ABC"),
         1,
         "C-ABC",
         {"Created string: \"CC-ABC\"", "Found prefix: \"C\""},
         padded("CC-ABC")},
        {padded("9A-XYZ"),
         18,
         "-XYZ",
         {"Created string: \"9A-XYZ\"", "Found prefix: \"9A\""},
         padded("9A-XYZ")},
        {padded("A9C123"),
         92,
         "123",
         {"Created string: \"A9C123\"", "Found prefix: \"A9C\""},
         padded("A9C123")},
        // no prefix of the table: shown whole with none chosen, and written back unchanged
        {padded("OO-ABC"),
         -1,
         "OO-ABC",
         {"Created string: \"OO-ABC\"", "Found prefix: \"\""},
         padded("OO-ABC")},
        {padded("QWERTYUIOPAS"),
         -1,
         "QWERTYUIOPA",
         {"Created string: \"QWERTYUIOPA\"", "Found prefix: \"\""},
         padded("QWERTYUIOPA")},
        // byte 11 and what follows a 0 or 0xFF byte are never part of the text
        {{'D', '-', 'E', 0xFF, 'X', 'Y', 0, 0, 0, 0, 0, 'Z'},
         4,
         "-E",
         {"Created string: \"D-E\"", "Found prefix: \"D\""},
         padded("D-E")},
        // Latin-1 above 0x7F is one character and one byte
        {{'F', '-', 0xC9, 'A', 0},
         3,
         "-\xC3\x89"
         "A",
         {"Created string: \"F-\xC3\x89"
          "A\"",
          "Found prefix: \"F\""},
         {'F', '-', 0xC9, 'A', 0, 0, 0, 0, 0, 0, 0, 0}},
        {erased, 0, "", {}, padded("")},
        {leading_zero, 0, "", {}, padded("")},
    };
    for (const Case &c : cases) {
        {
            // Start from another prefix, so that the split visibly sets it.
            const QSignalBlocker blocker(w<QComboBox>("comboBox_reg_prefix"));
            w<QComboBox>("comboBox_reg_prefix")->setCurrentIndex(100);
        }
        setRegistration(peer().record(), c.stored);
        const Output o = run([&] { peer().updateUIFromConfig(); });
        const std::string label(c.stored.begin(), c.stored.end());
        EXPECT_EQ(w<QComboBox>("comboBox_reg_prefix")->currentIndex(), c.prefix_item) << label;
        EXPECT_EQ(w<QPlainTextEdit>("text_registration_num")->toPlainText(),
                  QString::fromUtf8(c.number))
            << label;
        // The log handler writes the local 8-bit encoding: UTF-8 on Linux, the code page on
        // Windows.
        std::vector<std::string> logs;
        for (const std::string &line : c.logs) {
            logs.push_back(QString::fromUtf8(line.c_str()).toLocal8Bit().toStdString());
        }
        EXPECT_EQ(allLogTexts(o.log), logs) << label;
        peer().updateConfigFromUI();
        EXPECT_EQ(registration(peer().record()), c.saved) << label;
    }
    EXPECT_TRUE(window->changedValues().empty());
}

TEST_F(MappingTest, RegistrationJoinCutsConvertsAndClears) {
    auto *prefix = w<QComboBox>("comboBox_reg_prefix");
    auto *number = w<QPlainTextEdit>("text_registration_num");
    struct Case {
        const char *prefix;
        const char *number; // UTF-8
        std::vector<unsigned char> saved;
    };
    const Case cases[] = {
        {"PH", "123456789012", padded("PH123456789")},
        {"RDPL", "ABCDEFGHIJ", padded("RDPLABCDEFG")},
        {"OE",
         "\xC5\x81"
         "AB",
         padded("OE?AB")}, // outside Latin-1
        {"SE",
         "\xC3\xBF"
         "AB",
         {'S', 'E', 0xFF, 'A', 'B', 0, 0, 0, 0, 0, 0, 0}},
        {"EC", "", padded("")}, // an empty number stores nothing, whatever the prefix
    };
    peer().record().num_elements = SETTINGS_MAX_CRC_WORDS; // a checksum over the whole record
    for (const Case &c : cases) {
        setRegistration(peer().record(), padded("G-JUNK"));
        {
            const QSignalBlocker b1(prefix), b2(number);
            prefix->setCurrentText(c.prefix);
            number->setPlainText(QString::fromUtf8(c.number));
        }
        peer().updateConfigFromUI();
        EXPECT_EQ(registration(peer().record()), c.saved) << c.prefix << c.number;
        EXPECT_EQ(peer().record().crc32, sim::SimUnit::storeChecksum(peer().record()))
            << "checksum brought up to date";
    }
}

TEST_F(MappingTest, SwitchingTheSpeedUnitTogglesTwiceAndKeepsTheSpeeds) {
    peer().record().units.units_value = 0x2u | 0x8u | 0x40u | 0x80u; // knots
    peer().record().vspeeds = {40, 45, 50, 85, 120, 150, 65, 90};
    peer().updateUIFromConfig();
    ASSERT_TRUE(w<QRadioButton>("radioButton_knots")->isChecked());

    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (const char *name : kUnitButtons) {
        spies.push_back(
            std::make_unique<QSignalSpy>(w<QRadioButton>(name), &QRadioButton::toggled));
    }
    // Asked what becomes of the V-speeds, the person keeps the numbers.
    whenModal<QMessageBox>(
        [](QMessageBox *box) { box->findChild<QPushButton *>("keepSpeedsButton")->click(); });
    w<QRadioButton>("radioButton_mph")->click();

    // One toggle per button, each connected to onUnitsChanged once: two runs.
    int toggles = 0;
    for (const auto &spy : spies) {
        toggles += static_cast<int>(spy->count());
    }
    EXPECT_EQ(toggles, 2);
    EXPECT_EQ(spies[0]->count(), 1); // mph on
    EXPECT_EQ(spies[1]->count(), 1); // knots off
    EXPECT_EQ(peer().record().units.bits.is_mph, 1u);
    EXPECT_EQ(peer().record().units.bits.is_knots, 0u);
    EXPECT_EQ(peer().record().units.units_value, 0x1u | 0x8u | 0x40u | 0x80u);
    EXPECT_EQ(window->changedValues(), std::set<settings_struct_index>{UNITS_VALUE_INDEX});
    const vspeeds_t expected = {40, 45, 50, 85, 120, 150, 65, 90};
    EXPECT_EQ(std::memcmp(&peer().record().vspeeds, &expected, sizeof(expected)), 0);
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 150);
    EXPECT_EQ(w<QSpinBox>("spinBox_vmin")->value(), 40);
}
