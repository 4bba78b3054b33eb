// efis-cli flash as a whole: the file check before any exchange, the backup, the reboot with the
// wait for the same unit and the comparison of its settings, and an interrupt during the
// transfer.
#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <csignal>
#include <fstream>
#include <thread>

#include "backup_file.h"
#include "cli_run.h"
#include "interrupt_request.h"
#include "firmware_helpers.h"
#include "settings_file.h"
#include "sim_unit.h"

namespace {

class CliFlash : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        sim::unit().flash().setPartition(partition_1);
        image = writeImage("image.bin", fwtest::makeImage({3 * MX25_BLOCK_SIZE, 160000}));
        backup = dir.filePath("backup.json").toStdString();
    }
    void TearDown() override { EXPECT_FALSE(sim::unit().corruptStoreSeen()); }

    std::string writeImage(const char *name, const Bytes &bytes) {
        const std::string path = dir.filePath(name).toStdString();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    // The unit comes back from its reboot after one look that misses it, with `vne` in place of
    // its stored value.
    static void rebootResetsVne(uint8_t vne) {
        sim::RebootBehaviour behaviour;
        behaviour.away_looks = 1;
        Settings_t reset = sim::SimUnit::defaultSettings();
        reset.vspeeds.Vne = vne;
        std::memset(reset.registration, 0, sizeof(reset.registration));
        reset.crc32 = sim::SimUnit::storeChecksum(reset);
        behaviour.settings_after = reset;
        sim::unit().setRebootBehaviour(behaviour);
    }

    QTemporaryDir dir;
    std::string image;
    std::string backup;
};

} // namespace

TEST_F(CliFlash, ABadImageIsRefusedBeforeAnyExchange) {
    const std::string short_image =
        writeImage("short.bin", fwtest::makeImage({MX25_BLOCK_SIZE, 1000, 236}));
    const std::string missing = dir.filePath("none.bin").toStdString();
    for (const std::string &path : {short_image, missing}) {
        const CliRun r = cli({"flash", path, "--backup", backup});
        EXPECT_EQ(r.status, CLI_USAGE);
        EXPECT_EQ(r.err.rfind("efis-cli: " + path + " ", 0), 0u) << r.err;
        EXPECT_TRUE(sim::unit().received().empty());
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(backup)));
}

TEST_F(CliFlash, ARebootThatResetsTheSettingsListsThemAndRestoresThem) {
    sim::unit().settings().vspeeds.Vne = 171;
    sim::unit().settings().crc32 = sim::SimUnit::storeChecksum(sim::unit().settings());
    sim::unit().storedSettings() = sim::unit().settings();
    rebootResetsVne(150);

    CliRun r = cli({"flash", image, "--backup", backup, "--reboot"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_NE(r.out.find("version 0x"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("settings backed up to " + backup + "\n"), std::string::npos) << r.out;
    EXPECT_NE(
        r.out.find("the unit is back\nvne: 171 -> 150\nregistration: G-ABCD -> \nrestore them "
                   "with: efis-cli import " +
                   backup + "\n"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(sim::unit().reboots(), 1u);
    // The backup holds the settings of before, and import puts them back.
    r = cli({"import", backup});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(sim::unit().storedSettings().vspeeds.Vne, 171);

    // --restore-settings does it at once: sent, then stored.
    rebootResetsVne(99);
    // The backup named is there now: refused before anything is written, unless --force.
    // Read and closed at once: a file held open cannot be replaced on Windows.
    const auto contents = [&] {
        QFile file(QString::fromStdString(backup));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray kept = contents();
    ASSERT_FALSE(kept.isEmpty());
    const std::size_t writes = sim::unit().flash().writeCount();
    r = cli({"flash", image, "--backup", backup, "--restore-settings"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("exists: the firmware was not written (--force replaces it)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(sim::unit().flash().writeCount(), writes);
    EXPECT_EQ(contents(), kept);
    r = cli({"--json", "flash", image, "--backup", backup, "--force", "--restore-settings"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.json().value("differences").toArray().size(), 2);
    EXPECT_TRUE(r.json().value("restored").toObject().value("stored").toBool());
    EXPECT_EQ(sim::unit().storedSettings().vspeeds.Vne, 171);
    EXPECT_EQ(sim::unit().reboots(), 2u);

    // Nothing changed by the update: said so.
    sim::unit().setRebootBehaviour({});
    r = cli({"flash", image, "--no-backup", "--reboot"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_NE(r.out.find("the unit is back\nsettings unchanged\n"), std::string::npos) << r.out;
}

TEST_F(CliFlash, AnotherUnitOrNoneAfterTheRebootFails) {
    sim::RebootBehaviour other;
    other.serial_after = 0xCAFE0001u;
    sim::unit().setRebootBehaviour(other);
    const CliRun r = cli({"flash", image, "--no-backup", "--reboot"});
    EXPECT_EQ(r.status, CLI_UNIT_FAILED);
    EXPECT_NE(r.err.find("another unit answered after the reboot (serial number 0xCAFE0001, not "
                         "0x12345678)"),
              std::string::npos)
        << r.err;
}

TEST_F(CliFlash, SigintLetsTheWriteInFlightFinishAndSaysWhereItStopped) {
    EFIS_SKIP_WITHOUT_CONSOLE_INTERRUPT();
    sim::unit().setReplyDelayMicros(400); // some 1.5 s of payload
    CliRun r;
    {
        const InterruptRequest interrupt(std::chrono::milliseconds(400));
        r = cli({"flash", image, "--backup", backup, "--reboot"});
    }
    EXPECT_EQ(r.status, CLI_INTERRUPTED) << r.err;
    unsigned at = 0;
    unsigned of = 0;
    const std::size_t line = r.err.find("efis-cli: interrupted during the firmware update at ");
    ASSERT_NE(line, std::string::npos) << r.err;
    ASSERT_EQ(std::sscanf(r.err.c_str() + line,
                          "efis-cli: interrupted during the firmware update at %u of %u bytes: "
                          "the update is incomplete",
                          &at, &of),
              2);
    EXPECT_EQ(of, 160000u);
    EXPECT_LT(at, of);
    // The last request was a write the unit confirmed; no reboot followed.
    EXPECT_EQ(sim::unit().received().back().can_id, static_cast<uint32_t>(CANMSG_WRITE_MX25));
    EXPECT_EQ(sim::unit().flash().read(FW_PARTITION_1_START_BLOCK * MX25_BLOCK_SIZE + 64 + at, 1),
              Bytes{0xFF});
    EXPECT_TRUE(sim::unit().flash().violations().empty());
    EXPECT_EQ(sim::unit().reboots(), 0u);
    EXPECT_NE(r.err.find("not rebooted: the firmware image in the unit is incomplete"),
              std::string::npos);
}

TEST_F(CliFlash, AFailureMidTransferLeavesTheUnitUnrebooted) {
    // The unit refuses a payload write once its blocks are erased: the image is incomplete.
    sim::unit().onlyFault(sim::Fault::on(sim::FaultKind::Nack, CANMSG_WRITE_MX25, 3));
    const CliRun r = cli({"flash", image, "--no-backup", "--reboot"});
    EXPECT_NE(r.status, CLI_OK);
    EXPECT_NE(r.err.find("firmware update failed: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("; not rebooted: the firmware image in the unit is incomplete: it may "
                         "not start"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(sim::unit().rebootRequested());
    EXPECT_EQ(sim::unit().reboots(), 0u);
}

TEST(AfterUpdate, BackupNameSaysWhichAircraftUnitAndDay) {
    Settings_t record = sim::SimUnit::defaultSettings();
    EXPECT_EQ(backup_file::defaultName(record, 0x00AB12CDu, QDate(2026, 12, 8)),
              "G-ABCD-00AB12CD-2026-12-08.json");
    std::memset(record.registration, 0, sizeof(record.registration));
    EXPECT_EQ(backup_file::defaultName(record, backup_file::NO_SERIAL, QDate(2026, 1, 2)),
              "efis-settings-2026-01-02.json");
}

TEST_F(CliFlash, TwoFlashesOnOneDayKeepBothBackupsUnderNamesAShellTakesAsFiles) {
    // A registration that starts with '-', as a unit may hold.
    std::memcpy(sim::unit().settings().registration, "-X--", 4);
    sim::unit().settings().crc32 = sim::SimUnit::storeChecksum(sim::unit().settings());
    sim::unit().storedSettings() = sim::unit().settings();
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir.path());
    // Back from each reboot with Vne 99 and the same registration.
    sim::RebootBehaviour behaviour;
    Settings_t reset = sim::unit().settings();
    reset.vspeeds.Vne = 99;
    reset.crc32 = sim::SimUnit::storeChecksum(reset);
    behaviour.settings_after = reset;
    sim::unit().setRebootBehaviour(behaviour);
    CliRun first = cli({"flash", image, "--reboot"});
    CliRun second = cli({"flash", image, "--reboot"});
    QDir::setCurrent(saved);
    ASSERT_EQ(first.status, CLI_OK) << first.err;
    ASSERT_EQ(second.status, CLI_OK) << second.err;
    const QStringList backups = QDir(dir.path()).entryList({"*.json"}, QDir::Files);
    ASSERT_EQ(backups.size(), 2) << backups.join(' ').toStdString();
    const QString name = "-X--CD-12345678-" + QDate::currentDate().toString(Qt::ISODate) + ".json";
    EXPECT_TRUE(backups.contains(name));
    EXPECT_TRUE(backups.contains(name.chopped(5) + "-2.json"));
    // The first run's restore command still names the first backup, as a file.
    const std::string command = "restore them with: efis-cli import ./" + name.toStdString() + "\n";
    EXPECT_NE(first.out.find(command), std::string::npos) << first.out;
    Settings_t kept{};
    ASSERT_EQ(settings_file::readFile(dir.filePath(name), &kept, nullptr).outcome,
              settings_file::FileOutcome::Read);
    EXPECT_EQ(kept.vspeeds.Vne, 150);
}

TEST_F(CliFlash, TheUnitChosenIsTheOneWaitedFor) {
    sim::addUnit("sim:second", 0x0BADCAFEu);
    sim::units()[1].flash().setPartition(partition_1);
    sim::RebootBehaviour away;
    away.away_looks = 3;
    sim::units()[1].setRebootBehaviour(away);
    // The second unit, updated and rebooted while the first stays: the wait is for the second.
    const CliRun r = cli({"flash", image, "--no-backup", "--reboot", "--serial", "0x0BADCAFE"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_NE(r.out.find("the unit is back\n"), std::string::npos) << r.out;
    EXPECT_EQ(sim::units()[1].reboots(), 1u);
    EXPECT_EQ(sim::unit().reboots(), 0u);
    EXPECT_TRUE(std::none_of(sim::unit().received().begin(), sim::unit().received().end(),
                             [](const sim::Message &m) { return m.can_id != CANMSG_WHOAMI; }))
        << "the first unit was only asked its serial number";
}

TEST_F(CliFlash, APartialReadIsSaidAndKeptOutOfFilesAndSaves) {
    // Field 5 unanswered at the load (the tenth request, after the four header words).
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING, 9));
    CliRun r = cli({"get", "vne"});
    EXPECT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_NE(r.err.find("warning: could not read field(s) 5 of the unit's settings: they are "
                         "left out of any save"),
              std::string::npos)
        << r.err;
    sim::reset();
    sim::unit().flash().setPartition(partition_1);
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING, 9));
    r = cli({"flash", image});
    EXPECT_EQ(r.status, CLI_UNIT_FAILED);
    EXPECT_NE(r.err.find("no backup of the unit's settings could be made"), std::string::npos);
    EXPECT_EQ(sim::unit().flash().writeCount(), 0u);

    // A file named by the person is not replaced unless --force, and never through a link.
    sim::reset();
    const QString victim = dir.filePath("victim.txt");
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("precious");
    file.close();
    const QString named = dir.filePath("mine.json");
    ASSERT_TRUE(QFile::link(victim, named));
    r = cli({"export", named.toStdString()});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("exists: nothing written (--force replaces it)"), std::string::npos);
    r = cli({"export", named.toStdString(), "--force"});
    EXPECT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_FALSE(QFileInfo(named).isSymLink());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "precious");
}
