// The window's start-up, with and without the unit.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>

#include "gui_window.h"

using namespace gui_test;

namespace {

bool allZero(const Settings_t &s) {
    const auto *p = reinterpret_cast<const unsigned char *>(&s);
    for (std::size_t i = 0; i < sizeof(s); ++i) {
        if (p[i] != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

TEST_F(WindowTest, StartUpWithoutUnitReportsTheFailureAndRunsNoSlot) {
    StatusRecorder recorder;
    open(false);
    EXPECT_EQ(
        recorder.messages,
        QStringList({"Initializing...",
                     "Failed to connect to EFIS via USB or CAN FD - please check connections"}));
    EXPECT_EQ(logTexts(startup.log),
              std::vector<std::string>{"Failed to establish connection via USB HID or CAN FD"});
    EXPECT_NE(peer().comms(), nullptr);
    // Filling the prefix box ran no handler: a record write would have set the checksum word.
    EXPECT_TRUE(window->changedValues().empty());
    EXPECT_TRUE(allZero(peer().record()));
    EXPECT_TRUE(sim::unit().received().empty());
    EXPECT_EQ(w<QComboBox>("comboBox_reg_prefix")->currentText(), "N");
}

TEST_F(WindowTest, StartUpWithUnitConnectsAndLoadsIntoTheForm) {
    StatusRecorder recorder;
    open();
    EXPECT_EQ(recorder.messages, QStringList({"Initializing...", "Connected via USB HID",
                                              "Configuration successfully loaded from device"}));
    EXPECT_TRUE(window->changedValues().empty());
    EXPECT_TRUE(logTexts(startup.log).empty());

    // The serial-number exchange, then the 35 reads: the header words, then every field.
    const auto &received = sim::unit().received();
    ASSERT_EQ(received.size(), 36u);
    EXPECT_EQ(received[0].can_id, static_cast<uint32_t>(CANMSG_WHOAMI));
    std::vector<int> indices;
    for (std::size_t i = 1; i < received.size(); ++i) {
        EXPECT_EQ(received[i].can_id, static_cast<uint32_t>(CANMSG_REQUEST_USER_SETTING));
        EXPECT_EQ(received[i].msg_len, 1);
        indices.push_back(received[i].data.at(0));
    }
    std::vector<int> expected = {252, 253, 254, 255};
    for (int i = 0; i < 31; ++i) {
        expected.push_back(i);
    }
    EXPECT_EQ(indices, expected);

    const Settings_t &unit = sim::unit().settings();
    EXPECT_EQ(peer().unitChecksum(), unit.crc32);
    EXPECT_EQ(std::memcmp(&peer().record(), &unit, sizeof(Settings_t)), 0);
    char line[64];
    std::snprintf(line, sizeof(line), "app: 0x%08X, device: 0x%08X \nCRC Check Passed.\n",
                  static_cast<unsigned>(unit.crc32), static_cast<unsigned>(unit.crc32));
    EXPECT_NE(startup.out.find(line), std::string::npos) << startup.out;

    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 150);
    EXPECT_DOUBLE_EQ(w<QDoubleSpinBox>("min_volt_warn_value")->value(), 11.5);
    EXPECT_EQ(w<QPushButton>("color_picker_sky0")->styleSheet(), "background-color: #87ceeb;");
    EXPECT_EQ(w<QComboBox>("comboBox_reg_prefix")->currentText(), "G");
    EXPECT_EQ(w<QPlainTextEdit>("text_registration_num")->toPlainText(), "-ABCD");
    EXPECT_TRUE(hasLog(startup.log, "Created string: \"G-ABCD\""));
    EXPECT_TRUE(hasLog(startup.log, "Found prefix: \"G\""));
    // The firmware tab starts in its no-file state here as well.
    EXPECT_TRUE(w<QPushButton>("pushButton_browse")->isEnabled());
    EXPECT_FALSE(w<QTextEdit>("text_firmware_file")->isEnabled());
    EXPECT_FALSE(w<QPushButton>("pushButton_start_update")->isEnabled());
    EXPECT_FALSE(w<QProgressBar>("progressBar_firmware")->isEnabled());
    EXPECT_TRUE(w<QPushButton>("pushButton_reboot")->isEnabled());
}
