// efis-cli over a unit that holds words beyond the form: its backup comes back, diff and import
// decide on the words, and set changes one field without touching the others.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <string>

#include "cli_run.h"
#include "get_set.h"
#include "sim_unit.h"

namespace {

void setWord(Settings_t &record, settings_struct_index index, uint32_t value) {
    settings_set_value(&record, index, &value);
}

// The unit holds a NaN roll, a voltage of 0 and units bits no choice covers, stored as it is.
void unitBeyondTheForm() {
    Settings_t &s = sim::unit().settings();
    setWord(s, ROLL_CORRECTION_INDEX, 0x7FC00000u);
    s.volt_warnings.min_volts = 0;
    s.units.units_value |= 0x00400000u;
    s.crc32 = sim::SimUnit::storeChecksum(s);
}

class CliWords : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        unitBeyondTheForm();
    }
    void TearDown() override { EXPECT_FALSE(sim::unit().corruptStoreSeen()); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(CliWords, ABackupOfWordsBeyondTheFormComesBackAsTheUnitHeldThem) {
    const Settings_t held = sim::unit().settings();
    const std::string file = dir.filePath("unit.json").toStdString();
    ASSERT_EQ(cli({"export", file}).status, CLI_OK);
    EXPECT_EQ(cli({"diff", file}).out, "no differences\n");

    // set changes the one field, and no word beyond the form is lost on the way.
    CliRun r = cli({"set", "vne=160"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 160);
    EXPECT_EQ(settings_get_value(&sim::unit().settings(), ROLL_CORRECTION_INDEX), 0x7FC00000u);
    EXPECT_EQ(sim::unit().settings().units.units_value, held.units.units_value);

    // An update turned the NaN infinite and cleared the bit: the comparison says so, by words.
    Settings_t &s = sim::unit().settings();
    setWord(s, ROLL_CORRECTION_INDEX, 0x7F800000u);
    s.units.units_value &= ~0x00400000u;
    s.crc32 = sim::SimUnit::storeChecksum(s);
    r = cli({"import", file, "--dry-run"});
    EXPECT_NE(r.out.find("roll_correction: inf (word 0x7F800000) -> nan (word 0x7FC00000)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("units: 0x"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("vne: 160 -> 150"), std::string::npos) << r.out;

    // The import sends the words and stores them: the unit holds its backup word for word.
    r = cli({"import", file});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        const auto index = static_cast<settings_struct_index>(i);
        EXPECT_EQ(settings_get_value(&sim::unit().settings(), index),
                  settings_get_value(&held, index))
            << "field " << i;
    }
    EXPECT_EQ(cli({"diff", file}).out, "no differences\n");
}
