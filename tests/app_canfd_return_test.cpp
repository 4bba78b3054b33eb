// The unit reached over its CAN FD bus: updated there, rebooted, and waited for there, on the
// simulated bus that stands behind the SocketCAN calls of the CAN FD transport.
#include <gtest/gtest.h>

#include <algorithm>

#include "capture.h"
#include "firmware_helpers.h"
#include "settings_session.h"
#include "sim_socketcan.h"
#include "sim_unit.h"
#include "unit_locator.h"
#include "update_job.h"

namespace {

using unit_locator::Return;

const std::string BUS = "efis-sim-can";
constexpr uint32_t ON_BUS = 0x0BADCAFEu;

class CanFdReturn : public ::testing::Test {
protected:
    // The first unit on USB alone; a second, with another serial number, on the bus alone.
    void SetUp() override {
        sim::reset();
        sim::unit().flash().setPartition(partition_1);
        sim::SimUnit &bus_unit = sim::addUnit("sim:second", ON_BUS);
        bus_unit.enumeration().clear();
        bus_unit.setCanInterface(BUS);
        bus_unit.flash().setPartition(partition_1);
        image = dir.write("image.bin", fwtest::makeImage({MX25_BLOCK_SIZE, 3000}));
        ASSERT_FALSE(image.empty());
    }
    sim::SimUnit &busUnit() { return sim::units()[1]; }

    // Chooses the unit on the bus by its serial number and connects to it there.
    void connectToBusUnit() {
        unit_locator::Wanted wanted;
        wanted.by_serial = true;
        wanted.serial = ON_BUS;
        captureStdout([&] {
            const unit_locator::Choice choice =
                unit_locator::choose(unit_locator::list(BUS), wanted);
            ASSERT_EQ(choice.outcome, unit_locator::ChoiceOutcome::Chosen);
            EXPECT_EQ(choice.count, 2u);
            ASSERT_EQ(choice.unit.iface, CAN_FD);
            comms = std::make_unique<CommsManager>();
            comms->choose(unit_locator::connectionFor(choice.unit, BUS));
            ASSERT_TRUE(comms->establish_connection());
        });
        ASSERT_EQ(comms->getActiveInterface(), CAN_FD);
    }

    // The image sent over the bus, then the reboot and the wait, as both front ends run them.
    unit_locator::Look updateRebootAndWait() {
        unit_locator::Look look;
        captureStdout([&] {
            const update_job::ImageStep checked =
                update_job::checkImage(QString::fromStdString(image));
            EXPECT_EQ(update_job::transfer(comms.get(), checked.image, {}, nullptr).result.end,
                      FwTransferEnd::Completed);
            const unit_locator::Target target = update_job::returnTarget(comms.get());
            EXPECT_TRUE(update_job::rebootAndLetGo(comms.get()));
            look = unit_locator::waitFor(target, comms, std::chrono::seconds(5), nullptr);
        });
        return look;
    }

    fwtest::TempDir dir;
    std::string image;
    std::unique_ptr<CommsManager> comms;
};

} // namespace

TEST_F(CanFdReturn, TheUnitChosenOnTheBusIsUpdatedAndFoundAgainThere) {
    connectToBusUnit();
    SettingsSession session;
    captureStdout([&] { EXPECT_EQ(session.load(comms.get()).outcome, LoadOutcome::Loaded); });
    EXPECT_EQ(session.record().vspeeds.Vne, busUnit().settings().vspeeds.Vne);

    sim::RebootBehaviour away;
    away.away_looks = 1;
    busUnit().setRebootBehaviour(away);
    const unit_locator::Look back = updateRebootAndWait();
    ASSERT_EQ(back.kind, Return::Same);
    EXPECT_EQ(back.serial, ON_BUS);
    EXPECT_EQ(back.unit.iface, CAN_FD);
    EXPECT_EQ(back.unit.path, BUS);
    ASSERT_TRUE(comms->isConnected());
    EXPECT_EQ(comms->getActiveInterface(), CAN_FD);
    EXPECT_EQ(comms->confirmedSerial(CAN_FD), ON_BUS);

    // The image went over the bus into the unit chosen; the unit on USB was only asked who it is.
    EXPECT_GT(busUnit().flash().writeCount(), 0u);
    EXPECT_EQ(busUnit().reboots(), 1u);
    EXPECT_TRUE(std::all_of(busUnit().received().begin(), busUnit().received().end(),
                            [](const sim::Message &m) { return m.iface == CAN_FD; }));
    EXPECT_EQ(sim::unit().reboots(), 0u);
    EXPECT_TRUE(std::all_of(sim::unit().received().begin(), sim::unit().received().end(),
                            [](const sim::Message &m) { return m.can_id == CANMSG_WHOAMI; }));

    comms.reset();
    EXPECT_EQ(sim::canCalls().opened, sim::canCalls().closed) << "a CAN socket was left open";
}

TEST_F(CanFdReturn, AnotherUnitAnsweringOnTheBusIsNotTakenForTheOneUpdated) {
    connectToBusUnit();
    sim::RebootBehaviour other;
    other.serial_after = 0xCAFE0001u;
    busUnit().setRebootBehaviour(other);
    const unit_locator::Look back = updateRebootAndWait();
    EXPECT_EQ(back.kind, Return::Other);
    EXPECT_EQ(back.serial, 0xCAFE0001u);
    EXPECT_EQ(back.unit.iface, CAN_FD);
    // The unit on USB, present before the update, is never the one that came back.
    EXPECT_EQ(sim::unit().reboots(), 0u);
}
