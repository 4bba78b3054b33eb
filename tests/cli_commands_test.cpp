// efis-cli in process, over the simulated unit: each command once, its JSON, and the exit status
// of each kind of failure.
#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "cli_run.h"
#include "firmware_helpers.h"
#include "sim_unit.h"

namespace {

std::size_t setRequests() {
    std::size_t n = 0;
    for (const sim::Message &m : sim::unit().received()) {
        n += m.can_id == CANMSG_SET_USER_SETTING ? 1 : 0;
    }
    return n;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
    void TearDown() override { EXPECT_FALSE(sim::unit().corruptStoreSeen()); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(Cli, InfoAndGetReadTheUnitWithCleanOutput) {
    CliRun r = cli({"--json", "info"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.json().value("serial_number").toString(), "0x12345678");
    EXPECT_EQ(r.json().value("crc_check").toString(), "passed");
    EXPECT_EQ(r.json().value("num_elements").toInt(), 26);
    EXPECT_EQ(r.err, "") << "the device layer's lines stay behind --verbose";

    r = cli({"--json", "get", "vne", "speed_unit", "registration"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "{\"registration\":\"G-ABCD\",\"speed_unit\":\"knots\",\"vne\":150}\n");

    r = cli({"--verbose", "get", "vne"});
    EXPECT_EQ(r.out, "vne: 150\n");
    EXPECT_NE(r.err.find("CRC Check Passed."), std::string::npos) << r.err;

    r = cli({"get", "vne_typo"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("unknown field \"vne_typo\""), std::string::npos) << r.err;
}

TEST_F(Cli, SetSendsOnlyWhatChangesAndSaveStoresUnderAMatchingChecksum) {
    CliRun r = cli({"set", "vne=180", "speed_unit=mph", "--keep-speeds", "--save"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out.substr(0, 31), "sent speed_unit\nsent vne\nstored");
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 180);
    EXPECT_TRUE(sim::unit().settings().units.bits.is_mph);
    EXPECT_FALSE(sim::unit().settings().units.bits.is_knots);
    EXPECT_EQ(sim::unit().stores().size(), 1u);

    // Out of range: refused before anything is sent.
    const std::size_t sets = setRequests();
    r = cli({"set", "vne=300"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("Field \"vne\": value 300 is not allowed"), std::string::npos) << r.err;
    EXPECT_EQ(setRequests(), sets);
}

TEST_F(Cli, ExportImportAndDiffRestoreAUnitsSettings) {
    const std::string file = dir.filePath("unit.json").toStdString();
    ASSERT_EQ(cli({"export", file}).status, CLI_OK);
    const Settings_t exported = sim::unit().settings();

    // Another unit's settings: the dry run lists the differences and sends nothing.
    sim::unit().settings().vspeeds.Vne = 99;
    sim::unit().settings().backlight_brightness = 3;
    sim::unit().settings().crc32 = sim::SimUnit::storeChecksum(sim::unit().settings());
    const std::size_t sets = setRequests();
    CliRun r = cli({"import", file, "--dry-run"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "vne: 99 -> 150\nbacklight_brightness: 3 -> 15\n");
    EXPECT_EQ(setRequests(), sets);
    EXPECT_EQ(cli({"diff", file}).out, r.out);

    r = cli({"--json", "import", file});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_TRUE(r.json().value("stored").toBool());
    EXPECT_EQ(setRequests(), sets + 2);
    EXPECT_EQ(std::memcmp(&sim::unit().settings().units, &exported.units,
                          sizeof(Settings_t) - offsetof(Settings_t, units)),
              0);
}

TEST_F(Cli, FlashAndReboot) {
    sim::unit().flash().setPartition(partition_1);
    const Bytes image = fwtest::makeImage({70000, 200});
    const std::string path = dir.filePath("image.bin").toStdString();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(image.data()),
               static_cast<std::streamsize>(image.size()));
    CliRun r = cli({"flash", path, "--backup", dir.filePath("backup.json").toStdString()});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_NE(r.err.find("Writing: 100% (200 / 200 bytes"), std::string::npos) << r.err;
    EXPECT_EQ(sim::unit().flash().read(FW_PARTITION_1_START_BLOCK * MX25_BLOCK_SIZE, image.size()),
              image);

    EXPECT_NE(r.out.find("firmware written from " + path + "\n"), std::string::npos) << r.out;

    r = cli({"reboot"});
    EXPECT_EQ(r.status, CLI_OK);
    EXPECT_EQ(r.out, "reboot command sent\n");
    EXPECT_TRUE(sim::unit().rebootRequested());
    // A reboot command that cannot be written is said so, and fails.
    sim::reset();
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::UnplugBeforeWrite, CANMSG_ENTER_BL));
    r = cli({"reboot"});
    EXPECT_EQ(r.status, CLI_UNIT_FAILED);
    EXPECT_EQ(r.err.rfind("efis-cli: the reboot command could not be sent\n", 0), 0u) << r.err;
    EXPECT_EQ(sim::unit().reboots(), 0u);
}

TEST_F(Cli, ExitStatusTellsTheKindOfFailure) {
    EXPECT_EQ(cli({"frobnicate"}).status, CLI_USAGE);
    EXPECT_EQ(cli({"export"}).status, CLI_USAGE);

    const std::string bad = dir.filePath("bad.json").toStdString();
    std::ofstream(bad) << "{\"format\": \"efis-config-settings\", \"format_version\": 9}";
    CliRun r = cli({"import", bad});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("newer than this tool reads"), std::string::npos) << r.err;

    sim::unit().addFault(sim::Fault::on(sim::FaultKind::Nack, CANMSG_SET_USER_SETTING));
    r = cli({"set", "vne=170"});
    EXPECT_EQ(r.status, CLI_UNIT_FAILED);
    EXPECT_NE(r.err.find("efis-cli: the unit did not take field(s) 6\n"), std::string::npos)
        << r.err;
    sim::reset(); // requests counted afresh
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING, 9));
    r = cli({"export", dir.filePath("partial.json").toStdString()});
    EXPECT_EQ(r.status, CLI_UNIT_FAILED);
    EXPECT_FALSE(QFile::exists(dir.filePath("partial.json"))) << "no backup from a partial read";

    sim::unit().enumeration().clear();
    r = cli({"info"});
    EXPECT_EQ(r.status, CLI_NO_UNIT);
    EXPECT_NE(r.err.find("no EFIS unit found"), std::string::npos) << r.err;
}

TEST_F(Cli, ALoadOrStoreThatFailsIsSaidWithWhy) {
    // The marker word (the second header word) unanswered: nothing more is read.
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING, 1));
    CliRun r = cli({"get", "vne"});
    EXPECT_EQ(r.status, CLI_UNIT_FAILED);
    EXPECT_NE(r.err.find("efis-cli: could not read header word 253 of the unit's settings\n"),
              std::string::npos)
        << r.err;

    // The unit reports a checksum its record does not have: said, and the values still shown.
    sim::reset();
    sim::unit().settings().crc32 = 0x00C0FFEEu;
    char computed[16];
    std::snprintf(computed, sizeof(computed), "0x%08X",
                  static_cast<unsigned>(sim::SimUnit::storeChecksum(sim::unit().settings())));
    r = cli({"get", "vne"});
    EXPECT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_NE(r.err.find(std::string("warning: the unit's checksum 0x00C0FFEE does not match its "
                                     "settings (") +
                         computed + ")\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("vne: "), std::string::npos) << r.out;

    // A store the unit refuses: the values were sent, and the line says why nothing was stored.
    sim::reset();
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::Nack, CANMSG_SAVE_USER_SETTINGS));
    r = cli({"set", "vne=181", "--save"});
    EXPECT_EQ(r.status, CLI_UNIT_FAILED);
    EXPECT_NE(r.err.find("efis-cli: settings not stored: the unit could not erase its settings "
                         "memory\n"),
              std::string::npos)
        << r.err;

    // A field the load could not read, and the save's read of it fails again: the line names it.
    const auto reads = [] {
        std::size_t n = 0;
        for (const sim::Message &m : sim::unit().received()) {
            n += m.can_id == CANMSG_REQUEST_USER_SETTING ? 1 : 0;
        }
        return static_cast<unsigned>(n);
    };
    sim::reset();
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING, 9));
    cli({"get", "vne"});
    const unsigned loaded = reads();
    sim::reset();
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING, 9));
    sim::unit().addFault(
        sim::Fault::on(sim::FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING, loaded));
    r = cli({"set", "vne=181", "--save"});
    EXPECT_EQ(r.status, CLI_UNIT_FAILED);
    EXPECT_NE(r.err.find("efis-cli: settings not stored: could not read field(s) "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(", which the save keeps as the unit holds them\n"), std::string::npos)
        << r.err;
}

// Windows has neither named pipes in the file system nor /dev/zero.
#ifndef _WIN32
TEST_F(Cli, FilesThatNeverEndAreRefusedBeforeTheUnitIsReached) {
    const std::string fifo = dir.filePath("pipe.json").toStdString();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        const char *message;
    };
    const Case cases[] = {
        {"/dev/zero", "refused: too large for a settings file (it holds more than 1 MiB)"},
        {fifo, "it is a pipe or a device that did not end within 1 s"},
        {dir.path().toStdString(), "it is a directory"},
    };
    for (const Case &c : cases) {
        const CliRun r = cli({"diff", c.path});
        EXPECT_EQ(r.status, CLI_USAGE) << c.path;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(sim::unit().received().empty()) << c.path;
    }
}
#endif

TEST_F(Cli, ACommandThatChangesNothingSaysSo) {
    const std::string file = dir.filePath("unit.json").toStdString();
    ASSERT_EQ(cli({"export", file}).status, CLI_OK);
    EXPECT_EQ(cli({"diff", file}).out, "no differences\n");
    EXPECT_EQ(cli({"import", file, "--dry-run"}).out, "no differences\n");

    const std::size_t sets = setRequests();
    CliRun r = cli({"set", "vne=150"});
    EXPECT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "no differences: nothing sent\n");
    r = cli({"set", "speed_unit=null"}); // null keeps the unit's choice
    EXPECT_EQ(r.out, "no differences: nothing sent\n");
    EXPECT_EQ(setRequests(), sets);
}

TEST_F(Cli, AnOptionTheCommandDoesNotTakeIsRefusedBeforeAnythingIsSent) {
    const Settings_t before = sim::unit().settings();
    for (const std::initializer_list<std::string> &line :
         {std::initializer_list<std::string>{"set", "vne=100", "--dry-run"},
          {"reboot", "--dry-run"},
          {"get", "vne", "--save"},
          {"diff", "unit.json", "--save"},
          {"flash", "image.bin", "--save"},
          {"get", "vne", "--from", "unit.json"},
          {"preview", "unit.png", "--save"}}) {
        const CliRun r = cli(line);
        EXPECT_EQ(r.status, CLI_USAGE) << *line.begin();
        EXPECT_NE(r.err.find("does not take --"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(sim::unit().outputReports().empty()) << "not even the serial number asked";
    EXPECT_FALSE(sim::unit().rebootRequested());
    EXPECT_EQ(std::memcmp(&sim::unit().settings(), &before, sizeof(before)), 0);

    // The options every command takes, and those of its own, still pass.
    EXPECT_EQ(cli({"--json", "--verbose", "set", "vne=151", "--save"}).status, CLI_OK);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 151);
}

TEST_F(Cli, ContradictingSettingsAreRefusedUnlessForcedAndCheckListsThem) {
    const std::size_t sets = setRequests();
    CliRun r = cli({"set", "vne=50", "vs0=130"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("Vne (50) is below Vn0 (120): the yellow arc would run backwards"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("nothing sent"), std::string::npos) << r.err;
    EXPECT_EQ(setRequests(), sets);

    // An import of such a file is refused the same way; a dry run only warns.
    const std::string file = dir.filePath("bad.json").toStdString();
    ASSERT_EQ(cli({"export", file}).status, CLI_OK);
    {
        std::ifstream in(file);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t at = text.find("\"vne\": 150");
        ASSERT_NE(at, std::string::npos);
        text.replace(at, 10, "\"vne\": 100");
        std::ofstream(file) << text;
    }
    EXPECT_EQ(cli({"import", file}).status, CLI_USAGE);
    EXPECT_EQ(setRequests(), sets);
    r = cli({"import", file, "--dry-run"});
    EXPECT_EQ(r.status, CLI_OK);
    EXPECT_NE(r.err.find("warning: Vne (100) is below Vn0 (120)"), std::string::npos) << r.err;

    // check: the file without a unit, then the unit's own settings.
    sim::unit().enumeration().clear();
    r = cli({"check", file});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_EQ(r.out, "Vne (100) is below Vn0 (120): the yellow arc would run backwards\n");
    sim::reset();
    r = cli({"check"});
    EXPECT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "no problems: the settings keep every rule\n");

    // --force sends them anyway.
    r = cli({"set", "vne=100", "--force"});
    EXPECT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 100);
    EXPECT_EQ(cli({"check", "--force"}).status, CLI_USAGE); // check takes no --force
}

TEST_F(Cli, SeveralUnitsAreListedAndNoneIsGuessed) {
    sim::SimUnit &second = sim::addUnit("sim:second", 0x0BADCAFEu);
    CliRun r = cli({"devices"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "0x12345678  USB HID  sim:efis-display-unit\n"
                     "0x0BADCAFE  USB HID  sim:second\n");
    r = cli({"--json", "devices"});
    EXPECT_EQ(r.json().value("devices").toArray().at(1).toObject().value("path").toString(),
              "sim:second");

    // No choice: refused, naming each unit with the option that picks it; no settings sent.
    r = cli({"set", "vne=161"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("2 units found"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--serial 0x0BADCAFE or --device sim:second"), std::string::npos) << r.err;
    EXPECT_EQ(setRequests(), 0u);
    for (const sim::Message &m : second.received()) {
        EXPECT_EQ(m.can_id, static_cast<uint32_t>(CANMSG_WHOAMI)) << "only asked who it is";
    }

    // Chosen by serial number (hexadecimal or decimal) or by path: only that unit changes.
    EXPECT_EQ(cli({"set", "vne=161", "--serial", "0x0BADCAFE"}).status, CLI_OK);
    EXPECT_EQ(second.settings().vspeeds.Vne, 161);
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 150);
    EXPECT_EQ(cli({"set", "vne=162", "--serial", "195939070"}).status, CLI_OK);
    EXPECT_EQ(second.settings().vspeeds.Vne, 162);
    r = cli({"--json", "info", "--device", "sim:second"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.json().value("serial_number").toString(), "0x0BADCAFE");
    EXPECT_EQ(r.json().value("interface").toString(), "USB HID");
    EXPECT_EQ(r.json().value("path").toString(), "sim:second");

    EXPECT_EQ(cli({"info", "--serial", "0x1"}).status, CLI_NO_UNIT);
    EXPECT_EQ(cli({"info", "--serial", "twelve"}).status, CLI_USAGE);
    EXPECT_EQ(cli({"info", "--device", "sim:nowhere"}).status, CLI_NO_UNIT);
    EXPECT_EQ(cli({"devices", "--serial", "0x0BADCAFE"}).status, CLI_USAGE);

    sim::units().clear();
    sim::units().emplace_back();
    sim::unit().enumeration().clear();
    EXPECT_EQ(cli({"devices"}).status, CLI_NO_UNIT);
}

TEST_F(Cli, AUnitPulledOutDuringAFlashIsNamedWithWhatWasConfirmed) {
    sim::unit().flash().setPartition(partition_1);
    const Bytes image = fwtest::makeImage({1000, 300});
    const std::string path = dir.filePath("image.bin").toStdString();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(image.data()),
               static_cast<std::streamsize>(image.size()));
    // The third payload write: two pieces of the payload were confirmed.
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::Unplug, CANMSG_WRITE_MX25, 3));
    CliRun r = cli({"flash", path});
    EXPECT_EQ(r.status, CLI_UNIT_FAILED);
    EXPECT_NE(r.err.find("the unit was disconnected during flash after 128 byte(s) of the image "
                         "were confirmed; the update is incomplete: run it again"),
              std::string::npos)
        << r.err;

    sim::reset();
    sim::unit().addFault(sim::Fault::on(sim::FaultKind::Unplug, CANMSG_REQUEST_USER_SETTING, 3));
    r = cli({"get"});
    EXPECT_EQ(r.status, CLI_UNIT_FAILED);
    EXPECT_NE(r.err.find("the unit was disconnected during get"), std::string::npos) << r.err;
}

TEST_F(Cli, PreviewDrawsAFileOrTheUnitAtTheRequestedSize) {
    const std::string file = dir.filePath("unit.json").toStdString();
    const std::string png = dir.filePath("preview.png").toStdString();
    ASSERT_EQ(cli({"export", file}).status, CLI_OK);

    // From the file, nothing is asked of the unit, whose own settings now differ.
    sim::unit().settings().vspeeds.Vne = 100;
    const std::size_t requests = sim::unit().received().size();
    CliRun r = cli({"--json", "preview", png, "--from", file, "--size", "320x240"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(sim::unit().received().size(), requests);
    EXPECT_EQ(r.json().value("problems").toArray(), QJsonArray());
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(320, 240));

    // From the unit, at the default size, naming what is wrong with its arcs.
    r = cli({"preview", png});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    const QStringList lines = QString::fromStdString(r.out).split('\n');
    EXPECT_EQ(lines.filter(QRegularExpression("^problem: .*Vn0")).filter("Vne").size(), 1) << r.out;
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(800, 600));

    // A size that is not WIDTHxHEIGHT in range, or a file that is not a settings file, is
    // refused without writing anything.
    const std::string other = dir.filePath("other.png").toStdString();
    for (const char *size : {"800", "10x600", "5000x600"}) {
        EXPECT_EQ(cli({"preview", other, "--from", file, "--size", size}).status, CLI_USAGE);
    }
    EXPECT_EQ(cli({"preview", other, "--from", png}).status, CLI_USAGE);
    EXPECT_EQ(cli({"preview", other, "--from", file, "--serial", "1"}).status, CLI_USAGE);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(other)));
}

TEST_F(Cli, ControlCharactersFromAUnitOrAFileAreShownEscapedAndNeverSent) {
    // A registration that would clear a terminal and forge a line of its own.
    std::memcpy(sim::unit().settings().registration, "G\x1b[2J\nvne:9", 11);
    sim::unit().settings().crc32 = sim::SimUnit::storeChecksum(sim::unit().settings());
    CliRun r = cli({"get", "registration", "vne"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "registration: G\\x1b[2J\\x0avne:9\nvne: 150\n");
    r = cli({"--json", "get", "registration"});
    EXPECT_EQ(r.json().value("registration").toString(), "G\x1b[2J\nvne:9");

    // A file holding it: diff shows it escaped, import refuses it and sends nothing.
    const std::string file = dir.filePath("unit.json").toStdString();
    ASSERT_EQ(cli({"export", file}).status, CLI_OK);
    sim::reset();
    r = cli({"diff", file});
    EXPECT_EQ(r.out, "registration: G-ABCD -> G\\x1b[2J\\x0avne:9\n");
    const std::size_t sets = setRequests();
    for (const bool dry_run : {false, true}) {
        r = dry_run ? cli({"import", file, "--dry-run"}) : cli({"import", file});
        EXPECT_EQ(r.status, CLI_USAGE);
        EXPECT_NE(r.err.find("refused: the registration \"G\\x1b[2J\\x0avne:9\" holds control "
                             "characters: only printable characters are taken"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
    }

    // set refuses it typed, as the window's registration box never takes it.
    r = cli({"set", "registration=\"G-\\u0007X\""});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("the registration \"G-\\x07X\" holds control characters"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(setRequests(), sets);
    EXPECT_EQ(std::string(sim::unit().settings().registration), "G-ABCD");

    // The same rule as the window's box: a soft hyphen shows nothing on the unit.
    r = cli({"set", "registration=\"G-A\u00adB\""});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_NE(r.err.find("holds U+00AD"), std::string::npos) << r.err;
    EXPECT_EQ(setRequests(), sets);
}
