// The settings session and the rules that settings keep with each other, without widgets: the
// session against the simulated unit, the rules on their boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "capture.h"
#include "comms.h"
#include "get_set.h"
#include "settings_rules.h"
#include "settings_session.h"
#include "sim_unit.h"

namespace {

// A record whose V-speeds and voltages keep every rule (0 for what `zero` names).
Settings_t sound() {
    Settings_t r{};
    r.vspeeds = {40, 45, 50, 85, 120, 150, 65, 90};
    r.volt_warnings = {115, 150};
    r.volt_alerts = {110, 155};
    return r;
}

std::vector<std::string> texts(const Settings_t &r) {
    std::vector<std::string> out;
    for (const SettingsProblem &p : checkSettings(r)) {
        out.push_back(p.text);
    }
    return out;
}

int storeOk(CommsManager *comms, uint32_t crc) {
    return store_settings_exchange(comms, crc).outcome == StoreOutcome::Stored ? 0 : -1;
}

} // namespace

TEST(SettingsRules, EachRuleHoldsOnItsBoundaryAndBreaksPastIt) {
    EXPECT_TRUE(checkSettings(sound()).empty());
    struct Case {
        settings_struct_index index;
        uint32_t kept;   // on the boundary: no problem
        uint32_t broken; // one past it
        const char *text;
    };
    // From the sound record, one field at a time.
    const Case cases[] = {
        {VMIN_INDEX, 45, 46,
         "Vs0 (45) is below Vmin (46): the white arc would start below the lowest speed shown"},
        {VS1_INDEX, 45, 44,
         "Vs1 (44) is below Vs0 (45): the green arc would start below the white arc"},
        {VFE_INDEX, 46, 45, "Vfe (45) equals Vs0 (45): the white arc would run backwards"},
        {APPROACHSPEED_INDEX, 46, 45,
         "Vref (45) equals Vs0 (45): the approach speed would lie at or below the stall speed"},
        {VN0_INDEX, 51, 50, "Vn0 (50) equals Vs1 (50): the green arc would run backwards"},
        {VNE_INDEX, 121, 100, "Vne (100) is below Vn0 (120): the yellow arc would run backwards"},
        {VLO_INDEX, 150, 151,
         "Vne (150) is below Vlo (151): the gear could be operated above the never-exceed speed"},
        {MIN_VOLTS_ALERT_INDEX, 115, 116,
         "Min Volt Warning (11.5) is below Min Volt Alert (11.6): the low-voltage alert would come "
         "before the warning"},
        {MAX_VOLTS_INDEX, 116, 115,
         "Max Volt Warning (11.5) equals Min Volt Warning (11.5): every voltage would raise a "
         "warning"},
        {MAX_VOLTS_ALERT_INDEX, 150, 149,
         "Max Volt Alert (14.9) is below Max Volt Warning (15.0): the high-voltage alert would "
         "come before the warning"},
    };
    for (const Case &c : cases) {
        Settings_t r = sound();
        settings_set_value(&r, c.index, &c.kept);
        EXPECT_EQ(texts(r), std::vector<std::string>{}) << c.index << " at " << c.kept;
        settings_set_value(&r, c.index, &c.broken);
        EXPECT_EQ(texts(r), std::vector<std::string>{c.text}) << c.index << " at " << c.broken;
    }
    // Vfe above Vne breaks its own rule only.
    Settings_t r = sound();
    r.vspeeds.Vfe = 151;
    EXPECT_EQ(texts(r), std::vector<std::string>{"Vne (150) is below Vfe (151): the white arc "
                                                 "would reach into the red arc"});
    // The problem names its fields by label and value, the higher one first.
    ASSERT_EQ(checkSettings(r).size(), 1u);
    const SettingsProblem p = checkSettings(r).front();
    ASSERT_EQ(p.fields.size(), 2u);
    EXPECT_EQ(p.fields[0].label, "Vne");
    EXPECT_EQ(p.fields[0].value, "150");
    EXPECT_EQ(p.fields[1].index, VFE_INDEX);
}

TEST(SettingsRules, ZeroIsNotSetAndEveryBrokenRuleIsListed) {
    // A blank record, and any field left at 0, breaks nothing.
    EXPECT_TRUE(checkSettings(Settings_t{}).empty());
    Settings_t r = sound();
    r.vspeeds.Vs0 = 0; // the four rules with Vs0 are skipped
    r.vspeeds.Vmin = 200;
    r.volt_alerts.min_volts = 0;
    EXPECT_EQ(texts(r).size(), 0u);
    // Vs0 130 with Vne 50: every rule they break is listed (Vmin <= Vs0 and Vs1 < Vn0 hold).
    r = sound();
    r.vspeeds.Vs0 = 130;
    r.vspeeds.Vne = 50;
    EXPECT_EQ(texts(r).size(), 6u);
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        Settings_t &unit = sim::unit().settings();
        unit.crc32 = sim::SimUnit::storeChecksum(unit);
        captureStdout([&] { ASSERT_TRUE(comms.establish_connection()); });
    }
    CommsManager comms;
    SettingsSession session;
};

TEST_F(SessionTest, EditsRevertToTheUnitsValuesAndUpdateLeavesThemUnstored) {
    EXPECT_EQ(session.state(VNE_INDEX), FieldState::Unknown);
    EXPECT_FALSE(session.recordRead());
    captureStdout([&] { EXPECT_EQ(session.load(&comms).outcome, LoadOutcome::Loaded); });
    const Settings_t unit = sim::unit().settings();
    EXPECT_TRUE(session.recordRead());
    EXPECT_EQ(session.state(VNE_INDEX), FieldState::InStep);

    // Edits are marked and counted by form field: the registration's words are one.
    EXPECT_TRUE(session.edit(VNE_INDEX, 170));
    EXPECT_TRUE(session.edit(REGISTRATION_2_INDEX, 0x41424344u));
    EXPECT_TRUE(session.edit(REGISTRATION_3_INDEX, 0));
    EXPECT_FALSE(session.edit(SETTINGS_LAST_INDEX, 1));
    EXPECT_EQ(session.editedFieldCount(), 2);
    EXPECT_EQ(session.state(VNE_INDEX), FieldState::Edited);
    session.revertAll();
    EXPECT_FALSE(session.hasUnsentEdits());
    EXPECT_EQ(std::memcmp(&session.record(), &session.unitRecord(), sizeof(Settings_t)), 0);
    EXPECT_EQ(session.record().vspeeds.Vne, unit.vspeeds.Vne);

    // Update: the unit holds the value but has not stored it; Revert keeps what the unit took.
    session.edit(VNE_INDEX, 170);
    captureStdout([&] { EXPECT_EQ(session.sendEdits(&comms, {}).failed.size(), 0u); });
    EXPECT_EQ(session.state(VNE_INDEX), FieldState::SentNotStored);
    EXPECT_TRUE(session.hasUnstoredValues());
    session.edit(VNE_INDEX, 180);
    session.revertAll();
    EXPECT_EQ(session.record().vspeeds.Vne, 170);

    // A restart loses what was not stored: the field is no longer known on the unit.
    session.unitRestarted();
    EXPECT_EQ(session.state(VNE_INDEX), FieldState::Unknown);
    EXPECT_EQ(session.withoutUnknown(session.record()).vspeeds.Vne, 0);
}

TEST_F(SessionTest, SaveStoresWhatWasSentAndAFailedSendStaysEdited) {
    captureStdout([&] { session.load(&comms); });
    session.edit(VNE_INDEX, 170);
    captureStdout([&] { session.sendEdits(&comms, {}); });
    session.edit(VS0_INDEX, 44);
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::Nack, CANMSG_SET_USER_SETTING, 1));
    const Settings_t before = session.record();
    captureStdout([&] {
        EXPECT_EQ(session.save(&comms, before, {}, storeOk).outcome, SaveOutcome::SendFailed);
    });
    EXPECT_EQ(session.state(VS0_INDEX), FieldState::Edited);
    EXPECT_TRUE(session.hasUnstoredValues());
    sim::unit().clearFaults();
    captureStdout(
        [&] { EXPECT_EQ(session.save(&comms, before, {}, storeOk).outcome, SaveOutcome::Saved); });
    EXPECT_EQ(session.state(VS0_INDEX), FieldState::InStep);
    EXPECT_EQ(session.state(VNE_INDEX), FieldState::InStep);
    EXPECT_FALSE(session.hasUnstoredValues());
    EXPECT_EQ(sim::unit().settings().vspeeds.Vs0, 44);
}

TEST_F(SessionTest, ALoadKeepsWhatTheUnitTookUntilItIsStoredOrGoneFromTheUnit) {
    captureStdout([&] { session.load(&comms); });
    session.edit(VNE_INDEX, 170);
    session.edit(VS0_INDEX, 44);
    session.edit(REGISTRATION_1_INDEX, 0x44414243u);
    session.edit(REGISTRATION_2_INDEX, 0);
    captureStdout([&] { session.sendEdits(&comms, {}); });
    EXPECT_EQ(session.unstoredFieldCount(), 3);

    // The unit reads out what it took (its checksum word follows it): a load does not store it.
    captureStdout([&] { EXPECT_TRUE(session.load(&comms).crc_matches); });
    EXPECT_EQ(session.state(VNE_INDEX), FieldState::SentNotStored);
    EXPECT_EQ(session.unstoredFieldCount(), 3);

    // Vs0 changed on the unit since (another program): what Update sent is gone from it. A field
    // the load could not read is still taken to be there.
    sim::unit().settings().vspeeds.Vs0 = 47;
    const auto gets_so_far = static_cast<unsigned>(std::count_if(
        sim::unit().received().begin(), sim::unit().received().end(),
        [](const sim::Message &m) { return m.can_id == CANMSG_REQUEST_USER_SETTING; }));
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::Nack, CANMSG_REQUEST_USER_SETTING,
                                        gets_so_far + 4 + VNE_INDEX)); // after the header words
    captureStdout([&] { session.load(&comms); });
    sim::unit().clearFaults();
    EXPECT_EQ(session.state(VS0_INDEX), FieldState::InStep);
    EXPECT_EQ(session.state(VNE_INDEX), FieldState::Unread);
    EXPECT_EQ(session.unstoredFieldCount(), 2);

    // The unit restarted by itself, unseen: it reads out its stored record, which holds nothing
    // of what was sent.
    sim::unit().settings() = sim::unit().storedSettings();
    captureStdout([&] { session.load(&comms); });
    EXPECT_EQ(session.state(VNE_INDEX), FieldState::InStep);
    EXPECT_FALSE(session.hasUnstoredValues());
}
