// The window's connection to the unit after start-up: the poll that finds a unit plugged in
// later, the Device menu's Connect, and the edits a reconnection must not overwrite.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QTimer>

#include "gui_window.h"

using namespace gui_test;

namespace {
const QString kLoaded = "Configuration successfully loaded from device";
const QString kFailed = "Failed to connect to EFIS via USB or CAN FD - please check connections";
} // namespace

class DeviceTest : public WindowTest {
protected:
    // Starts the window with the unit unplugged; plugIn() brings it back.
    void openWithoutUnit() {
        unit_entries = sim::unit().enumeration();
        open(false);
    }
    void plugIn() { sim::unit().enumeration() = unit_entries; }
    QTimer *poll() { return window->findChild<QTimer *>("unitPollTimer"); }

    std::vector<sim::EnumEntry> unit_entries;
};

TEST_F(DeviceTest, ThePollConnectsAndLoadsWhenTheUnitIsPluggedIn) {
    StatusRecorder recorder;
    openWithoutUnit();
    ASSERT_TRUE(poll()->isActive());
    EXPECT_EQ(poll()->interval(), 2000);
    EXPECT_TRUE(run([&] { peer().pollForUnit(); }).out.empty()); // nothing there: it only looks

    plugIn();
    QElapsedTimer clock;
    clock.start();
    run([&] {
        while (status() != kLoaded && clock.elapsed() < 5000) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
    });
    EXPECT_EQ(recorder.messages,
              QStringList({"Initializing...", kFailed, "EFIS found - connecting...",
                           "Connected via USB HID", kLoaded}));
    EXPECT_EQ(sim::unit().received().size(), 36u); // the serial number, then the 35 reads
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 150);
    EXPECT_FALSE(poll()->isActive());
}

TEST_F(DeviceTest, EditsPendingAreKeptWhenTheUnitTurnsUp) {
    openWithoutUnit();
    w<QSpinBox>("spinBox_vne")->setValue(123);
    plugIn();
    run([&] { peer().pollForUnit(); });
    ASSERT_TRUE(peer().comms()->isConnected());
    // Confirmed by its serial number, nothing read: the form keeps the edit and its mark.
    EXPECT_EQ(sim::unit().received().size(), 1u);
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 123);
    EXPECT_EQ(window->changedValues(), std::set<settings_struct_index>{VNE_INDEX});
    EXPECT_TRUE(status().contains("Load replaces")) << status().toStdString();
}

TEST_F(DeviceTest, ConnectAfterAnUnplugFailsThenThePollFindsTheUnitAgain) {
    open();
    sim::unit().unplug();
    sim::unit().enumeration().clear();
    run([&] { window->findChild<QAction *>("actionReconnect")->trigger(); });
    EXPECT_EQ(status(), kFailed);
    EXPECT_TRUE(poll()->isActive());

    sim::reset(); // a unit plugged in anew
    run([&] { peer().pollForUnit(); });
    EXPECT_EQ(status(), kLoaded);
    EXPECT_EQ(sim::unit().received().size(), 36u);
}

TEST_F(DeviceTest, AUnitPulledOutWhileIdleIsNoticedAndLoadedWhenItComesBack) {
    StatusRecorder recorder;
    open();
    UnitConnection *connection = peer().connection();
    QTimer *presence = window->findChild<QTimer *>("unitPresenceTimer");
    ASSERT_NE(presence, nullptr);
    EXPECT_TRUE(presence->isActive());
    EXPECT_LE(presence->interval(), 3000) << "a removal shows within 3 s";

    sim::unit().unplug();
    Output o = run([&] {
        QElapsedTimer clock;
        clock.start();
        while (connection->state() != ConnectionState::Lost && clock.elapsed() < 5000) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
    });
    EXPECT_EQ(o.out, "USB HID device disconnected\n");
    EXPECT_EQ(status(), "EFIS disconnected - waiting for it to come back");
    EXPECT_TRUE(poll()->isActive());
    EXPECT_FALSE(presence->isActive());

    sim::unit().plugIn();
    const std::size_t before = requestCount();
    run([&] { peer().pollForUnit(); });
    EXPECT_EQ(status(), kLoaded);
    EXPECT_EQ(requestCount() - before, 36u) << "the serial number, then a load of 35";
    EXPECT_EQ(connection->state(), ConnectionState::Connected);

    // Pulled out again with an edit pending: reconnected, and the edit kept.
    w<QSpinBox>("spinBox_vne")->setValue(123);
    sim::unit().unplug();
    run([&] { connection->checkPresence(); });
    sim::unit().plugIn();
    run([&] { peer().pollForUnit(); });
    EXPECT_TRUE(peer().comms()->isConnected());
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 123);
    EXPECT_TRUE(status().contains("Load replaces")) << status().toStdString();
}

TEST_F(DeviceTest, AUnitThatStopsAnsweringMidLoadEndsTheLoadAtOnce) {
    open();
    // The unit answers the header words and the first field of a load, then nothing more.
    const unsigned first = static_cast<unsigned>(requestCount()) + 5;
    sim::unit().addFault(sim::Fault::atRequest(sim::FaultKind::NoReply, first));
    for (unsigned n = first + 1; n < first + 40; ++n) {
        sim::unit().addFault(sim::Fault::atRequest(sim::FaultKind::NoReply, n));
    }
    const unsigned waited = sim::unit().timeoutsWaited();
    const Output o = run([&] { w<QPushButton>("pushButton_load")->click(); });
    // One missed reply, one failed resynchronisation: two time-outs, not one per request.
    EXPECT_EQ(sim::unit().timeoutsWaited() - waited, 2u);
    EXPECT_NE(o.out.find("USB HID device not answering - link closed"), std::string::npos);
    EXPECT_FALSE(peer().comms()->isConnected());
    EXPECT_NE(status(), kLoaded) << "the load's failure shows first";
    run([&] { peer().connection()->checkPresence(); });
    EXPECT_EQ(status(), "EFIS disconnected - waiting for it to come back");
    EXPECT_EQ(peer().connection()->state(), ConnectionState::Lost);
}

TEST_F(DeviceTest, TheDeviceMenuListsTheUnitsAndConnectsToTheOneChosen) {
    sim::SimUnit &second = sim::addUnit("sim:second", 0x0BADCAFEu);
    second.settings().vspeeds.Vne = 171;
    second.settings().crc32 = sim::SimUnit::storeChecksum(second.settings());
    open();
    EXPECT_EQ(status(), kLoaded) << "the first unit, as at start-up";
    EXPECT_EQ(w<QLabel>("unitCountNote")->text(),
              "2 units found - connected to 0x12345678; the Device menu chooses another");

    QMenu *menu = w<QMenu>("menuDevice");
    run([&] { emit menu->aboutToShow(); });
    QAction *first = w<QAction>("actionUnit0");
    QAction *other = w<QAction>("actionUnit1");
    EXPECT_EQ(first->text(), "EFIS 0x12345678 - USB sim:efis-display-unit");
    EXPECT_TRUE(first->isChecked());
    EXPECT_EQ(other->text(), "EFIS 0x0BADCAFE - USB sim:second");
    EXPECT_FALSE(other->isChecked());

    // Sent to the first unit and not saved: not taken for the second's, though its Vne is the same.
    w<QSpinBox>("spinBox_vne")->setValue(171);
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    const std::size_t asked_first = sim::unit().received().size();
    run([&] { other->trigger(); });
    EXPECT_EQ(status(), kLoaded);
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 171);
    EXPECT_TRUE(w<QLabel>("unstoredValuesNote")->isHidden());
    // The first unit is asked its serial number for the count of units, and nothing else.
    EXPECT_TRUE(requests(CANMSG_REQUEST_USER_SETTING, asked_first).empty());
    EXPECT_TRUE(requests(CANMSG_SET_USER_SETTING, asked_first).empty());
    EXPECT_EQ(peer().connection()->serialNumber(), 0x0BADCAFEu);

    // Unit Information names the unit chosen; closing it changes nothing on the unit.
    whenModal<QMessageBox>([](QMessageBox *box) {
        EXPECT_EQ(box->objectName(), "unitInformationBox");
        EXPECT_TRUE(box->text().contains("Serial number: 0x0BADCAFE")) << box->text().toStdString();
        EXPECT_TRUE(box->text().contains("Path: sim:second"));
        EXPECT_TRUE(box->text().contains("Checksum: "));
        box->button(QMessageBox::Close)->click();
    });
    EXPECT_EQ(w<QAction>("actionUnitInformation")->text(), "Unit Information…");
    run([&] { w<QAction>("actionUnitInformation")->trigger(); });
    EXPECT_EQ(second.settings().vspeeds.Vne, 171);

    // The second unit unplugged and back: the reconnect finds the same unit, not the first.
    second.unplug();
    run([&] { peer().connection()->checkPresence(); });
    second.plugIn();
    run([&] { peer().pollForUnit(); });
    EXPECT_EQ(peer().connection()->serialNumber(), 0x0BADCAFEu);
}
