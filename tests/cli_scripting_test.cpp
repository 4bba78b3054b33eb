// efis-cli as scripts and people read it: errors as JSON under --json, short usage errors, the
// fields in the order asked, the next step named, and a file of another unit named.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTemporaryDir>

#include <fstream>

#include "cli_run.h"
#include "firmware_helpers.h"
#include "sim_unit.h"

namespace {

class CliScripting : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
    QTemporaryDir dir;
};

std::size_t setRequests() {
    std::size_t n = 0;
    for (const sim::Message &m : sim::unit().received()) {
        n += m.can_id == CANMSG_SET_USER_SETTING ? 1 : 0;
    }
    return n;
}

} // namespace

TEST_F(CliScripting, UnderJsonEveryFailureIsOneObjectOnStandardOutput) {
    CliRun r = cli({"--json", "frobnicate"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_EQ(r.out, "{\"error\":\"unknown command \\\"frobnicate\\\"\",\"exit\":2}\n");

    r = cli({"--json", "set", "vne=300"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_TRUE(r.json().value("error").toString().contains("value 300 is not allowed")) << r.out;
    EXPECT_EQ(r.json().value("exit").toInt(), CLI_USAGE);

    // The problems under the last line go with it.
    r = cli({"--json", "set", "vne=50", "vs0=130"});
    EXPECT_TRUE(r.json().value("error").toString().startsWith("nothing sent")) << r.out;
    EXPECT_TRUE(r.json().value("details").toArray().contains(
        "Vne (50) is below Vn0 (120): the yellow arc would run backwards"))
        << r.out;

    sim::addUnit("sim:second", 0x0BADCAFEu);
    r = cli({"--json", "get", "vne"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_EQ(r.json().value("error").toString(), "2 units found; choose one, nothing was sent:");
    EXPECT_EQ(r.json().value("details").toArray().size(), 2);

    // A command whose own object says what failed adds none.
    const std::string file = dir.filePath("unit.json").toStdString();
    ASSERT_EQ(cli({"export", file, "--serial", "0x12345678"}).status, CLI_OK);
    sim::reset();
    ASSERT_EQ(cli({"set", "vne=100", "--force"}).status, CLI_OK);
    ASSERT_EQ(cli({"export", file, "--force"}).status, CLI_OK); // over the first
    r = cli({"--json", "check", file});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_TRUE(r.json().contains("problems"));
}

TEST_F(CliScripting, AUsageErrorIsOneLineAndWhereTheHelpIs) {
    for (const std::initializer_list<std::string> &line : {std::initializer_list<std::string>{},
                                                           {"frobnicate"},
                                                           {"export"},
                                                           {"get", "--bogus"},
                                                           {"reboot", "--save"}}) {
        const CliRun r = cli(line);
        EXPECT_EQ(r.status, CLI_USAGE);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "see efis-cli --help\n") << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(cli({}).err, "efis-cli: no command given\nsee efis-cli --help\n");
    EXPECT_TRUE(sim::unit().outputReports().empty());
}

TEST_F(CliScripting, SetTakesEachFieldOnceAndGetAnswersInTheOrderAsked) {
    CliRun r = cli({"set", "vne=150", "vne=151"});
    EXPECT_EQ(r.status, CLI_USAGE);
    EXPECT_EQ(r.err, "efis-cli: vne is named twice: give each field once\n");
    EXPECT_EQ(setRequests(), 0u);

    EXPECT_EQ(cli({"get", "vne", "speed_unit", "vs0"}).out,
              "vne: 150\nspeed_unit: knots\nvs0: 45\n");
}

TEST_F(CliScripting, SetAndFlashNameTheNextStep) {
    CliRun r = cli({"set", "vne=170"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "sent vne\nsent, not stored: the unit loses these values when it restarts; "
                     "efis-cli save stores them\n");
    EXPECT_EQ(cli({"set", "vne=171", "--save"}).out.find("not stored"), std::string::npos);
    // The step names the unit as this command line chose it.
    r = cli({"set", "vne=172", "--device", "sim:efis-display-unit"});
    EXPECT_NE(r.out.find("efis-cli save --device sim:efis-display-unit stores them"),
              std::string::npos)
        << r.out;

    sim::unit().flash().setPartition(partition_1);
    const Bytes image = fwtest::makeImage({1000, 300});
    const std::string path = dir.filePath("image.bin").toStdString();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(image.data()),
               static_cast<std::streamsize>(image.size()));
    r = cli({"flash", path, "--no-backup"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1),
              "the new firmware starts when the unit restarts: efis-cli reboot restarts it\n");
}

TEST_F(CliScripting, ImportAndDiffNameAFileTakenFromAnotherUnit) {
    sim::SimUnit &second = sim::addUnit("sim:second", 0x0BADCAFEu);
    second.settings().vspeeds.Vne = 140;
    second.settings().crc32 = sim::SimUnit::storeChecksum(second.settings());
    const std::string file = dir.filePath("second.json").toStdString();
    ASSERT_EQ(cli({"export", file, "--device", "sim:second"}).status, CLI_OK);

    CliRun r = cli({"diff", file, "--serial", "0x12345678"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out, file + " was taken from the unit 0x0BADCAFE, not from the connected unit "
                            "0x12345678\nvne: 150 -> 140\n");
    r = cli({"--json", "import", file, "--serial", "0x12345678"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.json().value("taken_from").toString(), "0x0BADCAFE");
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 140);

    // Its own unit's file: no word of it.
    r = cli({"diff", file, "--device", "sim:second"});
    EXPECT_EQ(r.out, "no differences\n");
}
