// The field catalogue end to end: a record written to a settings file, read back, shown in the
// window's form and read back from the form gives the same words for every field.
#include <random>
#include <string>

#include "codecs.h"
#include "gui_window.h"
#include "settings_file.h"

using namespace gui_test;

namespace {

// A record of values the form can show: each field anywhere in its widget's range.
Settings_t formRecord(std::mt19937 &random) {
    const auto pick = [&](uint32_t low, uint32_t high) {
        return low + random() % (high - low + 1);
    };
    Settings_t record{};
    const uint32_t speed[] = {0x1u, 0x2u, 0x4u};
    record.units.units_value = speed[random() % 3] | (0x8u << (random() % 2)) |
                               (0x20u << (random() % 2)) | (0x80u << (random() % 2)) |
                               (random() % 2 == 0 ? 0u : 0x00A00000u);
    for (int i = VMIN_INDEX; i <= VLO_INDEX; ++i) {
        const uint32_t v = pick(0, 255);
        settings_set_value(&record, static_cast<settings_struct_index>(i), &v);
    }
    record.volt_warnings = {static_cast<uint16_t>(pick(50, 650)),
                            static_cast<uint16_t>(pick(50, 650))};
    record.volt_alerts = {static_cast<uint16_t>(pick(50, 650)),
                          static_cast<uint16_t>(pick(50, 650))};
    // A registration with or without a prefix of the table, in printable Latin-1 but 0xFF (the
    // number box holds one line: a control character is no registration the form shows).
    const std::string starts[] = {"", "G-", "N", "PH", "QQ", "D-E", "9A"};
    std::string text = starts[random() % 7];
    for (uint32_t n = pick(0, 11 - static_cast<uint32_t>(text.size())); n > 0; --n) {
        // The box gives a no-break space (0xA0) back as a space: it is skipped with 0x7F to 0x9F.
        const uint32_t c = pick(0x20, 0xFE - 0x22);
        text += static_cast<char>(c < 0x7F ? c : c + 0x22);
    }
    codecs::joinRegistration(record.registration, text);
    if (codecs::splitRegistration(record.registration).rest.empty()) {
        // A prefix alone ("G") leaves the number box empty, which the form stores as no
        // registration: the form cannot show it.
        codecs::joinRegistration(record.registration, "");
    }
    for (int i = SKY_COLOR_0_INDEX; i <= GEAR_INDI_COLOR_INDEX; ++i) {
        const uint32_t colour = codecs::colourWord(random());
        settings_set_value(&record, static_cast<settings_struct_index>(i), &colour);
    }
    record.backlight_brightness = pick(0, 21);
    record.text_bg_alpha = pick(0, 254);
    record.roll_correction = static_cast<float>(static_cast<int>(pick(0, 1800)) - 900) / 10.0f;
    record.pitch_correction = static_cast<float>(static_cast<int>(pick(0, 1800)) - 900) / 10.0f;
    record.use_mag_heading = random();
    return record;
}

} // namespace

class CatalogueTest : public WindowTest {};

TEST_F(CatalogueTest, ARecordThroughTheFileAndTheFormKeepsEveryWord) {
    open(false);
    std::mt19937 random(25);
    for (int n = 0; n < 200; ++n) {
        const Settings_t record = formRecord(random);
        Settings_t from_file{};
        QString error;
        ASSERT_TRUE(
            settings_file::read(settings_file::write(record, {}), &from_file, nullptr, &error))
            << error.toStdString();

        peer().session().replaceRecord(from_file);
        peer().updateUIFromConfig();
        peer().session().replaceRecord(Settings_t{}); // what the form shows is all that is left
        peer().record().units = record.units;         // except the bits no widget shows
        peer().record().use_mag_heading = record.use_mag_heading;
        peer().updateConfigFromUI();

        for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
            const auto index = static_cast<settings_struct_index>(i);
            ASSERT_EQ(settings_get_value(&peer().record(), index),
                      settings_get_value(&record, index))
                << "field " << i << " of record " << n << ": "
                << settings_file::write(record, {}).toStdString();
        }
        EXPECT_TRUE(window->changedValues().empty());
    }
}
