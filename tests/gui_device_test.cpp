// The window's connection to the unit after start-up: the poll that finds a unit plugged in
// later, the Device menu's Connect, and the edits a reconnection must not overwrite.
#include <QAction>
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
