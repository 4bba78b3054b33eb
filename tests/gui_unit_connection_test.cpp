// The connection owner over the simulated unit: the signals the window and the firmware update
// build on (connected with the serial number, lost, a unit worth a try), the busy state of an
// update, the unit let go for its reboot and found again, and the poll's patience with an
// interface that would not answer. Without a window: the suite's entry point owns the application.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTimer>

#include <cerrno>

#include "capture.h"
#include "sim_unit.h"
#include "unit_connection.h"

namespace {

class Connection : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }

    bool open() {
        bool ok = false;
        captureStdout([&] { ok = connection.open(); });
        return ok;
    }
    QTimer *timer(const char *name) { return connection.findChild<QTimer *>(name); }

    UnitConnection connection;
    QSignalSpy connected{&connection, &UnitConnection::connected};
    QSignalSpy lost{&connection, &UnitConnection::lost};
    QSignalSpy appeared{&connection, &UnitConnection::unitAppeared};
};

} // namespace

TEST_F(Connection, ConnectedCarriesTheSerialNumberAndAnUnplugWhileIdleIsLost) {
    ASSERT_TRUE(open());
    ASSERT_EQ(connected.count(), 1);
    EXPECT_EQ(connected.at(0).at(0).toUInt(), sim::SimUnit::DEFAULT_SERIAL);
    EXPECT_EQ(connection.state(), ConnectionState::Connected);
    EXPECT_TRUE(timer("unitPresenceTimer")->isActive());
    EXPECT_FALSE(timer("unitPollTimer")->isActive());

    // While an update holds the link nothing is checked, polled or reconnected.
    connection.setBusy(true);
    EXPECT_EQ(connection.state(), ConnectionState::Busy);
    EXPECT_FALSE(timer("unitPresenceTimer")->isActive());
    sim::unit().unplug();
    captureStdout([&] {
        connection.checkPresence();
        EXPECT_FALSE(connection.open());
    });
    EXPECT_EQ(lost.count(), 0);
    EXPECT_EQ(connection.state(), ConnectionState::Busy);

    connection.setBusy(false);
    captureStdout([&] { connection.checkPresence(); });
    EXPECT_EQ(lost.count(), 1);
    EXPECT_EQ(connection.state(), ConnectionState::Lost);
    EXPECT_TRUE(timer("unitPollTimer")->isActive());
    EXPECT_EQ(connection.lastSerialNumber(), sim::SimUnit::DEFAULT_SERIAL);
    captureStdout([&] { connection.checkPresence(); });
    EXPECT_EQ(lost.count(), 1) << "said once";

    connection.pollForUnit();
    EXPECT_EQ(appeared.count(), 0) << "nothing listed";
    sim::unit().plugIn();
    connection.pollForUnit();
    EXPECT_EQ(appeared.count(), 1);
    ASSERT_TRUE(open());
    EXPECT_EQ(connected.count(), 2);
}

TEST_F(Connection, AUnitLetGoForItsRebootIsFoundAgainAsTheSameUnit) {
    sim::addUnit("sim:second", 0x0BADCAFEu);
    ASSERT_TRUE(open());
    EXPECT_EQ(connection.serialNumber(), sim::SimUnit::DEFAULT_SERIAL);
    captureStdout([&] { ASSERT_TRUE(connection.open(connection.units().at(1))); });
    EXPECT_EQ(connection.serialNumber(), 0x0BADCAFEu);

    connection.release();
    EXPECT_EQ(connection.state(), ConnectionState::NotConnected);
    EXPECT_FALSE(connection.isConnected());
    EXPECT_EQ(lost.count(), 0) << "a reboot is no loss";
    // Back: the unit worked with, though another one is listed first.
    ASSERT_TRUE(open());
    EXPECT_EQ(connected.last().at(0).toUInt(), 0x0BADCAFEu);
}

TEST_F(Connection, AnInterfaceThatWillNotAnswerOrOpenIsTriedNowAndThen) {
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::NoReply, CANMSG_WHOAMI));
    EXPECT_FALSE(open());
    EXPECT_EQ(connection.state(), ConnectionState::NotConnected);
    for (int i = 1; i < UnitConnection::FAILED_RETRY_TICKS; ++i) {
        connection.pollForUnit();
    }
    EXPECT_EQ(appeared.count(), 0);
    connection.pollForUnit();
    EXPECT_EQ(appeared.count(), 1);

    sim::reset();
    sim::unit().setOpenError(EACCES);
    EXPECT_FALSE(open());
    EXPECT_EQ(connection.state(), ConnectionState::Refused);
    EXPECT_EQ(connected.count(), 0);
}
