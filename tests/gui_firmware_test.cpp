// The firmware tab (file choice, update with progress, its widget states) and the reboot
// command; and screenshots of both tabs after a load from the simulated unit.
#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>

#include "gui_window.h"

using namespace gui_test;
using sim::Fault;
using sim::FaultKind;

namespace {

// A 64-byte header over `payload` bytes, erasing two blocks.
std::vector<uint8_t> makeImage(std::size_t payload) {
    firmware_header_t header;
    std::memset(&header, 0, sizeof(header));
    header.magic = 0x57464D45u;
    header.total_size = 70000;
    header.plaintext_size = static_cast<uint32_t>(payload);
    header.encrypted_size = static_cast<uint32_t>(payload);
    header.offset = FW_HEADER_SIZE;
    std::vector<uint8_t> image(sizeof(header) + payload);
    std::memcpy(image.data(), &header, sizeof(header));
    for (std::size_t i = 0; i < payload; ++i) {
        image[sizeof(header) + i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return image;
}

} // namespace

class FirmwareTabTest : public WindowTest {
protected:
    // Writes the image file and chooses it in the file dialog, checking the dialog's set-up.
    void chooseImage(const std::vector<uint8_t> &image) {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("efis-image.bin");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char *>(image.data()), static_cast<qint64>(image.size()));
        file.close();
        QString title;
        QStringList filters;
        whenModal<QFileDialog>([&](QFileDialog *d) {
            title = d->windowTitle();
            filters = d->nameFilters();
            d->selectFile(path);
            static_cast<QDialog *>(d)->accept(); // QFileDialog's own accept checks the file
        });
        w<QPushButton>("pushButton_browse")->click();
        EXPECT_EQ(title, "Select Firmware File");
        EXPECT_EQ(filters, QStringList({"Firmware Files (*.bin)", "All Files (*)"}));
    }

    // Enabled states of browse, file box, start, progress bar and reboot.
    std::vector<bool> states() {
        return {w<QPushButton>("pushButton_browse")->isEnabled(),
                w<QTextEdit>("text_firmware_file")->isEnabled(),
                w<QPushButton>("pushButton_start_update")->isEnabled(),
                w<QProgressBar>("progressBar_firmware")->isEnabled(),
                w<QPushButton>("pushButton_reboot")->isEnabled()};
    }

    QTemporaryDir dir;
    QString path;
};

TEST_F(FirmwareTabTest, ProgressSetsTheBarAndThePhaseText) {
    open(false);
    struct Case {
        uint32_t current, total;
        int phase;
        int percent;
        const char *status;
    };
    const Case cases[] = {
        {3, 4, 0, 75, "Erasing: 3 / 4 blocks"},
        {100, 300, 1, 33, "Uploading: 100 / 300 bytes"},
        {0, 0, 0, 0, "Erasing: 0 / 0 blocks"},
        {4000000000u, 4000000000u, 1, 100, "Uploading: 4000000000 / 4000000000 bytes"},
        {5, 10, 2, 50, "Uploading: 4000000000 / 4000000000 bytes"}, // other phase: text kept
    };
    for (const Case &c : cases) {
        window->updateFirmwareProgress(c.current, c.total, c.phase);
        EXPECT_EQ(w<QProgressBar>("progressBar_firmware")->value(), c.percent) << c.status;
        EXPECT_EQ(status(), c.status);
    }
}

TEST_F(FirmwareTabTest, UpdateWritesTheChosenImageAndFollowsItsProgress) {
    open();
    EXPECT_EQ(states(), (std::vector<bool>{true, false, false, false, true}));

    // Without a file the update refuses.
    peer().startUpdate();
    EXPECT_EQ(status(), "No firmware file selected");

    const std::vector<uint8_t> image = makeImage(200);
    chooseImage(image);
    EXPECT_EQ(peer().firmwareFilePath(), path);
    // The whole path, in a box that cannot be typed into: the file written is the one shown.
    EXPECT_EQ(w<QTextEdit>("text_firmware_file")->toPlainText(), path);
    EXPECT_TRUE(w<QTextEdit>("text_firmware_file")->isReadOnly());
    EXPECT_EQ(states(), (std::vector<bool>{true, true, true, true, true}));

    // A cancelled dialog keeps the choice.
    whenModal<QFileDialog>([](QFileDialog *d) { d->reject(); });
    w<QPushButton>("pushButton_browse")->click();
    EXPECT_EQ(peer().firmwareFilePath(), path);
    EXPECT_EQ(w<QTextEdit>("text_firmware_file")->toPlainText(), path);

    QStringList messages;
    std::vector<bool> while_updating;
    QObject::connect(window->statusBar(), &QStatusBar::messageChanged, [&](const QString &m) {
        messages << m;
        if (m == "Starting firmware update...") {
            while_updating = states();
        }
    });
    answerBackupOffer(QMessageBox::No);
    // Enter in the reboot offered afterwards is Later: the reboot needs its own click.
    actOnBox("rebootAfterUpdateBox",
             [](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); });
    const Output o = run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    EXPECT_FALSE(sim::unit().rebootRequested());

    EXPECT_EQ(while_updating, (std::vector<bool>{false, false, false, true, true}));
    EXPECT_EQ(messages, QStringList({"Starting firmware update...", "Erasing: 1 / 2 blocks",
                                     "Erasing: 2 / 2 blocks", "Uploading: 64 / 200 bytes",
                                     "Uploading: 128 / 200 bytes", "Uploading: 192 / 200 bytes",
                                     "Uploading: 200 / 200 bytes", "Firmware update completed"}));
    EXPECT_EQ(logTexts(o.log), (std::vector<std::string>{"Starting firmware update with file: \"" +
                                                             path.toStdString() + "\"",
                                                         "Firmware update process finished"}));
    EXPECT_EQ(states(), (std::vector<bool>{true, true, true, true, true}));
    EXPECT_EQ(w<QProgressBar>("progressBar_firmware")->value(), 100);

    // The full path reached the transfer: the unit's partition holds the file.
    const uint32_t start = FW_PARTITION_1_START_BLOCK * MX25_BLOCK_SIZE;
    EXPECT_EQ(sim::unit().flash().read(start, image.size()), image);
    EXPECT_TRUE(sim::unit().flash().violations().empty());
}

// What reaches the window while a transfer holds the GUI thread, by the unit's request count
// at the time: so "during" means after the first request of the update and before its last.
class TransferWatch : public QObject {
public:
    std::size_t posted_at = 0;
    std::vector<std::size_t> paints;
    QString rate_text;

protected:
    bool event(QEvent *e) override {
        if (e->type() == QEvent::User) {
            posted_at = sim::unit().received().size();
            return true;
        }
        return QObject::event(e);
    }
    bool eventFilter(QObject *watched, QEvent *e) override {
        if (e->type() == QEvent::Paint) {
            paints.push_back(sim::unit().received().size());
            const QString text = static_cast<QProgressBar *>(watched)->text();
            if (text.contains("left")) {
                rate_text = text;
            }
        }
        return false;
    }
};

TEST_F(FirmwareTabTest, DuringTheTransferTheWindowRepaintsAndStaysOpenButTakesNoClick) {
    open();
    std::vector<uint8_t> image = makeImage(64 * 3000);
    reinterpret_cast<firmware_header_t *>(image.data())->total_size =
        static_cast<uint32_t>(image.size()); // three blocks
    chooseImage(image);
    w<QTabWidget>("tabWidget")->setCurrentIndex(1);
    window->show();
    QApplication::processEvents();
    sim::unit().setReplyDelayMicros(400);
    auto *bar = w<QProgressBar>("progressBar_firmware");
    TransferWatch watch;
    bar->installEventFilter(&watch);

    const std::size_t before = requestCount();
    std::size_t closed_at = 0;
    std::size_t clicked_at = 0;
    bool close_accepted = true;
    QString note;
    QTimer::singleShot(150, [&] {
        close_accepted = window->close();
        note = w<QLabel>("updateNoteLabel")->text();
        closed_at = requestCount();
        QCoreApplication::postEvent(&watch, new QEvent(QEvent::User));
    });
    QTimer::singleShot(300, [&] {
        QTest::mouseClick(w<QPushButton>("pushButton_reboot"), Qt::LeftButton);
        clicked_at = requestCount();
    });
    answerBackupOffer(QMessageBox::No);
    answerRebootOffer(QMessageBox::No);
    run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    const std::size_t after = requestCount();
    ASSERT_EQ(status(), "Firmware update completed");

    const auto during = [&](std::size_t at) { return at > before && at < after; };
    EXPECT_TRUE(during(closed_at)) << closed_at << " of " << before << ".." << after;
    EXPECT_FALSE(close_accepted);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(note.isEmpty());
    EXPECT_TRUE(during(watch.posted_at));
    EXPECT_GE(std::count_if(watch.paints.begin(), watch.paints.end(), during), 2);
    EXPECT_TRUE(watch.rate_text.contains(QRegularExpression("^\\d+% - \\d+:\\d\\d left, "
                                                            "\\d+\\.\\d kB/s$")))
        << watch.rate_text.toStdString();
    EXPECT_EQ(bar->text(), "100%");
    // The clicks ran no slot, neither during the transfer nor after it.
    EXPECT_TRUE(during(clicked_at));
    EXPECT_FALSE(sim::unit().rebootRequested());
    EXPECT_FALSE(w<QLabel>("updateNoteLabel")->isVisible());
    // Once it has ended, the window closes.
    EXPECT_TRUE(window->close());
}

TEST_F(FirmwareTabTest, FailedUpdateSaysSoAndGivesTheTabBack) {
    open();
    chooseImage(makeImage(200));
    sim::unit().flash().setPartitionNack(true);
    answerBackupOffer(QMessageBox::No);
    const Output o = run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    EXPECT_EQ(status(), "Error: Firmware update failed (see View → Log)");
    // Why, beside the status and in the log.
    const std::string reason = "The unit refused the erase or did not confirm it (0 of 2 blocks "
                               "erased); nothing was written.";
    EXPECT_EQ(w<QLabel>("updateNoteLabel")->text().toStdString(), reason);
    EXPECT_EQ(logTexts(o.log),
              (std::vector<std::string>{
                  "Starting firmware update with file: \"" + path.toStdString() + "\"",
                  "Firmware update failed: " + reason, "Firmware update process finished"}));
    EXPECT_EQ(states(), (std::vector<bool>{true, true, true, true, true}));
    EXPECT_EQ(w<QProgressBar>("progressBar_firmware")->value(), 0);
    EXPECT_EQ(sim::unit().flash().writeCount(), 0u);
}

TEST_F(FirmwareTabTest, RebootSendsTheBootloaderCommandOnce) {
    open();
    std::size_t from = requestCount();
    Output o = run([&] { w<QPushButton>("pushButton_reboot")->click(); });
    ASSERT_EQ(requestCount(), from + 1);
    const sim::Message &msg = sim::unit().received().back();
    EXPECT_EQ(msg.can_id, 0x399u);
    EXPECT_EQ(msg.msg_len, 1);
    EXPECT_EQ(msg.data, std::vector<uint8_t>{0x48});
    EXPECT_TRUE(sim::unit().rebootRequested());
    EXPECT_EQ(logTexts(o.log), std::vector<std::string>{"Reboot command sent successfully"});
    EXPECT_EQ(status(), "Reboot command sent to device");
    // The unit restarts: the window no longer counts it as connected and watches for it.
    EXPECT_FALSE(peer().comms()->isConnected());
    EXPECT_TRUE(window->findChild<QTimer *>("unitPollTimer")->isActive());
    from = requestCount();
    o = run([&] { w<QPushButton>("pushButton_reboot")->click(); });
    EXPECT_EQ(requestCount(), from);
    EXPECT_EQ(logTexts(o.log), std::vector<std::string>{"No communication interface connected"});
    run([&] { window->findChild<QAction *>("actionReconnect")->trigger(); });
    ASSERT_TRUE(peer().comms()->isConnected());

    // A write that transfers nothing fails as one that fails outright.
    for (FaultKind kind : {FaultKind::WriteNothing, FaultKind::UnplugBeforeWrite}) {
        sim::unit().onlyFault(Fault::on(kind, CANMSG_ENTER_BL));
        w<QStatusBar>("statusbar")->clearMessage();
        from = requestCount();
        o = run([&] { w<QPushButton>("pushButton_reboot")->click(); });
        EXPECT_EQ(logTexts(o.log), std::vector<std::string>{"Failed to send reboot command"});
        EXPECT_EQ(status(), "Error: Failed to send reboot command");
        EXPECT_EQ(requestCount(), from);
    }
}

TEST_F(FirmwareTabTest, ScreenshotsOfBothTabsAfterALoad) {
    open();
    ASSERT_EQ(status(), "Configuration successfully loaded from device");
    window->show();
    QApplication::processEvents();
    const QPixmap settings = window->grab();
    EXPECT_EQ(settings.size(), window->size());
    EXPECT_TRUE(settings.save("gui_settings_tab.png"));
    w<QTabWidget>("tabWidget")->setCurrentIndex(1);
    QApplication::processEvents();
    EXPECT_TRUE(window->grab().save("gui_firmware_tab.png"));
    EXPECT_TRUE(QFileInfo("gui_settings_tab.png").size() > 0);
}

// ---- cancel --------------------------------------------------------------------------------

namespace {

// A payload of 64 * 3000 bytes in three blocks.
std::vector<uint8_t> longImage() {
    std::vector<uint8_t> image = makeImage(64 * 3000);
    reinterpret_cast<firmware_header_t *>(image.data())->total_size =
        static_cast<uint32_t>(image.size());
    return image;
}

} // namespace

TEST_F(FirmwareTabTest, StartUpdateNamesTheImageAndTheUnitAndEnterWritesNothing) {
    open();
    std::vector<uint8_t> image = makeImage(1000);
    reinterpret_cast<firmware_header_t *>(image.data())->version = 0x00010002u;
    chooseImage(image);
    const std::size_t from = requestCount();
    QString asked;
    whenModal<QMessageBox>([&](QMessageBox *box) {
        EXPECT_EQ(box->objectName(), "confirmUpdateBox");
        asked = box->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    EXPECT_EQ(asked, "Write image version 0x00010002 (1,064 bytes) into EFIS 0x12345678?");
    EXPECT_EQ(status(), "Firmware update not started");
    EXPECT_EQ(requestCount(), from);
}

TEST_F(FirmwareTabTest, AfterAnUpdateLeftIncompleteRebootAsksAndEnterSendsNothing) {
    open();
    chooseImage(makeImage(200));
    // The unit refuses the second payload write: both blocks are erased, the image half written.
    sim::unit().onlyFault(Fault::on(FaultKind::Nack, CANMSG_WRITE_MX25, 1));
    answerBackupOffer(QMessageBox::No);
    run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    ASSERT_EQ(status(), "Error: Firmware update failed (see View → Log)");
    sim::unit().clearFaults();

    const std::size_t from = requestCount();
    QString asked;
    whenModal<QMessageBox>([&](QMessageBox *box) {
        EXPECT_EQ(box->objectName(), "rebootIncompleteImageBox");
        asked = box->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    Output o = run([&] { w<QPushButton>("pushButton_reboot")->click(); });
    EXPECT_TRUE(asked.contains("the firmware image in the unit is incomplete: it may not start",
                               Qt::CaseInsensitive))
        << asked.toStdString();
    EXPECT_TRUE(requests(CANMSG_ENTER_BL, from).empty());
    EXPECT_EQ(status(), "Reboot cancelled: the firmware image in the unit is incomplete");
    EXPECT_TRUE(logTexts(o.log).empty());

    // The box's reboot button sends it, with the reboot's own lines.
    whenModal<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
    o = run([&] { w<QPushButton>("pushButton_reboot")->click(); });
    EXPECT_EQ(requests(CANMSG_ENTER_BL, from).size(), 1u);
    EXPECT_EQ(logTexts(o.log), std::vector<std::string>{"Reboot command sent successfully"});
    EXPECT_EQ(status(), "Reboot command sent to device");
}

TEST_F(FirmwareTabTest, CancelStopsAfterTheWriteInFlightAndTheNextUpdateRunsToItsEnd) {
    open();
    const std::vector<uint8_t> image = longImage();
    chooseImage(image);
    window->show();
    sim::unit().setReplyDelayMicros(400);
    auto *cancel = w<QPushButton>("pushButton_cancel_update");
    EXPECT_FALSE(cancel->isEnabled());

    std::size_t clicked_at = 0;
    bool enabled_during = false;
    QTimer::singleShot(300, [&] {
        enabled_during = cancel->isEnabled();
        QTest::mouseClick(cancel, Qt::LeftButton);
        clicked_at = requestCount();
    });
    answerBackupOffer(QMessageBox::No);
    run([&] { w<QPushButton>("pushButton_start_update")->click(); });

    EXPECT_TRUE(enabled_during);
    EXPECT_FALSE(cancel->isEnabled());
    EXPECT_EQ(requestCount(), clicked_at) << "a request after the cancel was taken";
    EXPECT_EQ(sim::unit().received().back().can_id, static_cast<uint32_t>(CANMSG_WRITE_MX25));
    const QRegularExpressionMatch m =
        QRegularExpression("^Firmware update cancelled at ([0-9,]+) of 192,000 bytes - the image "
                           "in the unit is incomplete; update again before rebooting it$")
            .match(status());
    ASSERT_TRUE(m.hasMatch()) << status().toStdString();
    const uint32_t confirmed = m.captured(1).remove(',').toUInt();
    EXPECT_GT(confirmed, 0u);
    EXPECT_LT(confirmed, 192000u);
    const uint32_t start = FW_PARTITION_1_START_BLOCK * MX25_BLOCK_SIZE;
    EXPECT_EQ(sim::unit().flash().read(start, 64 + confirmed),
              std::vector<uint8_t>(image.begin(), image.begin() + 64 + confirmed));
    EXPECT_TRUE(sim::unit().flash().violations().empty());
    EXPECT_EQ(states(), (std::vector<bool>{true, true, true, true, true}));

    sim::unit().setReplyDelayMicros(0);
    answerBackupOffer(QMessageBox::No);
    answerRebootOffer(QMessageBox::No);
    run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    EXPECT_EQ(status(), "Firmware update completed");
    EXPECT_EQ(sim::unit().flash().read(start, image.size()), image);
    EXPECT_TRUE(sim::unit().flash().violations().empty());
}

TEST_F(FirmwareTabTest, ACloseRequestDuringTheUpdateOffersTheCancel) {
    open();
    chooseImage(longImage());
    window->show();
    sim::unit().setReplyDelayMicros(400);
    QTimer::singleShot(300, [&] {
        EXPECT_FALSE(window->close());
        auto *box = window->findChild<QMessageBox *>("cancelUpdateOnCloseBox");
        ASSERT_NE(box, nullptr);
        QTimer::singleShot(100, [box] {
            for (QAbstractButton *b : box->buttons()) {
                if (b->text() == "Cancel Update and Close") {
                    QTest::mouseClick(b, Qt::LeftButton);
                }
            }
        });
    });
    answerBackupOffer(QMessageBox::No);
    run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    EXPECT_TRUE(status().startsWith("Firmware update cancelled at ")) << status().toStdString();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(sim::unit().flash().violations().empty());
}

TEST_F(FirmwareTabTest, AFileThatCannotBeWrittenWholeIsRefusedBeforeAnyExchange) {
    open();
    std::vector<uint8_t> image = makeImage(1000);
    reinterpret_cast<firmware_header_t *>(image.data())->version = 0x00010002u;
    chooseImage(image);
    EXPECT_EQ(w<QLabel>("label_firmware_version")->text(), "Image version 0x00010002");

    image.resize(300); // the header announces 1064 bytes
    chooseImage(image);
    // What is wrong, in plain words, before the numbers.
    EXPECT_TRUE(w<QLabel>("label_firmware_version")
                    ->text()
                    .startsWith("This file is not a whole firmware image: the file is shorter "
                                "than its header says; it holds 300 bytes"));
    EXPECT_FALSE(status().contains("not started")) << "nothing was tried yet";
    const std::size_t from = requestCount();
    run([&] { w<QPushButton>("pushButton_start_update")->click(); }); // no question
    EXPECT_EQ(status(), "Error: Firmware file " + path +
                            " is not a whole firmware image: the file is shorter than its header "
                            "says; it holds 300 bytes, but its header announces 1064 (64 header "
                            "bytes and an encrypted_size of 1000); the update was not started");
    EXPECT_EQ(requestCount(), from);
}

// ---- after the update ------------------------------------------------------------------------

class AfterUpdateTest : public FirmwareTabTest {
protected:
    // Updates with a backup exported (or declined), then takes the reboot offered (or Later).
    // With `unstored`, the question about values sent but not saved comes first: Discard.
    void updateAndReboot(bool with_backup, QMessageBox::StandardButton reboot = QMessageBox::Yes,
                         bool unstored = false) {
        chooseImage(makeImage(200));
        const QString backup = dir.filePath(QString("backup%1.json").arg(++backups));
        const auto backupOffer = [with_backup, backup] {
            whenModal<QMessageBox>([with_backup, backup](QMessageBox *box) {
                EXPECT_EQ(box->objectName(), "backupBeforeUpdateBox");
                box->button(with_backup ? QMessageBox::Yes : QMessageBox::No)->click();
                if (with_backup) {
                    whenModal<QFileDialog>([backup](QFileDialog *d) {
                        d->selectFile(backup);
                        static_cast<QDialog *>(d)->accept();
                    });
                }
            });
        };
        confirmUpdate([backupOffer, unstored] {
            if (!unstored) {
                backupOffer();
                return;
            }
            whenModal<QMessageBox>([backupOffer](QMessageBox *box) {
                EXPECT_EQ(box->objectName(), "unstoredValuesBox");
                box->button(QMessageBox::Discard)->click();
                backupOffer();
            });
        });
        answerRebootOffer(reboot);
        const std::size_t from = requestCount();
        run([&] { w<QPushButton>("pushButton_start_update")->click(); });
        EXPECT_EQ(requests(CANMSG_ENTER_BL, from).size(), reboot == QMessageBox::Yes ? 1u : 0u);
    }
    // Answers the comparison after the update: its title and rows ("setting: before -> now")
    // into `seen`, then Restore or Keep.
    static void answerComparison(QStringList *seen, bool restore) {
        whenModal<QDialog>([seen, restore](QDialog *d) {
            EXPECT_EQ(d->objectName(), "settingsChangedByUpdateDialog");
            *seen << d->windowTitle();
            auto *table = d->findChild<QTableWidget *>("tableWidget_updateDifferences");
            for (int r = 0; table != nullptr && r < table->rowCount(); ++r) {
                *seen << table->item(r, 0)->text() + ": " + table->item(r, 1)->text() + " -> " +
                             table->item(r, 2)->text();
            }
            d->findChild<QPushButton *>(restore ? "pushButton_restoreSettings"
                                                : "pushButton_keepSettings")
                ->click();
        });
    }
    // Ticks of the window's poll until it is connected again (at most `ticks`).
    void pollUntilBack(int ticks = 5) {
        for (int i = 0; i < ticks && !peer().comms()->isConnected(); ++i) {
            run([&] { peer().pollForUnit(); });
        }
    }
    int backups = 0;
};

TEST_F(AfterUpdateTest, SettingsResetByTheUpdateAreListedAndRestored) {
    open();
    sim::RebootBehaviour behaviour;
    behaviour.away_looks = 2;
    Settings_t reset = sim::unit().storedSettings();
    reset.vspeeds.Vne = 99;
    reset.backlight_brightness = 3;
    // The registration's three words are one value of the form.
    std::memset(reset.registration, 0, sizeof(reset.registration));
    std::memcpy(reset.registration, "D-EFGH", 6);
    reset.crc32 = sim::SimUnit::storeChecksum(reset);
    behaviour.settings_after = reset;
    sim::unit().setRebootBehaviour(behaviour);
    updateAndReboot(true);
    EXPECT_EQ(status(), "Reboot command sent - waiting for the EFIS to come back with its new "
                        "firmware");

    QStringList rows;
    answerComparison(&rows, true);
    pollUntilBack();
    // The same dialog and the same names as the import's: the form's labels.
    EXPECT_EQ(rows, QStringList({"Settings Changed by the Update", "Vne: 150 -> 99",
                                 "Registration: G-ABCD -> D-EFGH", "Display Brightness: 15 -> 3"}));
    // Restore makes edits only: nothing is stored until Save.
    EXPECT_EQ(status(), "3 value(s) of the backup are edits now - Update sends them, Save stores "
                        "them");
    EXPECT_EQ(sim::unit().storedSettings().vspeeds.Vne, 99);
    EXPECT_EQ(window->changedValues().size(), 5u); // words: the registration has three
    w<QPushButton>("pushButton_save")->click();
    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    EXPECT_EQ(sim::unit().storedSettings().vspeeds.Vne, 150);
    EXPECT_EQ(sim::unit().storedSettings().backlight_brightness, 15);
    EXPECT_TRUE(window->changedValues().empty());

    // Updated again, nothing changed: said so, no question.
    sim::unit().setRebootBehaviour({});
    updateAndReboot(true);
    pollUntilBack();
    EXPECT_EQ(status(), "Settings unchanged by the update");
}

TEST_F(AfterUpdateTest, AnotherUnitOrNoneIsReported) {
    open();
    sim::RebootBehaviour other;
    other.serial_after = 0xCAFE0001u;
    sim::unit().setRebootBehaviour(other);
    updateAndReboot(true);
    pollUntilBack();
    EXPECT_EQ(status(), "Another EFIS answered (serial number 0xCAFE0001), not the one updated "
                        "(0x12345678): its settings are not compared with the backup");

    sim::RebootBehaviour gone;
    gone.never_returns = true;
    sim::unit().setRebootBehaviour(gone);
    updateAndReboot(false);
    pollUntilBack();
    auto *timer = window->findChild<QTimer *>("afterUpdateReturnTimer");
    ASSERT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 60000);
    timer->start(1); // the minute is up
    const QString not_back = "The EFIS has not come back within 60 s of its reboot - check its "
                             "power and cable; the window keeps looking for it";
    // On a loaded machine the timer's turn may take longer than a few milliseconds.
    EXPECT_TRUE(QTest::qWaitFor([&] { return status() == not_back; }, 5000))
        << status().toStdString();
    EXPECT_TRUE(window->findChild<QTimer *>("unitPollTimer")->isActive());
}

TEST_F(AfterUpdateTest, TheWindowWaitsForTheUnitUpdatedNotForAnotherOnTheBench) {
    open();
    sim::addUnit("sim:second", 0x0BADCAFEu);
    sim::RebootBehaviour behaviour;
    behaviour.away_looks = 6;
    Settings_t reset = sim::unit().storedSettings();
    reset.vspeeds.Vne = 99;
    reset.crc32 = sim::SimUnit::storeChecksum(reset);
    behaviour.settings_after = reset;
    sim::unit().setRebootBehaviour(behaviour);
    updateAndReboot(true);

    // While the unit updated is away, the poll finds only the other one and leaves it alone.
    run([&] { peer().pollForUnit(); });
    EXPECT_FALSE(peer().comms()->isConnected());
    const auto settingsRequests = [] {
        return std::count_if(sim::units()[1].received().begin(), sim::units()[1].received().end(),
                             [](const sim::Message &m) { return m.can_id != CANMSG_WHOAMI; });
    };
    EXPECT_EQ(settingsRequests(), 0);

    whenModal<QDialog>(
        [&](QDialog *d) { d->findChild<QPushButton *>("pushButton_restoreSettings")->click(); });
    pollUntilBack(10);
    EXPECT_EQ(peer().connection()->serialNumber(), sim::SimUnit::DEFAULT_SERIAL);
    w<QPushButton>("pushButton_save")->click();
    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    EXPECT_EQ(sim::unit().storedSettings().vspeeds.Vne, 150);
    EXPECT_EQ(settingsRequests(), 0);
}

TEST_F(AfterUpdateTest, ValuesSentButNotSavedAreNamedSoWhenTheUnitRestartsAfterLater) {
    open();
    w<QSpinBox>("spinBox_vne")->setValue(170);
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    updateAndReboot(true, QMessageBox::No, true); // Discard them, export a backup, Later
    EXPECT_EQ(status(), "Firmware update completed");

    // Reboot later: not asked again about the values discarded; the window waits and compares.
    QStringList seen;
    answerComparison(&seen, true);
    run([&] { w<QPushButton>("pushButton_reboot")->click(); });
    pollUntilBack();
    // The unit came back with its stored 150: the restart lost 170, not the update.
    EXPECT_EQ(seen, QStringList({"Values Not Saved before the Update",
                                 "Vne (sent but not saved before the update): 170 -> 150"}));
    EXPECT_EQ(window->changedValues(), (std::set<settings_struct_index>{VNE_INDEX}));
    EXPECT_EQ(sim::unit().storedSettings().vspeeds.Vne, 150); // Restore makes edits only
    w<QPushButton>("pushButton_save")->click();
    EXPECT_EQ(sim::unit().storedSettings().vspeeds.Vne, 170);

    // Later again, then the unit restarts by itself (power cycled): compared when it is back.
    updateAndReboot(false, QMessageBox::No);
    w<QSlider>("backlight_slider")->setValue(12);
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    seen.clear();
    answerComparison(&seen, false);
    sim::unit().unplug();
    run([&] { peer().connection()->checkPresence(); });
    sim::unit().settings() = sim::unit().storedSettings();
    sim::unit().plugIn();
    pollUntilBack();
    EXPECT_EQ(seen, QStringList({"Values Not Saved before the Update",
                                 "Display Brightness (sent but not saved before the update): "
                                 "12 -> 15"}));
}
