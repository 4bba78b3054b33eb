// The window's connection to the unit after start-up: the poll that finds a unit plugged in
// later, the Device menu's Connect, and the edits a reconnection must not overwrite.
#include <QAction>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QTimer>

#include <cerrno>

#include "gui_window.h"

using namespace gui_test;

namespace {

const QString kLoaded = "Configuration successfully loaded from device";
const QString kFailed = "Failed to connect to EFIS via USB or CAN FD - please check connections";

std::size_t count(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

} // namespace

class DeviceTest : public WindowTest {
protected:
    // Starts the window with the unit unplugged; plugIn() brings it back.
    void openWithoutUnit() {
        unit_entries = sim::unit().enumeration();
        open(false);
        poll = window->findChild<QTimer *>("unitPollTimer");
        ASSERT_NE(poll, nullptr);
    }
    void plugIn() { sim::unit().enumeration() = unit_entries; }

    std::vector<sim::EnumEntry> unit_entries;
    QTimer *poll = nullptr;
};

TEST_F(DeviceTest, ThePollConnectsAndLoadsWhenTheUnitIsPluggedIn) {
    StatusRecorder recorder;
    openWithoutUnit();
    EXPECT_TRUE(poll->isActive());
    EXPECT_EQ(poll->interval(), 2000);

    // Nothing there: the poll only looks.
    Output o = run([&] { peer().pollForUnit(); });
    EXPECT_TRUE(o.out.empty());
    EXPECT_EQ(status(), kFailed);

    plugIn();
    QElapsedTimer clock;
    clock.start();
    o = run([&] {
        while (status() != kLoaded && clock.elapsed() < 5000) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
    });
    EXPECT_EQ(recorder.messages,
              QStringList({"Initializing...", kFailed, "EFIS found - connecting...",
                           "Connected via USB HID", kLoaded}));
    EXPECT_NE(o.out.find("CRC Check Passed."), std::string::npos);
    EXPECT_EQ(sim::unit().received().size(), 36u); // the serial number, then the 35 reads
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 150);
    EXPECT_FALSE(poll->isActive());
}

TEST_F(DeviceTest, EditsPendingAreKeptWhenTheUnitTurnsUp) {
    openWithoutUnit();
    w<QSpinBox>("spinBox_vne")->setValue(123);
    ASSERT_EQ(window->changedValues(), std::set<settings_struct_index>{VNE_INDEX});

    plugIn();
    run([&] { peer().pollForUnit(); });
    ASSERT_TRUE(peer().comms()->isConnected());
    // Connected and confirmed, nothing read: the form keeps the user's value and its mark.
    ASSERT_EQ(sim::unit().received().size(), 1u);
    EXPECT_EQ(sim::unit().received()[0].can_id, static_cast<uint32_t>(CANMSG_WHOAMI));
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 123);
    EXPECT_EQ(window->changedValues(), std::set<settings_struct_index>{VNE_INDEX});
    EXPECT_TRUE(status().contains("Load replaces")) << status().toStdString();
}

TEST_F(DeviceTest, ConnectAfterAnUnplugFailsThenThePollFindsTheUnitAgain) {
    open();
    auto *connect_action = window->findChild<QAction *>("actionReconnect");
    ASSERT_NE(connect_action, nullptr);
    sim::unit().unplug();
    sim::unit().enumeration().clear();
    QStringList messages;
    QObject::connect(window->statusBar(), &QStatusBar::messageChanged,
                     [&](const QString &m) { messages << m; });
    Output o = run([&] { connect_action->trigger(); });
    EXPECT_EQ(messages, QStringList({kFailed}));
    EXPECT_NE(o.out.find("Failed to connect via both USB HID and CAN FD"), std::string::npos);
    EXPECT_TRUE(window->findChild<QTimer *>("unitPollTimer")->isActive());

    sim::reset(); // a unit plugged in anew
    run([&] { peer().pollForUnit(); });
    EXPECT_EQ(status(), kLoaded);
    EXPECT_EQ(sim::unit().received().size(), 36u);

    // Connect on a live link closes it and runs start-up's connection and load again.
    messages.clear();
    run([&] { connect_action->trigger(); });
    EXPECT_EQ(messages, QStringList({"Connected via USB HID", kLoaded}));
    EXPECT_EQ(sim::unit().received().size(), 72u);
}

TEST_F(DeviceTest, AUnitThatWillNotOpenIsTriedAgainOnlyEveryFifthPoll) {
    sim::unit().setOpenError(EACCES);
    open();
    ASSERT_FALSE(peer().comms()->isConnected());
    std::string out;
    for (int tick = 0; tick < 4; ++tick) {
        out += run([&] { peer().pollForUnit(); }).out;
    }
    EXPECT_EQ(count(out, "Attempting to connect to USB HID device"), 0u);
    sim::unit().setOpenError(0); // the user installed the rule
    out = run([&] { peer().pollForUnit(); }).out;
    EXPECT_EQ(count(out, "Attempting to connect to USB HID device"), 1u);
    EXPECT_EQ(status(), kLoaded);
}
