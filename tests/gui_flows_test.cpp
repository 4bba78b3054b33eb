// Load, update and save against the simulated unit, the store exchange, and every action
// without a unit.
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextEdit>
#include <QtTest/QTest>

#include "gui_window.h"
#include "wire.h"

using namespace gui_test;
using sim::Fault;
using sim::FaultKind;

namespace {

using Indices = std::vector<int>;

// The field indices of the set requests among the given requests.
Indices setIndices(const std::vector<sim::Message> &sets) {
    Indices indices;
    for (const sim::Message &m : sets) {
        indices.push_back(m.data.at(0));
    }
    return indices;
}

// The value of a set request (index in byte 0, the value little-endian after it).
uint32_t setValueOf(const sim::Message &m) {
    (void)m.data.at(4); // a set request carries five bytes
    return wire::le32(&m.data[1]);
}

// The checksum the save printed ("New CRC %08X").
uint32_t printedCrc(const std::string &out) {
    const auto at = out.find("New CRC ");
    if (at == std::string::npos) {
        ADD_FAILURE() << "no New CRC line in " << out;
        return 0;
    }
    return static_cast<uint32_t>(std::stoul(out.substr(at + 8, 8), nullptr, 16));
}

std::string hexLine(uint32_t app, uint32_t device) {
    char line[64];
    std::snprintf(line, sizeof(line), "app: 0x%08X, device: 0x%08X \n", static_cast<unsigned>(app),
                  static_cast<unsigned>(device));
    return line;
}

} // namespace

TEST_F(WindowTest, LoadStopsAtAnUnreadableHeaderWord) {
    open();
    ASSERT_EQ(w<QSpinBox>("spinBox_vmin")->value(), 40);
    const Settings_t shown = sim::unit().settings();
    sim::unit().settings().vspeeds.Vmin = 99; // what a complete load would now show
    sealUnitRecord();
    const Settings_t &unit = sim::unit().settings();

    struct Case {
        const char *log;
        const char *status;
    };
    const Case cases[] = {
        {"Error reading checksum value", "Error: Failed to read checksum from device"},
        {"Error reading magic value", "Error: Failed to read magic number from device"},
        {"Error reading memory version value", "Error: Failed to read memory version from device"},
        {"Error reading num_elements value", "Error: Failed to read num_elements from device"},
    };
    for (unsigned k = 0; k < 4; ++k) {
        peer().updateConfigValueLocal(VNE_INDEX, 1); // the load empties the set even so
        sim::unit().clearFaults();
        // The last case's time-out left the link out of step: bring it back before counting.
        ASSERT_TRUE(peer().comms()->bringInStep(USB_HID));
        const std::size_t before = requestCount();
        sim::unit().addFault(
            Fault::atRequest(FaultKind::NoReply, static_cast<unsigned>(before) + k));
        answerEditsQuestion(QMessageBox::Discard);
        const Output o =
            run([&] { QTest::mouseClick(w<QPushButton>("pushButton_load"), Qt::LeftButton); });

        EXPECT_EQ(requestCount() - before, k + 1) << "header word " << k;
        EXPECT_EQ(logTexts(o.log), std::vector<std::string>{cases[k].log});
        EXPECT_EQ(status(), cases[k].status);
        EXPECT_TRUE(window->changedValues().empty());
        const uint32_t read[] = {unit.crc32, unit.magic, unit.version, unit.num_elements};
        const uint32_t held[] = {peer().record().crc32, peer().record().magic,
                                 peer().record().version, peer().record().num_elements};
        for (unsigned i = 0; i < 4; ++i) {
            EXPECT_EQ(held[i], i < k ? read[i] : 0u) << "header word " << i << ", failing " << k;
        }
        if (k > 0) {
            EXPECT_EQ(peer().unitChecksum(), unit.crc32);
        }
        Settings_t fields = peer().record();
        std::memset(&fields, 0, 16);
        Settings_t zero;
        std::memset(&zero, 0, sizeof(zero));
        EXPECT_EQ(std::memcmp(&fields, &zero, sizeof(zero)), 0) << "fields stay zero";
        // The form keeps the first load's values.
        EXPECT_EQ(w<QSpinBox>("spinBox_vmin")->value(), shown.vspeeds.Vmin);
        EXPECT_EQ(w<QPushButton>("color_picker_sky0")->styleSheet(), "background-color: #87ceeb;");
    }
}

TEST_F(WindowTest, LoadTakesWhiteAsAValueAndKeepsTheCrcWarningOfAFailedField) {
    sim::unit().settings().airplane_color = 0xFFFFFFFFu; // pure white as the form stores it
    sealUnitRecord();
    open();
    EXPECT_EQ(peer().record().airplane_color, 0xFFFFFFFFu);
    EXPECT_EQ(w<QPushButton>("color_picker_airplane")->styleSheet(), "background-color: #ffffff;");
    EXPECT_TRUE(logTexts(startup.log).empty());
    EXPECT_NE(startup.out.find("CRC Check Passed.\n"), std::string::npos);
    EXPECT_EQ(status(), "Configuration successfully loaded from device");

    // Field 7 unanswered: it loads as 0, the checksums differ and the warning stays.
    const Settings_t unit = sim::unit().settings();
    Settings_t expected = unit;
    expected.vspeeds.VRef = 0;
    const uint32_t calculated = EFIS_crc(reinterpret_cast<const uint32_t *>(&expected) + 1, 26);
    sim::unit().addFault(
        Fault::atRequest(FaultKind::NoReply, static_cast<unsigned>(requestCount()) + 4 + 7));
    QSignalSpy messages(window->statusBar(), &QStatusBar::messageChanged);
    const Output o = run([&] { w<QPushButton>("pushButton_load")->click(); });

    EXPECT_EQ(logTexts(o.log),
              (std::vector<std::string>{
                  "Warning: Failed to read value for index 7 , setting to 0",
                  "CRC mismatch: Calculated = \"" + QString::number(calculated, 16).toStdString() +
                      "\" Stored= \"" + QString::number(unit.crc32, 16).toStdString() + "\""}));
    EXPECT_EQ(peer().record().vspeeds.VRef, 0);
    EXPECT_EQ(w<QSpinBox>("spinBox_vref")->value(), 0);
    EXPECT_EQ(peer().record().airplane_color, 0xFFFFFFFFu);
    EXPECT_NE(o.out.find(hexLine(calculated, unit.crc32)), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("CRC Check Passed."), std::string::npos);
    ASSERT_EQ(messages.count(), 1);
    EXPECT_EQ(messages.at(0).at(0).toString(), "Warning: Configuration CRC verification failed");
    EXPECT_EQ(status(), "Warning: Configuration CRC verification failed");
    EXPECT_TRUE(window->changedValues().empty());
}

TEST_F(WindowTest, EveryActionWithoutAUnitShowsOnlyItsConnectionError) {
    open(false);
    const char *const not_connected =
        "Error: No communication interface connected (USB HID or CAN FD)";
    struct Case {
        const char *action;
        std::function<void()> act;
        const char *log;
        const char *status;
    };
    peer().firmwareFilePath() = "/nonexistent/firmware.bin";
    const Case cases[] = {
        {"load", [&] { w<QPushButton>("pushButton_load")->click(); },
         "No communication interface connected", not_connected},
        {"update, nothing edited", [&] { w<QPushButton>("pushButton_update")->click(); },
         "No communication interface connected", not_connected},
        {"update",
         [&] {
             w<QSpinBox>("spinBox_vne")->setValue(180);
             w<QPushButton>("pushButton_update")->click();
         },
         "No communication interface connected", not_connected},
        {"save", [&] { w<QPushButton>("pushButton_save")->click(); },
         "No communication interface connected", not_connected},
        {"reboot", [&] { w<QPushButton>("pushButton_reboot")->click(); },
         "No communication interface connected", not_connected},
        {"firmware update", [&] { peer().startUpdate(); },
         "Firmware update failed: CommsManager not connected",
         "Device not connected. Please connect to device first."},
    };
    for (const Case &c : cases) {
        const Output o = run(c.act);
        EXPECT_EQ(logTexts(o.log), std::vector<std::string>{c.log}) << c.action;
        EXPECT_EQ(status(), c.status) << c.action;
    }
    // The edit stays marked; nothing reached any unit and the firmware tab is as it was.
    EXPECT_EQ(window->changedValues(), std::set<settings_struct_index>{VNE_INDEX});
    EXPECT_TRUE(sim::unit().received().empty());
    EXPECT_TRUE(w<QPushButton>("pushButton_browse")->isEnabled());
    EXPECT_FALSE(w<QPushButton>("pushButton_start_update")->isEnabled());
    EXPECT_FALSE(w<QTextEdit>("text_firmware_file")->isEnabled());
}

TEST_F(WindowTest, UpdateSendsEachEditedFieldOnceInIndexOrderAndRetriesFailures) {
    open();
    // Fields 14, 0 and 9, in that order; then field 6 three times.
    whenModal<QColorDialog>([](QColorDialog *d) {
        d->setCurrentColor(QColor(1, 2, 3));
        d->accept();
    });
    w<QPushButton>("color_picker_sky0")->click();
    whenModal<QMessageBox>(
        [](QMessageBox *box) { box->findChild<QPushButton *>("keepSpeedsButton")->click(); });
    w<QRadioButton>("radioButton_mph")->click();
    w<QDoubleSpinBox>("min_volt_warn_value")->setValue(12.3);
    for (int v : {140, 150, 160}) {
        w<QSpinBox>("spinBox_vne")->setValue(v);
    }
    std::size_t from = requestCount();
    w<QPushButton>("pushButton_update")->click();
    const auto sets = requests(CANMSG_SET_USER_SETTING, from);
    EXPECT_EQ(setIndices(sets), (Indices{0, 6, 9, 14}));
    ASSERT_EQ(sets.size(), 4u);
    EXPECT_EQ(setValueOf(sets[1]), 160u);
    EXPECT_EQ(setValueOf(sets[3]), 0xFF010203u);
    EXPECT_EQ(status(), "Successfully sent 4 configuration value(s) to device");
    EXPECT_TRUE(window->changedValues().empty());
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 160);
    EXPECT_EQ(sim::unit().settings().volt_warnings.min_volts, 123);

    // The unit refuses the second of three: it stays marked and goes again alone.
    w<QSpinBox>("spinBox_vmin")->setValue(41);
    w<QSpinBox>("spinBox_vs0")->setValue(46);
    w<QSpinBox>("spinBox_vs1")->setValue(51);
    sim::unit().addFault(Fault::on(FaultKind::Nack, CANMSG_SET_USER_SETTING, 5));
    Output o = run([&] { w<QPushButton>("pushButton_update")->click(); });
    EXPECT_EQ(status(), "Sent 2 value(s), 1 failed");
    EXPECT_EQ(logTexts(o.log), std::vector<std::string>{"Failed to send value for index 2"});
    EXPECT_EQ(window->changedValues(), std::set<settings_struct_index>{VS0_INDEX});
    EXPECT_EQ(sim::unit().settings().vspeeds.Vs0, 45);

    from = requestCount();
    w<QPushButton>("pushButton_update")->click();
    EXPECT_EQ(setIndices(requests(CANMSG_SET_USER_SETTING, from)), Indices{2});
    EXPECT_EQ(status(), "Successfully sent 1 configuration value(s) to device");
    EXPECT_EQ(sim::unit().settings().vspeeds.Vs0, 46);

    from = requestCount();
    w<QPushButton>("pushButton_update")->click();
    EXPECT_EQ(status(), "No changes to send");
    EXPECT_EQ(requestCount(), from);
}

TEST_F(WindowTest, SaveSendsWhatTheUnitLacksThenStoresUnderAMatchingChecksum) {
    // Values the form cannot show as they are: they change when the form is copied back.
    sim::unit().settings().volt_alerts.min_volts = 0;
    sim::unit().settings().text_bg_alpha = 255;
    sealUnitRecord();
    open();
    w<QSpinBox>("spinBox_vne")->setValue(180);
    w<QDoubleSpinBox>("min_volt_warn_value")->setValue(12.3);
    w<QComboBox>("comboBox_reg_prefix")->setCurrentIndex(7); // "PH"
    w<QPlainTextEdit>("text_registration_num")->setPlainText("XYZ");

    const std::size_t from = requestCount();
    const Output o = run([&] { w<QPushButton>("pushButton_save")->click(); });

    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    EXPECT_EQ(setIndices(requests(CANMSG_SET_USER_SETTING, from)),
              (Indices{6, 9, 11, 12, 13, 27, 29}));
    const auto &received = sim::unit().received();
    ASSERT_EQ(received.size(), from + 10);
    EXPECT_EQ(received[from + 7].data, std::vector<uint8_t>{254});
    EXPECT_EQ(received[from + 8].data, std::vector<uint8_t>{255});
    const uint32_t crc = printedCrc(o.out);
    const sim::Message &store = received[from + 9];
    EXPECT_EQ(store.can_id, static_cast<uint32_t>(CANMSG_SAVE_USER_SETTINGS));
    EXPECT_EQ(store.msg_len, 4);
    EXPECT_EQ(store.data, (std::vector<uint8_t>{
                              static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8),
                              static_cast<uint8_t>(crc >> 16), static_cast<uint8_t>(crc >> 24)}));
    EXPECT_EQ(sim::unit().outputReports().back(),
              (std::vector<uint8_t>{0x05, 0x79, 0x03, 0x00, 0x00, 0x04, store.data[0],
                                    store.data[1], store.data[2], store.data[3]}));
    EXPECT_EQ(logTexts(o.log),
              (std::vector<std::string>{"Flash erase succeeded", "Received ACK/NACK frame"}));

    // The unit holds the edited and the adjusted values under the checksum it was sent.
    const Settings_t &unit = sim::unit().settings();
    EXPECT_EQ(unit.vspeeds.Vne, 180);
    EXPECT_EQ(unit.volt_warnings.min_volts, 123);
    EXPECT_EQ(std::string(unit.registration, 12), std::string("PHXYZ\0\0\0\0\0\0\0", 12));
    EXPECT_EQ(unit.volt_alerts.min_volts, 50);
    EXPECT_EQ(unit.text_bg_alpha, 254u);
    ASSERT_EQ(sim::unit().stores().size(), 1u);
    EXPECT_EQ(sim::unit().stores()[0].crc, crc);
    EXPECT_FALSE(sim::unit().stores()[0].corrupt);
    EXPECT_EQ(unit.crc32, crc);
    EXPECT_EQ(peer().record().crc32, 0u);
    EXPECT_EQ(peer().record().magic, 0x5F57565Au);
    EXPECT_TRUE(window->changedValues().empty());

    w<QPushButton>("pushButton_update")->click();
    EXPECT_EQ(status(), "No changes to send");
}

TEST_F(WindowTest, SaveStoresNothingWhileAFieldCannotBeSent) {
    open();
    w<QSpinBox>("spinBox_vne")->setValue(180);
    w<QSpinBox>("spinBox_vlo")->setValue(100);
    sim::unit().addFault(Fault::on(FaultKind::Nack, CANMSG_SET_USER_SETTING, 0));
    std::size_t from = requestCount();
    const Output o = run([&] { w<QPushButton>("pushButton_save")->click(); });
    EXPECT_EQ(status(), "Error: 1 value(s) could not be sent; settings not saved");
    EXPECT_EQ(logTexts(o.log), std::vector<std::string>{"Failed to send value for index 6"});
    EXPECT_EQ(setIndices(requests(CANMSG_SET_USER_SETTING, from)), (Indices{6, 8}));
    EXPECT_EQ(requestCount(), from + 2) << "no header read, no store";
    EXPECT_EQ(o.out.find("New CRC"), std::string::npos);
    EXPECT_EQ(window->changedValues(), std::set<settings_struct_index>{VNE_INDEX});
    EXPECT_EQ(sim::unit().settings().vspeeds.Vlo, 100);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 150);
    EXPECT_TRUE(sim::unit().stores().empty());

    from = requestCount();
    w<QPushButton>("pushButton_save")->click();
    EXPECT_EQ(setIndices(requests(CANMSG_SET_USER_SETTING, from)), Indices{6});
    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 180);
    EXPECT_EQ(sim::unit().stores().size(), 1u);
}

// A field the last load could not read is not known to match the unit, whatever the form shows:
// the save reads it again and keeps the unit's value, so that the unit stores what the checksum
// is computed over and no setting that nobody edited is overwritten.
TEST_F(WindowTest, SaveReadsAgainTheFieldsTheLoadCouldNotRead) {
    sim::unit().settings().roll_correction = 1.5f; // the form shows 0.0 after a failed read
    sim::unit().settings().use_mag_heading = 1;    // no widget shows it
    sealUnitRecord();
    const Settings_t unit_before = sim::unit().settings();
    open();
    const auto loadFailingAt = [&](unsigned request) {
        sim::unit().addFault(
            Fault::atRequest(FaultKind::NoReply, static_cast<unsigned>(requestCount()) + request));
        run([&] { w<QPushButton>("pushButton_load")->click(); });
    };
    loadFailingAt(4 + ROLL_CORRECTION_INDEX);
    ASSERT_EQ(peer().record().roll_correction, 0.0f);
    ASSERT_TRUE(window->changedValues().empty());

    // One field unknown, one edited.
    w<QSpinBox>("spinBox_vne")->setValue(180);
    std::size_t from = requestCount();
    Output o = run([&] { w<QPushButton>("pushButton_save")->click(); });
    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    const auto &received = sim::unit().received();
    ASSERT_GE(received.size(), from + 2);
    EXPECT_EQ(received[from].can_id, static_cast<uint32_t>(CANMSG_REQUEST_USER_SETTING));
    EXPECT_EQ(received[from].data, std::vector<uint8_t>{ROLL_CORRECTION_INDEX});
    EXPECT_EQ(setIndices(requests(CANMSG_SET_USER_SETTING, from)), Indices{VNE_INDEX});
    EXPECT_EQ(sim::unit().settings().roll_correction, 1.5f);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 180);
    EXPECT_EQ(w<QDoubleSpinBox>("roll_corr_spinbox")->value(), 1.5);
    ASSERT_EQ(sim::unit().stores().size(), 1u);
    EXPECT_FALSE(sim::unit().stores()[0].corrupt);
    // No read or send failed: only the store exchange's lines.
    EXPECT_EQ(logTexts(o.log),
              (std::vector<std::string>{"Flash erase succeeded", "Received ACK/NACK frame"}));

    // Read once, it is known: the next save neither reads nor sends a field.
    from = requestCount();
    run([&] { w<QPushButton>("pushButton_save")->click(); });
    EXPECT_TRUE(requests(CANMSG_SET_USER_SETTING, from).empty());
    EXPECT_EQ(requests(CANMSG_REQUEST_USER_SETTING, from).size(), 2u) << "version, element count";
    EXPECT_EQ(sim::unit().stores().size(), 2u);

    // A load that ends at a header word leaves every field unknown, and the form shows what the
    // unit no longer holds: the save keeps the unit's values of every field but the edited one.
    sim::unit().settings().vspeeds.Vlo = 77;
    sealUnitRecord();
    loadFailingAt(2);
    ASSERT_EQ(status(), "Error: Failed to read memory version from device");
    w<QSpinBox>("spinBox_vs0")->setValue(44);
    from = requestCount();
    run([&] { w<QPushButton>("pushButton_save")->click(); });
    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    EXPECT_EQ(requests(CANMSG_REQUEST_USER_SETTING, from).size(), 30u + 2u);
    EXPECT_EQ(setIndices(requests(CANMSG_SET_USER_SETTING, from)), Indices{VS0_INDEX});
    Settings_t expected = unit_before;
    expected.vspeeds.Vne = 180;
    expected.vspeeds.Vlo = 77;
    expected.vspeeds.Vs0 = 44;
    const Settings_t &unit = sim::unit().settings();
    EXPECT_EQ(
        std::memcmp(&unit.units, &expected.units, sizeof(Settings_t) - offsetof(Settings_t, units)),
        0);
    EXPECT_EQ(w<QSpinBox>("spinBox_vlo")->value(), 77);
    ASSERT_EQ(sim::unit().stores().size(), 3u);
    EXPECT_FALSE(sim::unit().stores()[2].corrupt);

    // Without the unit's value of such a field nothing is sent and nothing is stored.
    loadFailingAt(4 + PITCH_CORRECTION_INDEX);
    w<QSpinBox>("spinBox_vs0")->setValue(46);
    sim::unit().addFault(
        Fault::atRequest(FaultKind::NoReply, static_cast<unsigned>(requestCount())));
    from = requestCount();
    o = run([&] { w<QPushButton>("pushButton_save")->click(); });
    EXPECT_EQ(status(), "Error: 1 value(s) could not be read; settings not saved");
    EXPECT_EQ(logTexts(o.log), std::vector<std::string>{"Failed to read value for index 26"});
    EXPECT_EQ(requestCount(), from + 1);
    EXPECT_EQ(window->changedValues(), std::set<settings_struct_index>{VS0_INDEX});
    EXPECT_EQ(sim::unit().stores().size(), 3u);
}

TEST_F(WindowTest, SaveReportsEveryFailureOfItsReadsAndOfTheStoreExchange) {
    open();
    // An edit is sent before the reads of every save; a save that fails after it keeps the edit.
    w<QSpinBox>("spinBox_vne")->setValue(180);
    struct Case {
        const char *what;
        std::function<Fault(unsigned next_request)> fault;
        std::vector<std::string> store_log;
        std::vector<std::string> save_log;
        const char *status;
    };
    auto replaced = [](int reply) {
        Fault f = Fault::on(FaultKind::Replace, CANMSG_SAVE_USER_SETTINGS, {}, reply);
        f.replacement.can_id = CANMSG_ACK;
        f.replacement.msg_len = 0;
        return f;
    };
    const char *const eeprom = "Error: Failed to store configuration to EEPROM";
    const Case cases[] = {
        {"version unreadable",
         [](unsigned n) { return Fault::atRequest(FaultKind::NoReply, n + 1); },
         {},
         {"Error reading memory version value"},
         "Error: Failed to read memory version from device"},
        {"element count unreadable",
         [](unsigned n) { return Fault::atRequest(FaultKind::NoReply, n + 2); },
         {},
         {"Error reading num_elements value"},
         "Error: Failed to read num_elements from device"},
        {"599",
         [](unsigned) { return Fault::on(FaultKind::Nack, CANMSG_SAVE_USER_SETTINGS, {}, 0); },
         {"Flash erase failed"},
         {"Error storing configuration to EEPROM"},
         eeprom},
        {"598 then nothing",
         [](unsigned) { return Fault::on(FaultKind::NoReply, CANMSG_SAVE_USER_SETTINGS, {}, 1); },
         {"Flash erase succeeded", "Timeout waiting for ACK/NACK frame"},
         {"Error storing configuration to EEPROM"},
         eeprom},
        {"598 then 596",
         [](unsigned) { return Fault::on(FaultKind::Nack, CANMSG_SAVE_USER_SETTINGS, {}, 1); },
         {"Flash erase succeeded", "Unexpected ACK/NACK frame, CAN ID: \"254\""},
         {"Error storing configuration to EEPROM"},
         eeprom},
        {"no reply",
         [](unsigned) { return Fault::on(FaultKind::NoReply, CANMSG_SAVE_USER_SETTINGS); },
         {"Timeout waiting for erase status frame"},
         {"Error storing configuration to EEPROM"},
         eeprom},
        {"597 first",
         [&](unsigned) { return replaced(0); },
         {"Unexpected erase status frame, CAN ID: \"255\""},
         {"Error storing configuration to EEPROM"},
         eeprom},
    };
    for (const Case &c : cases) {
        sim::unit().clearFaults();
        ASSERT_TRUE(peer().comms()->bringInStep(USB_HID)) << c.what; // after the last time-out
        sim::unit().onlyFault(c.fault(static_cast<unsigned>(requestCount())));
        const Output o = run([&] { w<QPushButton>("pushButton_save")->click(); });
        // The store exchange's lines, then the save's.
        std::vector<std::string> lines = c.store_log;
        lines.insert(lines.end(), c.save_log.begin(), c.save_log.end());
        EXPECT_EQ(logTexts(o.log), lines) << c.what;
        EXPECT_EQ(status(), c.status) << c.what;
        EXPECT_EQ(window->changedValues(), std::set<settings_struct_index>{VNE_INDEX}) << c.what;
    }
    sim::unit().clearFaults();
    w<QPushButton>("pushButton_save")->click();
    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    EXPECT_TRUE(window->changedValues().empty());
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 180);
}

TEST_F(WindowTest, StoreSettingsNeedsAConnectionAndOnlyTheReplyIdentifiers) {
    open();
    EXPECT_EQ(store_settings(nullptr, 1), -1);
    // Replies with other lengths and data than the unit's own are accepted by identifier.
    Fault erase = Fault::on(FaultKind::Replace, CANMSG_SAVE_USER_SETTINGS, {}, 0);
    erase.replacement.can_id = CANMSG_MX25_ACK;
    erase.replacement.msg_len = 0;
    Fault ack = Fault::on(FaultKind::Replace, CANMSG_SAVE_USER_SETTINGS, {}, 1);
    ack.replacement.can_id = CANMSG_ACK;
    ack.replacement.msg_len = 2;
    ack.replacement.data = {0x00, 0x00};
    sim::unit().addFault(erase);
    sim::unit().addFault(ack);
    const uint32_t crc = sim::SimUnit::storeChecksum(sim::unit().settings());
    int result = -2;
    const Output o = run([&] { result = store_settings(peer().comms(), crc); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(logTexts(o.log),
              (std::vector<std::string>{"Flash erase succeeded", "Received ACK/NACK frame"}));
    ASSERT_EQ(sim::unit().stores().size(), 1u);
    EXPECT_EQ(sim::unit().stores()[0].crc, crc);

    // A store command that transfers nothing is a failed send; no reply is waited for.
    sim::unit().onlyFault(Fault::on(FaultKind::WriteNothing, CANMSG_SAVE_USER_SETTINGS));
    result = -2;
    const Output nothing = run([&] { result = store_settings(peer().comms(), crc); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(logTexts(nothing.log), std::vector<std::string>{"Failed to send store command"});
    EXPECT_EQ(sim::unit().stores().size(), 1u);
}
