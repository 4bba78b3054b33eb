// Settings files: the format's round trip and its refusals, and import and export in the window.
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QLabel>
#include <QTemporaryDir>

#include <cstring>

#include "gui_window.h"
#include "settings_file.h"

using namespace gui_test;

namespace {

// A record in which every user field holds something other than 0.
Settings_t fullRecord() {
    Settings_t record = sim::SimUnit::defaultSettings();
    record.roll_correction = 1.1f;
    record.pitch_correction = -0.30000001f;
    record.use_mag_heading = 1;
    record.sky_color[1] = 0x804682B4u; // a top byte other than the form's
    return record;
}

bool sameUserFields(const Settings_t &a, const Settings_t &b) {
    return std::memcmp(&a.units, &b.units, sizeof(Settings_t) - offsetof(Settings_t, units)) == 0;
}

// The file text of `record` with one settings entry set to `value`, or removed when undefined.
QByteArray withEntry(const Settings_t &record, const char *key, const QJsonValue &value) {
    QJsonObject root = QJsonDocument::fromJson(settings_file::write(record, {})).object();
    QJsonObject settings = root.value("settings").toObject();
    if (value.isUndefined()) {
        settings.remove(key);
    } else {
        settings.insert(key, value);
    }
    root.insert("settings", settings);
    return QJsonDocument(root).toJson();
}

} // namespace

TEST(SettingsFile, RoundTripKeepsEveryByteOfTheUserFields) {
    const Settings_t record = fullRecord();
    settings_file::UnitHeader unit;
    unit.has_serial = true;
    unit.serial = 0x12345678u;
    unit.magic = record.magic;
    unit.version = record.version;
    unit.num_elements = record.num_elements;
    const QByteArray text = settings_file::write(record, unit);

    Settings_t back;
    std::memset(&back, 0, sizeof(back));
    settings_file::UnitHeader read_unit;
    QString error;
    ASSERT_TRUE(settings_file::read(text, &back, &read_unit, &error)) << error.toStdString();
    EXPECT_TRUE(sameUserFields(record, back)) << text.toStdString();
    EXPECT_TRUE(read_unit.has_serial);
    EXPECT_EQ(read_unit.serial, 0x12345678u);
    EXPECT_EQ(read_unit.num_elements, record.num_elements);
    EXPECT_TRUE(text.contains("\"roll_correction\": 1.1")) << "the angle as the user knows it";
    EXPECT_TRUE(text.contains("\"speed_unit\": \"knots\""));
    EXPECT_TRUE(settings_file::differences(record, back).empty());
}

TEST(SettingsFile, EveryKindOfBadFileIsRefusedWholeWithItsReason) {
    const Settings_t record = fullRecord();
    const QByteArray good = settings_file::write(record, {});
    struct Case {
        QByteArray text;
        const char *message;
    };
    QByteArray newer = good;
    newer.replace("\"format_version\": 2", "\"format_version\": 3");
    QByteArray unknown = good;
    unknown.replace("\"vne\":", "\"vne_typo\": 1,\n        \"vne\":");
    const Case cases[] = {
        {withEntry(record, "vne", 300),
         "Field \"vne\": value 300 is not allowed; allowed: a whole number from 0 to 255"},
        {withEntry(record, "vne", "150"),
         "Field \"vne\": value \"150\" is not allowed; allowed: a whole number from 0 to 255"},
        {withEntry(record, "voltage_alert_max", 12.25),
         "Field \"voltage_alert_max\": value 12.25 is not allowed; allowed: volts from 5.0 to "
         "65.0 in steps of 0.1"},
        {withEntry(record, "speed_unit", "furlongs"),
         "Field \"speed_unit\": value \"furlongs\" is not allowed; allowed: one of \"mph\", "
         "\"knots\", \"kph\""},
        {withEntry(record, "registration", "ABCDEFGHIJKL"),
         "Field \"registration\": value \"ABCDEFGHIJKL\" is not allowed; allowed: text of at "
         "most 11 Latin-1 characters other than \u00FF"},
        // 0xFF would end the text when read back: "G-" where the file says "G-\u00FFX".
        {withEntry(record, "registration", QStringLiteral("G-\u00FFX")),
         "Field \"registration\": value \"G-\u00FFX\" is not allowed; allowed: text of at most "
         "11 Latin-1 characters other than \u00FF"},
        {withEntry(record, "sky_color_top", "blue"),
         "Field \"sky_color_top\": value \"blue\" is not allowed; allowed: a colour \"#RRGGBB\" "
         "or \"#AARRGGBB\""},
        {withEntry(record, "backlight_brightness", QJsonValue::Undefined),
         "Missing field \"backlight_brightness\" (a whole number from 0 to 21)"},
        {unknown, "Unknown key \"vne_typo\" in \"settings\""},
        {newer, "The file is in format version 3, newer than this tool reads (version 2): use a "
                "newer efis-config"},
        {good.left(good.size() / 2), nullptr},
        // Numbers far outside any range are refused before they are converted.
        {QByteArray(good).replace("\"num_elements\": 0", "\"num_elements\": 2.3e95"),
         "Unit field \"num_elements\": value 2.3e+95 is not a 32-bit word"},
        {QByteArray(good).replace("\"format_version\": 2", "\"format_version\": 2.8e85"),
         "The file is in format version 2.8e+85, newer than this tool reads (version 2): use a "
         "newer efis-config"},
        // A key named twice, in any object and however it is spelled, is never a quiet choice.
        {QByteArray(good).replace("\"vne\":", "\"v\\u006ee\": 99,\n        \"vne\":"),
         "Duplicate key \"vne\" in \"settings\""},
        {QByteArray(good).replace("\"magic\":", "\"magic\": \"0x1\", \"magic\":"),
         "Duplicate key \"magic\" in \"unit\""},
        {QByteArray(good).replace("\"format\":", "\"format\": 1, \"format\":"),
         "Duplicate key \"format\" in the file"},
    };
    for (const Case &c : cases) {
        Settings_t target = sim::SimUnit::defaultSettings();
        target.vspeeds.Vne = 77;
        const Settings_t before = target;
        QString error;
        EXPECT_FALSE(settings_file::read(c.text, &target, nullptr, &error)) << c.text.toStdString();
        if (c.message != nullptr) {
            EXPECT_EQ(error.toStdString(), c.message);
        } else {
            EXPECT_TRUE(error.startsWith("Not a settings file:")) << error.toStdString();
        }
        EXPECT_EQ(std::memcmp(&target, &before, sizeof(target)), 0) << error.toStdString();
    }
}

TEST_F(WindowTest, ImportShowsTheDifferencesAndMarksExactlyThoseFields) {
    open();
    QTemporaryDir dir;
    const QString path = dir.filePath("other-aircraft.json");
    Settings_t other = sim::unit().settings();
    other.vspeeds.Vne = 180;
    other.units.bits.is_knots = 0;
    other.units.bits.is_mph = 1;
    std::memcpy(other.registration, "D-EZZZ\0\0\0\0\0\0", SETTINGS_REGISTRATION_LEN);
    other.use_mag_heading = 1;
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(settings_file::write(other, {}));
    }
    const auto chooseFile = [&] {
        whenModal<QFileDialog>([&](QFileDialog *d) {
            d->selectFile(path);
            static_cast<QDialog *>(d)->accept();
        });
    };

    // Cancelled: the form and the record stay as they were.
    const Settings_t before = peer().record();
    QStringList rows;
    chooseFile();
    whenModal<QDialog>([&](QDialog *d) {
        auto *table = d->findChild<QTableWidget *>("tableWidget_importDifferences");
        for (int r = 0; table != nullptr && r < table->rowCount(); ++r) {
            rows << table->item(r, 0)->text() + ": " + table->item(r, 1)->text() + " -> " +
                        table->item(r, 2)->text();
        }
        d->reject();
    });
    window->findChild<QAction *>("actionImportSettings")->trigger();
    EXPECT_EQ(rows, QStringList({"Speed unit: knots -> mph", "Vne: 150 -> 180",
                                 "Registration: G-ABCD -> D-EZZZ",
                                 "Magnetic heading (not in the form): 0 -> 1"}));
    EXPECT_TRUE(window->changedValues().empty());
    EXPECT_EQ(std::memcmp(&peer().record(), &before, sizeof(before)), 0);
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 150);

    // Accepted: exactly the differing fields are marked, and Save stores them.
    chooseFile();
    whenModal<QDialog>([](QDialog *d) { d->accept(); });
    window->findChild<QAction *>("actionImportSettings")->trigger();
    EXPECT_EQ(window->changedValues(),
              (std::set<settings_struct_index>{UNITS_VALUE_INDEX, VNE_INDEX, REGISTRATION_1_INDEX,
                                               REGISTRATION_2_INDEX, REGISTRATION_3_INDEX,
                                               USE_MAG_INDEX}));
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 180);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 150) << "nothing is sent before Save";
    run([&] { w<QPushButton>("pushButton_save")->click(); });
    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    EXPECT_TRUE(sameUserFields(sim::unit().settings(), other));

    // Exported again, the form's settings read back as they are.
    const QString exported = dir.filePath("exported.json");
    whenModal<QFileDialog>([&](QFileDialog *d) {
        d->selectFile(exported);
        static_cast<QDialog *>(d)->accept();
    });
    window->findChild<QAction *>("actionExportSettings")->trigger();
    QFile f(exported);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << status().toStdString();
    Settings_t back = sim::unit().settings();
    settings_file::UnitHeader unit;
    ASSERT_TRUE(settings_file::read(f.readAll(), &back, &unit, nullptr));
    EXPECT_TRUE(sameUserFields(back, other));
    EXPECT_EQ(unit.serial, sim::SimUnit::DEFAULT_SERIAL);
}

TEST_F(WindowTest, ImportPreviewSaysWhatTheFormCannotShowAndWhoseFileItIs) {
    open();
    QTemporaryDir dir;
    const QString path = dir.filePath("another-unit.json");
    Settings_t other = sim::unit().settings();
    other.roll_correction = 0.25f;
    other.sky_color[0] = 0x80112233u;
    other.vspeeds.Vne = 100; // below Vn0 120
    settings_file::UnitHeader header;
    header.has_serial = true;
    header.serial = 0x0BADCAFEu;
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(settings_file::write(other, header));
    }
    whenModal<QFileDialog>([&](QFileDialog *d) {
        d->selectFile(path);
        static_cast<QDialog *>(d)->accept();
    });
    QString notes;
    whenModal<QDialog>([&](QDialog *d) {
        if (auto *label = d->findChild<QLabel *>("label_importNotes")) {
            notes = label->text();
        }
        d->accept();
    });
    window->findChild<QAction *>("actionImportSettings")->trigger();
    EXPECT_EQ(
        notes.split('\n'),
        QStringList({"This file was taken from the unit 0x0BADCAFE, not from the connected "
                     "unit 0x12345678.",
                     "Sky Upper: the form cannot show #80112233 exactly; #112233 will be "
                     "stored.",
                     "Roll Correction: the form cannot show 0.25 exactly; 0.3 will be stored.",
                     "Vne (100) is below Vn0 (120): the yellow arc would run backwards"}));
    // What the preview said is what the form holds.
    EXPECT_EQ(peer().record().sky_color[0], 0xFF112233u);
    EXPECT_EQ(peer().record().roll_correction, 0.3f);
}
