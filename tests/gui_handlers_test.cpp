// The field edit handlers: each widget's stored form, the registration packing and the colour
// pickers with their dialog. Editing needs no unit.
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include "gui_window.h"

using namespace gui_test;

namespace {

using Marked = std::set<settings_struct_index>;

uint32_t bitsOf(float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof(bits));
    return bits;
}

uint32_t word(unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
    return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(b) << 16 |
           static_cast<uint32_t>(c) << 8 | d;
}

} // namespace

class HandlersTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        open(false);
    }
};

TEST_F(HandlersTest, NumberWidgetsStoreTheirFieldsStoredForm) {
    struct Case {
        settings_struct_index index;
        std::function<void()> edit;
        uint32_t stored;
    };
    auto spin = [this](const char *name, int v) {
        return [this, name, v] { w<QSpinBox>(name)->setValue(v); };
    };
    auto volts = [this](const char *name, double v) {
        return [this, name, v] { w<QDoubleSpinBox>(name)->setValue(v); };
    };
    auto slider = [this](const char *name, int v) {
        return [this, name, v] { w<QSlider>(name)->setValue(v); };
    };
    const Case cases[] = {
        {VMIN_INDEX, spin("spinBox_vmin", 41), 41},
        {VS0_INDEX, spin("spinBox_vs0", 46), 46},
        {VS1_INDEX, spin("spinBox_vs1", 51), 51},
        {VFE_INDEX, spin("spinBox_vfe", 86), 86},
        {VN0_INDEX, spin("spinBox_vn0", 121), 121},
        {VNE_INDEX, spin("spinBox_vne", 180), 180},
        {APPROACHSPEED_INDEX, spin("spinBox_vref", 66), 66},
        {VLO_INDEX, spin("spinBox_vlo", 255), 255},
        {MIN_VOLTS_INDEX, volts("min_volt_warn_value", 11.8), 118},
        {MAX_VOLTS_INDEX, volts("max_volt_warn_value", 14.2), 142},
        {MIN_VOLTS_ALERT_INDEX, volts("min_volt_alert_value", 10.7), 107},
        {MAX_VOLTS_ALERT_INDEX, volts("max_volt_alert_value", 65.0), 650},
        {BACKLIGHT_BRIGHTNESS_INDEX, slider("backlight_slider", 7), 7},
        {TEXT_BG_ALPHA_INDEX, slider("text_bg_alpha_slider", 254), 254},
        {ROLL_CORRECTION_INDEX, volts("roll_corr_spinbox", 1.5), bitsOf(1.5f)},
        {PITCH_CORRECTION_INDEX, volts("pitch_corr_spinbox", 0.1), bitsOf(0.1f)},
    };
    for (const Case &c : cases) {
        Marked marked = window->changedValues();
        marked.insert(c.index);
        c.edit();
        EXPECT_EQ(window->changedValues(), marked) << c.index;
        EXPECT_EQ(settings_get_value(&peer().record(), c.index), c.stored) << c.index;
    }
    EXPECT_EQ(peer().record().vspeeds.Vne, 180);
    EXPECT_EQ(peer().record().volt_warnings.min_volts, 118);
    EXPECT_EQ(peer().record().roll_correction, 1.5f);
    EXPECT_EQ(peer().record().pitch_correction, 0.1f);
    EXPECT_TRUE(sim::unit().received().empty());
}

TEST_F(HandlersTest, RegistrationIsPackedFirstCharacterMostSignificant) {
    auto *prefix = w<QComboBox>("comboBox_reg_prefix");
    auto *number = w<QPlainTextEdit>("text_registration_num");
    prefix->setCurrentIndex(7); // "PH", with an empty number: nothing stored, all marked
    EXPECT_EQ(window->changedValues(),
              (Marked{REGISTRATION_1_INDEX, REGISTRATION_2_INDEX, REGISTRATION_3_INDEX}));

    struct Case {
        const char *number; // UTF-8
        uint32_t words[3];
    };
    const Case cases[] = {
        {"XYZ", {word('P', 'H', 'X', 'Y'), word('Z', 0, 0, 0), 0}},
        {"123456789012",
         {word('P', 'H', '1', '2'), word('3', '4', '5', '6'), word('7', '8', '9', 0)}},
        // a character the unit cannot store is kept out, not sent as "?": Ł
        {"X\xC5\x81Z", {word('P', 'H', 'X', 'Z'), 0, 0}},
        // typed letters are taken in upper case: é as É
        {"X\xC3\xA9Z", {word('P', 'H', 'X', 0xC9), word('Z', 0, 0, 0), 0}},
        {"", {0, 0, 0}},
    };
    for (const Case &c : cases) {
        peer().session().revertAll();
        std::memset(peer().record().registration, 'J', sizeof(peer().record().registration));
        number->setPlainText(QString::fromUtf8(c.number));
        for (int g = 0; g < 3; ++g) {
            EXPECT_EQ(settings_get_value(&peer().record(), static_cast<settings_struct_index>(
                                                               REGISTRATION_1_INDEX + g)),
                      c.words[g])
                << c.number << " word " << g;
        }
        EXPECT_EQ(peer().record().registration[11], '\0') << c.number;
        EXPECT_EQ(window->changedValues(),
                  (Marked{REGISTRATION_1_INDEX, REGISTRATION_2_INDEX, REGISTRATION_3_INDEX}))
            << c.number;
    }

    // A change of prefix rewrites the registration as well.
    number->setPlainText("XYZ");
    prefix->setCurrentIndex(2); // "G"
    EXPECT_EQ(std::string(peer().record().registration, 12),
              std::string("GXYZ\0\0\0\0\0\0\0\0", 12));
}

TEST_F(HandlersTest, RecordWriterRefusesAnIndexThatReachesNoField) {
    const Settings_t before = peer().record();
    const Output o = run([&] { peer().updateConfigValueLocal(SETTINGS_LAST_INDEX, 7); });
    EXPECT_EQ(logTexts(o.log), std::vector<std::string>{"Error setting value for index 31"});
    EXPECT_TRUE(window->changedValues().empty());
    EXPECT_EQ(std::memcmp(&before, &peer().record(), sizeof(before)), 0);

    // An index already marked stays marked once; the last value counts.
    peer().updateConfigValueLocal(VNE_INDEX, 100);
    peer().updateConfigValueLocal(VNE_INDEX, 120);
    EXPECT_EQ(window->changedValues(), Marked{VNE_INDEX});
    EXPECT_EQ(peer().record().vspeeds.Vne, 120);
}

TEST_F(HandlersTest, ColourPickersOfferThePresetStartFromTheRecordAndStoreTheChoice) {
    struct Case {
        const char *button;
        const char *title;
        QColor preset;
        settings_struct_index index;
        QColor chosen;
    };
    const Case cases[] = {
        {"color_picker_sky0", "Select Sky Color 0", QColor(135, 206, 235), SKY_COLOR_0_INDEX,
         QColor(255, 0, 0)},
        {"color_picker_sky1", "Select Sky Color 1", QColor(135, 206, 235), SKY_COLOR_1_INDEX,
         QColor(1, 2, 3)},
        {"color_picker_ground0", "Select Ground Color 0", QColor(34, 139, 34), GROUND_COLOR_0_INDEX,
         QColor(10, 20, 30)},
        {"color_picker_ground1", "Select Ground Color 1", QColor(34, 139, 34), GROUND_COLOR_1_INDEX,
         QColor(200, 100, 50)},
        {"color_picker_app_indi", "Select Approach Indicator Color", QColor(255, 255, 0),
         APPROACH_COLOR_INDEX, QColor(0, 0, 255)},
        {"color_picker_airplane", "Select Airplane Color", QColor(255, 255, 255),
         AIRPLANE_COLOR_INDEX, QColor(255, 255, 255)},
        {"color_picker_green", "Select Green Arc Color", QColor(0, 255, 0), GREEN_ARC_COLOR_INDEX,
         QColor(0, 128, 0)},
        {"color_picker_yellow", "Select Yellow Arc Color", QColor(255, 255, 0),
         YELLOW_ARC_COLOR_INDEX, QColor(171, 205, 239)},
        {"color_picker_red", "Select Red Arc Color", QColor(255, 0, 0), RED_ARC_COLOR_INDEX,
         QColor(254, 1, 16)},
        {"color_picker_gear", "Select Gear Indicator Color", QColor(255, 255, 255),
         GEAR_INDI_COLOR_INDEX, QColor(0, 0, 0)},
    };
    for (const Case &c : cases) {
        // The start colour ignores the record's top byte.
        Marked marked = window->changedValues();
        marked.insert(c.index);
        const uint32_t start = 0x5A000000u | (0x102030u + c.index);
        settings_set_value(&peer().record(), c.index, &start);
        QColorDialog::setCustomColor(1, QColor(7, 7, 7));
        QString title;
        QColor opened_on;
        QColor slot1;
        whenModal<QColorDialog>([&](QColorDialog *d) {
            title = d->windowTitle();
            opened_on = d->currentColor();
            slot1 = QColorDialog::customColor(1);
            d->setCurrentColor(c.chosen);
            d->accept();
        });
        w<QPushButton>(c.button)->click();

        EXPECT_EQ(title, c.title);
        EXPECT_EQ(opened_on, QColor(QRgb(0x102030u + c.index))) << c.button;
        EXPECT_EQ(slot1, c.preset) << c.button;
        EXPECT_EQ(w<QPushButton>(c.button)->styleSheet(),
                  "background-color: " + c.chosen.name() + ";")
            << c.button;
        EXPECT_EQ(settings_get_value(&peer().record(), c.index), 0xFF000000u | c.chosen.rgb())
            << c.button;
        EXPECT_EQ(window->changedValues(), marked) << c.button;
    }
    EXPECT_EQ(w<QPushButton>("color_picker_sky0")->styleSheet(), "background-color: #ff0000;");
    EXPECT_EQ(peer().record().sky_color[0], 0xFFFF0000u);
    EXPECT_EQ(peer().record().airplane_color, 0xFFFFFFFFu);
}

TEST_F(HandlersTest, CancelledPickerChangesNothingButTheCustomColour) {
    peer().record().sky_color[0] = 0xFF123456u;
    const Settings_t before = peer().record();
    QColorDialog::setCustomColor(1, QColor(7, 7, 7));
    whenModal<QColorDialog>([](QColorDialog *d) {
        d->setCurrentColor(QColor(255, 0, 0));
        d->reject();
    });
    w<QPushButton>("color_picker_sky0")->click();
    EXPECT_EQ(std::memcmp(&before, &peer().record(), sizeof(before)), 0);
    EXPECT_EQ(w<QPushButton>("color_picker_sky0")->styleSheet(), "");
    EXPECT_TRUE(window->changedValues().empty());
    EXPECT_EQ(QColorDialog::customColor(1), QColor(135, 206, 235));
}

TEST_F(HandlersTest, ColourHandlerTakesTheColourTheButtonHoldsNotItsLook) {
    auto *button = w<QPushButton>("color_picker_sky0");
    peer().record().sky_color[0] = 0x11111111u;
    // A look set by other code is no colour of the button's: nothing is read back from it.
    button->setStyleSheet("background-color: #ABCDEF;");
    peer().skyColor0Changed();
    EXPECT_EQ(peer().record().sky_color[0], 0x11111111u);
    EXPECT_TRUE(window->changedValues().empty());

    // A colour shown by the form is the button's own, whatever its look says since.
    peer().record().sky_color[0] = 0x00ABCDEFu;
    peer().updateUIFromConfig();
    button->setStyleSheet("border: 1px;");
    peer().skyColor0Changed();
    EXPECT_EQ(peer().record().sky_color[0], 0xFFABCDEFu);
    EXPECT_EQ(window->changedValues(), Marked{SKY_COLOR_0_INDEX});
}
