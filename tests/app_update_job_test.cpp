// The update job and the unit locator without a window, against the simulated unit: the unit
// that returns with its settings reset, with another serial number, not at all, with a second
// unit on the bench, and a unit reached over CAN FD; and why a failed transfer failed.
#include <gtest/gtest.h>

#include <QFile>

#include <cstring>
#include <fstream>

#include "capture.h"
#include "firmware_helpers.h"
#include "get_set.h"
#include "settings_session.h"
#include "sim_unit.h"
#include "transfer_meter.h"
#include "unit_locator.h"
#include "update_job.h"

namespace {

using unit_locator::Return;

unit_locator::Wanted bySerial(uint32_t serial) {
    unit_locator::Wanted wanted;
    wanted.by_serial = true;
    wanted.serial = serial;
    return wanted;
}

constexpr std::chrono::milliseconds SHORT_WAIT{1200};

class UpdateJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        sim::unit().flash().setPartition(partition_1);
        image = dir.write("image.bin", fwtest::makeImage({2 * MX25_BLOCK_SIZE, 20000}));
        ASSERT_FALSE(image.empty());
    }

    // Connected to the unit `choice` opens, its settings loaded into the session.
    void connect(const UnitChoice &choice = {}) {
        comms = std::make_unique<CommsManager>();
        comms->choose(choice);
        captureStdout([&] {
            ASSERT_TRUE(comms->establish_connection());
            ASSERT_EQ(session.load(comms.get()).outcome, LoadOutcome::Loaded);
        });
    }

    update_job::Transfer transfer(const std::string &path) {
        update_job::Transfer done;
        const update_job::ImageStep image = update_job::checkImage(QString::fromStdString(path));
        captureStdout([&] { done = update_job::transfer(comms.get(), image.image, {}, nullptr); });
        return done;
    }

    // The update up to the wait: transfer, the target taken, reboot; then the wait.
    unit_locator::Look updateRebootAndWait(std::chrono::milliseconds timeout = SHORT_WAIT) {
        EXPECT_EQ(transfer(image).result.end, FwTransferEnd::Completed);
        unit_locator::Look look;
        captureStdout([&] {
            const unit_locator::Target target = update_job::returnTarget(comms.get());
            EXPECT_TRUE(update_job::rebootAndLetGo(comms.get()));
            look = unit_locator::waitFor(target, comms, timeout, nullptr);
        });
        return look;
    }

    fwtest::TempDir dir;
    std::string image;
    std::unique_ptr<CommsManager> comms;
    SettingsSession session;
};

} // namespace

TEST_F(UpdateJobTest, AUnitResetByTheUpdateIsFoundAgainAndOnlyWhatDiffersIsRestored) {
    connect();
    update_job::Before before;
    before.serial = comms->confirmedSerial(USB_HID);
    before.has_settings = true;
    before.settings = session.record();

    sim::RebootBehaviour behaviour;
    behaviour.away_looks = 2;
    Settings_t reset = sim::unit().storedSettings();
    reset.vspeeds.Vne = 99;
    reset.registration[5] = 'E';         // one letter in the registration's second word
    reset.units.units_value ^= 1u << 20; // a bit no choice of the form shows
    reset.crc32 = sim::SimUnit::storeChecksum(reset);
    behaviour.settings_after = reset;
    sim::unit().setRebootBehaviour(behaviour);

    const unit_locator::Look back = updateRebootAndWait();
    ASSERT_EQ(back.kind, Return::Same);
    EXPECT_EQ(back.serial, sim::SimUnit::DEFAULT_SERIAL);
    ASSERT_TRUE(comms->isConnected());
    captureStdout([&] { ASSERT_EQ(session.load(comms.get()).outcome, LoadOutcome::Loaded); });

    const update_job::RestorePlan plan = update_job::restorePlan(before.settings, session.record());
    EXPECT_EQ(plan.fields, (FieldSet{UNITS_VALUE_INDEX, VNE_INDEX, REGISTRATION_1_INDEX,
                                     REGISTRATION_2_INDEX, REGISTRATION_3_INDEX}));
    // Each changed field is listed, the units word too though no choice shows its bit.
    QStringList keys;
    for (const settings_file::Difference &row : update_job::changes(before, session.record())) {
        keys << row.key;
    }
    EXPECT_TRUE(keys.contains("vne"));
    EXPECT_TRUE(keys.contains("registration"));
    EXPECT_EQ(keys.size(), 3) << keys.join(' ').toStdString();

    // Restored as the plan says: only its words are sent, then stored.
    const std::size_t from = sim::unit().received().size();
    for (const settings_struct_index index : plan.fields) {
        session.edit(index, settings_get_value(&plan.target, index));
    }
    captureStdout(
        [&] { EXPECT_TRUE(session.sendEdits(comms.get(), UnitChoices{}).failed.empty()); });
    std::vector<int> sent;
    for (std::size_t i = from; i < sim::unit().received().size(); ++i) {
        if (sim::unit().received()[i].can_id == CANMSG_SET_USER_SETTING) {
            sent.push_back(sim::unit().received()[i].data[0]);
        }
    }
    EXPECT_EQ(sent, (std::vector<int>{UNITS_VALUE_INDEX, VNE_INDEX, REGISTRATION_1_INDEX,
                                      REGISTRATION_2_INDEX, REGISTRATION_3_INDEX}));
    EXPECT_EQ(std::memcmp(&sim::unit().settings().units, &before.settings.units, 4), 0);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, before.settings.vspeeds.Vne);

    // Nothing differs: an empty plan, no rows.
    EXPECT_TRUE(update_job::restorePlan(before.settings, before.settings).empty());
    EXPECT_TRUE(update_job::changes(before, before.settings).empty());
}

TEST_F(UpdateJobTest, AnotherSerialNumberOrNoUnitAtAllIsNotTakenForTheUnit) {
    connect();
    sim::RebootBehaviour other;
    other.serial_after = 0xCAFE0001u;
    sim::unit().setRebootBehaviour(other);
    unit_locator::Look back = updateRebootAndWait();
    EXPECT_EQ(back.kind, Return::Other);
    EXPECT_EQ(back.serial, 0xCAFE0001u);

    sim::reset();
    sim::unit().flash().setPartition(partition_1);
    connect();
    sim::RebootBehaviour gone;
    gone.never_returns = true;
    sim::unit().setRebootBehaviour(gone);
    const auto start = std::chrono::steady_clock::now();
    back = updateRebootAndWait(std::chrono::milliseconds(700));
    EXPECT_EQ(back.kind, Return::NotYet);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
    EXPECT_FALSE(comms->isConnected());
    // A stop request ends the wait at once.
    FwCancelFlag stop{true};
    EXPECT_EQ(unit_locator::waitFor({}, comms, std::chrono::hours(1), &stop).kind, Return::NotYet);
}

TEST_F(UpdateJobTest, TheWaitIsForTheUnitChosenNotForAnotherOnTheBench) {
    sim::addUnit("sim:second", 0x0BADCAFEu);
    sim::units()[1].flash().setPartition(partition_1);
    // The first unit updated while the second stays: the second is never taken for it.
    connect(unit_locator::connectionFor(
        unit_locator::choose(unit_locator::list(DEFAULT_CANFD_INTERFACE), bySerial(0x12345678u))
            .unit,
        DEFAULT_CANFD_INTERFACE));
    sim::RebootBehaviour away;
    away.away_looks = 3;
    sim::unit().setRebootBehaviour(away);
    unit_locator::Look back = updateRebootAndWait();
    EXPECT_EQ(back.kind, Return::Same);
    EXPECT_EQ(back.serial, 0x12345678u);
    EXPECT_EQ(back.unit.path, "sim:efis-display-unit");

    // The second unit, chosen by its path, updated while the first stays.
    unit_locator::Wanted by_path;
    by_path.by_path = true;
    by_path.path = "sim:second";
    const unit_locator::Choice chosen =
        unit_locator::choose(unit_locator::list(DEFAULT_CANFD_INTERFACE), by_path);
    ASSERT_EQ(chosen.outcome, unit_locator::ChoiceOutcome::Chosen);
    EXPECT_EQ(chosen.count, 2u);
    comms.reset();
    connect(unit_locator::connectionFor(chosen.unit, DEFAULT_CANFD_INTERFACE));
    ASSERT_EQ(comms->confirmedSerial(USB_HID), 0x0BADCAFEu);
    sim::units()[1].setRebootBehaviour(away);
    back = updateRebootAndWait();
    EXPECT_EQ(back.kind, Return::Same);
    EXPECT_EQ(back.serial, 0x0BADCAFEu);
    EXPECT_EQ(comms->confirmedSerial(USB_HID), 0x0BADCAFEu);
    EXPECT_EQ(sim::units()[1].reboots(), 1u);

    // Nothing asked for among two units: no guess.
    EXPECT_EQ(unit_locator::choose(unit_locator::list(DEFAULT_CANFD_INTERFACE), {}).outcome,
              unit_locator::ChoiceOutcome::Ambiguous);
    EXPECT_EQ(
        unit_locator::choose(unit_locator::list(DEFAULT_CANFD_INTERFACE), bySerial(7u)).outcome,
        unit_locator::ChoiceOutcome::NotFound);
}

TEST_F(UpdateJobTest, AUnitReachedOverCanFdIsWaitedForThereNotOnUsb) {
    // The unit was reached on a CAN FD interface (absent on this machine); a unit with its
    // serial number on USB is not it coming back there, and is not even asked.
    unit_locator::Target target;
    target.unit.iface = CAN_FD;
    target.unit.path = "efistest9";
    target.unit.serial = sim::SimUnit::DEFAULT_SERIAL;
    target.can_interface = "efistest9";
    std::unique_ptr<CommsManager> waiting;
    unit_locator::Look look;
    captureStdout([&] {
        look = unit_locator::waitFor(target, waiting, std::chrono::milliseconds(0), nullptr);
    });
    EXPECT_EQ(look.kind, Return::NotYet);
    EXPECT_FALSE(waiting->isConnected());
    EXPECT_TRUE(sim::unit().received().empty());

    // The same unit reached over USB is found there.
    target.unit.iface = USB_HID;
    target.unit.path = "sim:efis-display-unit";
    captureStdout([&] {
        look = unit_locator::waitFor(target, waiting, std::chrono::milliseconds(0), nullptr);
    });
    EXPECT_EQ(look.kind, Return::Same);
    EXPECT_TRUE(waiting->isConnected());
}

TEST_F(UpdateJobTest, AFailedTransferSaysWhy) {
    connect();
    sim::unit().flash().setPartitionNack(true);
    update_job::Transfer done = transfer(image);
    EXPECT_EQ(done.result.end, FwTransferEnd::Failed);
    EXPECT_EQ(done.failure, update_job::TransferFailure::EraseRefused);
    EXPECT_EQ(done.reasonText().toStdString(),
              "The unit refused the erase or did not confirm it (0 of 2 blocks erased); nothing "
              "was written.");
    sim::unit().flash().setPartitionNack(false);

    // The second block's erase refused.
    sim::unit().onlyFault(sim::Fault::on(sim::FaultKind::Nack, CANMSG_ERASE_MX25, 1u, 1));
    done = transfer(image);
    EXPECT_EQ(done.failure, update_job::TransferFailure::EraseRefused);
    EXPECT_EQ(done.blocks_erased, 1u);

    // A write answered with the wrong status.
    sim::unit().onlyFault(sim::Fault::on(sim::FaultKind::Nack, CANMSG_WRITE_MX25, 5u));
    done = transfer(image);
    EXPECT_EQ(done.failure, update_job::TransferFailure::UnexpectedReply);
    EXPECT_GT(done.result.bytes_confirmed, 0u);

    // An image that did not pass its check: refused before anything is sent.
    sim::unit().clearFaults();
    const std::string cut = dir.write("cut.bin", fwtest::makeImage({2 * MX25_BLOCK_SIZE, 20000}));
    ASSERT_TRUE(QFile::resize(QString::fromStdString(cut), 30));
    const std::size_t requests = sim::unit().received().size();
    done = transfer(cut);
    EXPECT_EQ(done.failure, update_job::TransferFailure::FileError);
    EXPECT_EQ(sim::unit().received().size(), requests);

    // The unit pulled out during the payload.
    sim::unit().onlyFault(sim::Fault::on(sim::FaultKind::Unplug, CANMSG_WRITE_MX25, 9u));
    done = transfer(image);
    EXPECT_EQ(done.failure, update_job::TransferFailure::LostUnit);
    EXPECT_TRUE(done.reasonText().startsWith("The unit went away or stopped answering after "));
}

TEST(TransferMeter, OneRuleForShareRateAndTimeLeft) {
    TransferMeter meter;
    EXPECT_EQ(meter.update(1, 4, 0, 0).percent, 25);
    EXPECT_FALSE(meter.update(4, 4, 0, 300).has_rate) << "no rate while erasing";
    EXPECT_EQ(TransferMeter().update(0, 0, 1, 300).percent, 0) << "nothing to send";
    // The payload starts at 400 ms with 64 bytes confirmed; the rate counts from there.
    TransferMeter::Reading r = meter.update(64, 10064, 1, 400);
    EXPECT_FALSE(r.has_rate);
    r = meter.update(564, 10064, 1, 899);
    EXPECT_FALSE(r.has_rate) << "not yet half a second of payload";
    r = meter.update(1064, 10064, 1, 1400);
    ASSERT_TRUE(r.has_rate);
    EXPECT_DOUBLE_EQ(r.bytes_per_second, 1000.0);
    EXPECT_EQ(r.seconds_left, 9);
    EXPECT_EQ(r.percent, 10);
    EXPECT_EQ(r.rateText(), "0:09 left, 1.0 kB/s");
    r = meter.update(4064, 200064, 1, 2400);
    EXPECT_EQ(r.rateText(), "1:38 left, 2.0 kB/s") << r.rateText().toStdString();
}

TEST(UpdateJobCompare, ValuesSentButNotStoredAreNamedApartFromWhatTheUpdateChanged) {
    // Sent before the update: Vne 170 and one registration word. The unit comes back with its
    // stored Vne and registration, and the new firmware reset Vs0.
    update_job::Before before;
    before.has_settings = true;
    before.settings = sim::SimUnit::defaultSettings();
    before.unstored = {{VNE_INDEX, 170u}, {REGISTRATION_2_INDEX, 0x45000000u}};
    Settings_t now = before.settings;
    now.vspeeds.Vs0 = 33;
    const auto keys = [](const std::vector<settings_file::Difference> &rows) {
        QStringList k;
        for (const settings_file::Difference &row : rows) {
            k << row.key;
        }
        return k;
    };
    const update_job::Comparison both = update_job::compare(before, now);
    EXPECT_EQ(keys(both.changed), QStringList({"vs0"}));
    EXPECT_EQ(keys(both.unsaved), QStringList({"vne", "registration"}));
    EXPECT_EQ(both.plan.target.vspeeds.Vne, 170);

    // Without a backup the values sent are still known, and only they are compared.
    before.has_settings = false;
    const update_job::Comparison sent = update_job::compare(before, now);
    EXPECT_TRUE(sent.changed.empty());
    EXPECT_EQ(sent.plan.fields, (FieldSet{VNE_INDEX, REGISTRATION_1_INDEX, REGISTRATION_2_INDEX,
                                          REGISTRATION_3_INDEX}));
}
