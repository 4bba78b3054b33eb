// The restore after a firmware update, by the window and by efis-cli: the same backup and the
// same returned unit give the same values sent and the same record stored.
#include <QDialog>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstring>
#include <fstream>
#include <utility>

#include "cli_run.h"
#include "gui_window.h"

using namespace gui_test;

namespace {

// A 64-byte header over 200 payload bytes, erasing two blocks.
std::vector<uint8_t> smallImage() {
    firmware_header_t header;
    std::memset(&header, 0, sizeof(header));
    header.magic = 0x57464D45u;
    header.total_size = 70000;
    header.plaintext_size = 200;
    header.encrypted_size = 200;
    header.offset = FW_HEADER_SIZE;
    std::vector<uint8_t> image(sizeof(header) + 200, 0x5A);
    std::memcpy(image.data(), &header, sizeof(header));
    return image;
}

// The unit comes back from its reboot with settings the new firmware changed: a V-speed, a
// letter of the registration, the brightness, and a bit of the units word no choice shows.
void unitChangedByTheUpdate() {
    sim::RebootBehaviour behaviour;
    behaviour.away_looks = 1;
    Settings_t changed = sim::unit().storedSettings();
    changed.vspeeds.Vne = 99;
    changed.registration[3] = 'Q';
    changed.backlight_brightness = 3;
    changed.units.units_value ^= 1u << 20;
    changed.crc32 = sim::SimUnit::storeChecksum(changed);
    behaviour.settings_after = changed;
    sim::unit().setRebootBehaviour(behaviour);
}

// (field index, value) of each setting sent after the reboot.
std::vector<std::pair<int, uint32_t>> setsAfterTheReboot() {
    std::vector<std::pair<int, uint32_t>> sets;
    bool rebooted = false;
    for (const sim::Message &m : sim::unit().received()) {
        rebooted = rebooted || m.can_id == CANMSG_ENTER_BL;
        if (rebooted && m.can_id == CANMSG_SET_USER_SETTING && m.data.size() == 5) {
            uint32_t value = 0;
            std::memcpy(&value, &m.data[1], 4);
            sets.emplace_back(m.data[0], value);
        }
    }
    return sets;
}

class RestoreTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        image = dir.filePath("image.bin");
        const std::vector<uint8_t> bytes = smallImage();
        std::ofstream(image.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        sim::unit().flash().setPartition(partition_1);
    }
    QTemporaryDir dir;
    QString image;
};

} // namespace

TEST_F(RestoreTest, TheWindowAndEfisCliRestoreTheSameValues) {
    // The window: the backup exported, the reboot taken, Restore chosen.
    unitChangedByTheUpdate();
    open();
    whenModal<QFileDialog>([this](QFileDialog *d) {
        d->selectFile(image);
        static_cast<QDialog *>(d)->accept();
    });
    w<QPushButton>("pushButton_browse")->click();
    const QString window_backup = dir.filePath("window.json");
    confirmUpdate([window_backup] {
        whenModal<QMessageBox>([window_backup](QMessageBox *box) {
            box->button(QMessageBox::Yes)->click();
            whenModal<QFileDialog>([window_backup](QFileDialog *d) {
                d->selectFile(window_backup);
                static_cast<QDialog *>(d)->accept();
            });
        });
    });
    answerRebootOffer(QMessageBox::Yes);
    run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    whenModal<QDialog>(
        [](QDialog *d) { d->findChild<QPushButton *>("pushButton_restoreSettings")->click(); });
    for (int i = 0; i < 5 && !peer().comms()->isConnected(); ++i) {
        run([&] { peer().pollForUnit(); });
    }
    // Restore makes edits; Save stores them.
    EXPECT_EQ(window->changedValues().size(), 6u);
    run([&] { w<QPushButton>("pushButton_save")->click(); });
    ASSERT_EQ(status(), "Configuration saved to EEPROM successfully");
    const auto window_sets = setsAfterTheReboot();
    const Settings_t window_stored = sim::unit().storedSettings();
    window.reset();

    // efis-cli: the same unit, the same update.
    sim::reset();
    sim::unit().flash().setPartition(partition_1);
    unitChangedByTheUpdate();
    const CliRun r = cli({"flash", image.toStdString(), "--backup",
                          dir.filePath("cli.json").toStdString(), "--restore-settings"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    const auto cli_sets = setsAfterTheReboot();

    EXPECT_EQ(window_sets, cli_sets);
    EXPECT_EQ(window_sets.size(), 6u) << "Vne, brightness, the units word and the registration's "
                                         "three words";
    EXPECT_EQ(std::memcmp(&window_stored, &sim::unit().storedSettings(), sizeof(Settings_t)), 0);
    EXPECT_EQ(sim::unit().storedSettings().vspeeds.Vne, 150);
}
