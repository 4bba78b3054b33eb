// Loads that the unit answers only in part, or too late, followed by Update and Save: the window
// never takes a late reply for another field's value, never saves a value it could not read as
// if the user had set it, and never stores a record under a checksum the unit does not hold.
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <cstring>

#include "gui_window.h"

using namespace gui_test;
using sim::Fault;
using sim::FaultKind;

namespace {

const char REGISTRATION[SETTINGS_REGISTRATION_LEN] = "D-EFGH12345";

class PartialLoadTest : public WindowTest {
protected:
    // Runs `action` with the request `offset` places after the next one answered late or not
    // at all. The link is brought in step first, so that the offset counts the action's own
    // requests only.
    Output withFault(FaultKind kind, unsigned offset, const char *button) {
        sim::unit().clearFaults();
        EXPECT_TRUE(peer().comms()->bringInStep(USB_HID));
        sim::unit().addFault(
            Fault::atRequest(kind, static_cast<unsigned>(requestCount()) + offset));
        Output o = run([&] { w<QPushButton>(button)->click(); });
        sim::unit().clearFaults();
        return o;
    }

    std::string unitRegistration() const {
        return std::string(sim::unit().settings().registration, SETTINGS_REGISTRATION_LEN);
    }
};

} // namespace

TEST_F(PartialLoadTest, LateRepliesNeitherShiftALoadNorCorruptASave) {
    std::memcpy(sim::unit().settings().registration, REGISTRATION, sizeof(REGISTRATION));
    sealUnitRecord();
    const Settings_t unit = sim::unit().settings();
    open();

    // A reply late at each of the 35 requests of a load: a field holds the unit's value or is
    // unknown, and the save after it keeps every setting as the unit holds it.
    for (unsigned late = 0; late < 35; ++late) {
        withFault(FaultKind::ReplyAfterNext, late, "pushButton_load");
        for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
            const auto index = static_cast<settings_struct_index>(i);
            if (late < 4 || static_cast<int>(late) - 4 != i) {
                EXPECT_EQ(settings_get_value(&peer().record(), index),
                          late < 4 ? 0u : settings_get_value(&unit, index))
                    << "field " << i << ", request " << late << " late";
            }
        }
        run([&] { w<QPushButton>("pushButton_save")->click(); });
        ASSERT_EQ(status(), "Configuration saved to EEPROM successfully") << late;
        ASSERT_EQ(std::memcmp(&sim::unit().settings().units, &unit.units,
                              sizeof(Settings_t) - offsetof(Settings_t, units)),
                  0)
            << "request " << late << " late";
    }

    // A reply late at each request of a save with an edit: whatever the unit stored, it stored
    // under a checksum of what it holds; the edit is stored by the next save.
    for (unsigned late = 0; late < 4; ++late) {
        w<QSpinBox>("spinBox_vne")->setValue(170 + static_cast<int>(late));
        withFault(FaultKind::ReplyAfterNext, late, "pushButton_save");
        EXPECT_FALSE(sim::unit().corruptStoreSeen()) << late;
        run([&] { w<QPushButton>("pushButton_save")->click(); });
        EXPECT_EQ(status(), "Configuration saved to EEPROM successfully") << late;
        EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 170 + late);
    }
    EXPECT_FALSE(sim::unit().corruptStoreSeen());
}

TEST_F(PartialLoadTest, ARegistrationReadInPartIsUnreadAndSavedOnlyWhenTypedAnew) {
    std::memcpy(sim::unit().settings().registration, REGISTRATION, sizeof(REGISTRATION));
    sealUnitRecord();
    open();
    auto *prefix = w<QComboBox>("comboBox_reg_prefix");
    auto *number = w<QPlainTextEdit>("text_registration_num");
    ASSERT_EQ(prefix->currentText(), "D");
    ASSERT_EQ(number->toPlainText(), "-EFGH12345");

    for (const settings_struct_index word :
         {REGISTRATION_1_INDEX, REGISTRATION_2_INDEX, REGISTRATION_3_INDEX}) {
        withFault(FaultKind::NoReply, 4 + word, "pushButton_load");
        EXPECT_EQ(number->toPlainText(), "") << word;
        EXPECT_TRUE(number->placeholderText().contains("could not be read")) << word;
        EXPECT_EQ(prefix->currentText(), "D") << word;

        // A prefix chosen over the empty box is no new registration.
        prefix->setCurrentText("G");
        EXPECT_TRUE(window->changedValues().empty()) << word;
        run([&] { w<QPushButton>("pushButton_save")->click(); });
        EXPECT_EQ(status(), "Configuration saved to EEPROM successfully") << word;
        EXPECT_EQ(unitRegistration(), std::string(REGISTRATION, sizeof(REGISTRATION))) << word;
        EXPECT_EQ(number->toPlainText(), "-EFGH12345") << word;
        EXPECT_EQ(number->placeholderText(), "") << word;
    }

    // Typed anew after such a load, the new registration is saved whole.
    withFault(FaultKind::NoReply, 4 + REGISTRATION_2_INDEX, "pushButton_load");
    prefix->setCurrentText("G");
    number->setPlainText("ABCDE");
    run([&] { w<QPushButton>("pushButton_save")->click(); });
    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    EXPECT_EQ(unitRegistration(), std::string("GABCDE\0\0\0\0\0\0", SETTINGS_REGISTRATION_LEN));
}

TEST_F(PartialLoadTest, UnitChoicesNotShownKeepTheUnitsBits) {
    open(); // the unit shows knots, feet, inHg and Celsius
    const units_t before = sim::unit().settings().units;
    ASSERT_TRUE(before.bits.is_knots && before.bits.is_feet && before.bits.is_inhg &&
                before.bits.is_celsius);

    // The units word unread: no choice is shown, and choosing a speed unit sends only that.
    withFault(FaultKind::NoReply, 4 + UNITS_VALUE_INDEX, "pushButton_load");
    for (const char *name : {"radioButton_mph", "radioButton_knots", "radioButton_feet",
                             "radioButton_degC", "radioButton_inhg"}) {
        EXPECT_FALSE(w<QRadioButton>(name)->isChecked()) << name;
    }
    w<QRadioButton>("radioButton_mph")->click();
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    EXPECT_EQ(status(), "Successfully sent 1 configuration value(s) to device");
    units_t expected = before;
    expected.bits.is_knots = 0;
    expected.bits.is_mph = 1;
    EXPECT_EQ(sim::unit().settings().units.units_value, expected.units_value);

    // The same through Save, with a pressure unit chosen.
    withFault(FaultKind::NoReply, 4 + UNITS_VALUE_INDEX, "pushButton_load");
    w<QRadioButton>("radioButton_mbar")->click();
    run([&] { w<QPushButton>("pushButton_save")->click(); });
    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    expected.bits.is_inhg = 0;
    expected.bits.is_mbar = 1;
    EXPECT_EQ(sim::unit().settings().units.units_value, expected.units_value);
    EXPECT_TRUE(w<QRadioButton>("radioButton_mph")->isChecked());
    EXPECT_TRUE(w<QRadioButton>("radioButton_mbar")->isChecked());
}
