// The shapes the window keeps for the people and scripts that rely on them: the form as its table
// gives it, the slots in their order, and the source context of each specified log line (a line
// read by an installer or a support script names the function and file that wrote it). Every
// other test asserts what a person or the unit sees; this is the one place that pins where.
#include <QComboBox>
#include <QFileInfo>
#include <QFile>
#include <QFileDialog>
#include <QMetaMethod>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include "firmware.h"
#include "form_table.h"
#include "gui_window.h"
#include "registration_prefix.h"

using namespace gui_test;
using sim::Fault;
using sim::FaultKind;

namespace {

// The functions of the window's log contexts, as the compiler spells them.
const std::string kCtor = "MainWindow::MainWindow(QWidget*)";
const std::string kLoad = "void MainWindow::loadConfigFromDevice()";
const std::string kUpdate = "void MainWindow::onUpdateClicked()";
const std::string kSave = "void MainWindow::onSaveClicked()";
const std::string kStore = "int store_settings(CommsManager*, uint32_t)";
const std::string kUiFromConfig = "void MainWindow::updateUIFromConfig()";
const std::string kValueLocal =
    "void MainWindow::updateConfigValueLocal(settings_struct_index, uint32_t)";
const std::string kStartUpdate = "void MainWindow::onStartUpdateClicked()";
const std::string kReboot = "void MainWindow::onRebootClicked()";

// Every line of `log` whose text starts with `text` comes from `function` in mainwindow.cpp,
// and there is at least one.
void expectContext(const std::string &log, const std::string &text, const std::string &function) {
    int found = 0;
    for (const LogLine &l : logLines(log)) {
        if (l.text.compare(0, text.size(), text) != 0) {
            continue;
        }
        ++found;
        EXPECT_EQ(l.function, function) << l.text;
        EXPECT_EQ(QFileInfo(QString::fromStdString(l.file)).fileName(), "mainwindow.cpp") << l.text;
    }
    EXPECT_GT(found, 0) << "no line \"" << text << "\" in:\n" << log;
}

} // namespace

TEST_F(WindowTest, FormMatchesItsTableAndPrefixBoxHoldsTheTable) {
    open(false);
    std::string problems;
    for (const std::string &p : form_table::checkForm(window.get())) {
        problems += p + "\n";
    }
    EXPECT_EQ(problems, "");

    auto *prefix = w<QComboBox>("comboBox_reg_prefix");
    ASSERT_EQ(prefix->count(), 193);
    EXPECT_EQ(prefix->itemText(0), "N");
    EXPECT_EQ(prefix->itemText(49), "RDPL");
    EXPECT_EQ(prefix->itemText(192), "9Z");
    EXPECT_EQ(prefix->currentIndex(), 0);
    for (int i = 0; i < NUM_REGISTRATION_PREFIXES; ++i) {
        EXPECT_EQ(prefix->itemText(i), REGISTRATION_PREFIXES[i]) << "item " << i;
        EXPECT_FALSE(prefix->itemData(i).isValid()) << "item " << i;
    }
}

TEST(MainWindowSlots, AreTheFortyFourSlotsInTheirOrder) {
    const char *const expected[] = {"onSaveClicked()",
                                    "onLoadClicked()",
                                    "onBrowseClicked()",
                                    "onStartUpdateClicked()",
                                    "onSkyColorPickerClicked()",
                                    "onSkyColor1PickerClicked()",
                                    "onGroundColorPickerClicked()",
                                    "onGroundColor1PickerClicked()",
                                    "onApproachIndiColorPickerClicked()",
                                    "onAirplaneColorPickerClicked()",
                                    "onGreenArcColorPickerClicked()",
                                    "onYellowArcColorPickerClicked()",
                                    "onRedArcColorPickerClicked()",
                                    "onGearIndiColorPickerClicked()",
                                    "onUnitsChanged()",
                                    "onVminChanged(int)",
                                    "onVs0Changed(int)",
                                    "onVs1Changed(int)",
                                    "onVfeChanged(int)",
                                    "onVn0Changed(int)",
                                    "onVneChanged(int)",
                                    "onVrefChanged(int)",
                                    "onVloChanged(int)",
                                    "onMinVoltChanged(double)",
                                    "onMaxVoltChanged(double)",
                                    "onMinVoltAlertChanged(double)",
                                    "onMaxVoltAlertChanged(double)",
                                    "onRegistrationChanged()",
                                    "onSkyColor0Changed()",
                                    "onSkyColor1Changed()",
                                    "onGroundColor0Changed()",
                                    "onGroundColor1Changed()",
                                    "onApproachIndiColorChanged()",
                                    "onAirplaneColorChanged()",
                                    "onGreenArcColorChanged()",
                                    "onYellowArcColorChanged()",
                                    "onRedArcColorChanged()",
                                    "onGearIndiColorChanged()",
                                    "onBacklightBrightnessChanged(int)",
                                    "onTextBgAlphaChanged(int)",
                                    "onRollCorrectionChanged(double)",
                                    "onPitchCorrectionChanged(double)",
                                    "onUpdateClicked()",
                                    "onRebootClicked()"};
    const QMetaObject &mo = MainWindow::staticMetaObject;
    ASSERT_EQ(mo.methodCount() - mo.methodOffset(), 44);
    for (int i = 0; i < 44; ++i) {
        const QMetaMethod m = mo.method(mo.methodOffset() + i);
        EXPECT_EQ(m.methodSignature().toStdString(), expected[i]) << "slot " << i;
        EXPECT_EQ(m.methodType(), QMetaMethod::Slot) << expected[i];
        EXPECT_EQ(m.access(), QMetaMethod::Private) << expected[i];
        EXPECT_EQ(m.returnType(), QMetaType::Void) << expected[i];
    }
}

TEST_F(WindowTest, SpecifiedLogLinesComeFromTheirFunctionsWithoutAUnit) {
    open(false);
    expectContext(startup.log, "Failed to establish connection via USB HID or CAN FD", kCtor);
    const std::pair<const char *, std::string> buttons[] = {{"pushButton_load", kLoad},
                                                            {"pushButton_update", kUpdate},
                                                            {"pushButton_save", kSave},
                                                            {"pushButton_reboot", kReboot}};
    for (const auto &[button, function] : buttons) {
        const Output o = run([&] { w<QPushButton>(button)->click(); });
        expectContext(o.log, "No communication interface connected", function);
    }
    peer().firmwareFilePath() = "/nonexistent/firmware.bin";
    const Output o = run([&] { peer().startUpdate(); });
    expectContext(o.log, "Firmware update failed: CommsManager not connected", kStartUpdate);
}

TEST_F(WindowTest, SpecifiedLogLinesComeFromTheirFunctionsWithTheUnit) {
    open();
    expectContext(startup.log, "Created string:", kUiFromConfig);
    expectContext(startup.log, "Found prefix:", kUiFromConfig);

    // A load with an unread field, then one with an unread checksum.
    sim::unit().addFault(
        Fault::atRequest(FaultKind::NoReply, static_cast<unsigned>(requestCount()) + 4 + 7));
    Output o = run([&] { w<QPushButton>("pushButton_load")->click(); });
    expectContext(o.log, "Warning: Failed to read value for index 7 , setting to 0", kLoad);
    expectContext(o.log, "CRC mismatch: Calculated =", kLoad);
    ASSERT_TRUE(peer().comms()->bringInStep(USB_HID));
    sim::unit().onlyFault(
        Fault::atRequest(FaultKind::NoReply, static_cast<unsigned>(requestCount())));
    o = run([&] { w<QPushButton>("pushButton_load")->click(); });
    expectContext(o.log, "Error reading checksum value", kLoad);
    sim::unit().clearFaults();
    ASSERT_TRUE(peer().comms()->bringInStep(USB_HID));
    run([&] { w<QPushButton>("pushButton_load")->click(); });

    // An update the unit refuses, a save whose store it refuses, a record write with no field.
    sim::unit().onlyFault(Fault::on(FaultKind::Nack, CANMSG_SET_USER_SETTING, 0));
    w<QSpinBox>("spinBox_vne")->setValue(170);
    o = run([&] { w<QPushButton>("pushButton_update")->click(); });
    expectContext(o.log, "Failed to send value for index 6", kUpdate);
    sim::unit().onlyFault(Fault::on(FaultKind::Nack, CANMSG_SAVE_USER_SETTINGS, {}, 0));
    o = run([&] { w<QPushButton>("pushButton_save")->click(); });
    expectContext(o.log, "Flash erase failed", kStore);
    expectContext(o.log, "Error storing configuration to EEPROM", kSave);
    sim::unit().clearFaults();
    o = run([&] { peer().updateConfigValueLocal(SETTINGS_LAST_INDEX, 7); });
    expectContext(o.log, "Error setting value for index 31", kValueLocal);

    // A firmware update the unit refuses at once, then the reboot.
    QTemporaryDir dir;
    firmware_header_t header{};
    header.magic = 0x57464D45u;
    header.total_size = 70000;
    header.plaintext_size = header.encrypted_size = 64;
    header.offset = FW_HEADER_SIZE;
    const QString path = dir.filePath("efis.bin");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char *>(&header), sizeof(header));
        f.write(QByteArray(64, '\x5A'));
    }
    whenModal<QFileDialog>([path](QFileDialog *d) {
        d->selectFile(path);
        static_cast<QDialog *>(d)->accept();
    });
    w<QPushButton>("pushButton_browse")->click();
    w<QAction>("actionRevertEdits")->trigger();
    sim::unit().flash().setPartitionNack(true);
    answerBackupOffer(QMessageBox::No);
    o = run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    expectContext(o.log, "Starting firmware update with file:", kStartUpdate);
    expectContext(o.log, "Firmware update process finished", kStartUpdate);
    o = run([&] { w<QPushButton>("pushButton_reboot")->click(); });
    expectContext(o.log, "Reboot command sent successfully", kReboot);
}
