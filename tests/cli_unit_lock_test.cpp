// efis-cli beside another program on the same unit, on a unit whose settings record is erased,
// and interrupted while a read waits in the kernel.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "cli_run.h"
#include "interrupt_request.h"
#include "comms.h"
#include "sim_unit.h"

namespace {

class CliBeside : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
};

} // namespace

TEST_F(CliBeside, AUnitHeldByAnotherProgramIsRefusedWithItsOwnStatusAndNothingSent) {
    auto window = std::make_unique<CommsManager>(); // as the window holds it while connected
    captureStdout([&] { ASSERT_TRUE(window->establish_connection()); });
    const std::size_t requests = sim::unit().received().size();

    CliRun r = cli({"get", "vne"});
    EXPECT_EQ(r.status, CLI_IN_USE);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("efis-cli: EFIS 0x12345678 at sim:efis-display-unit is in use by "
                         "another program ("),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("): nothing sent\n"), std::string::npos) << r.err;
    EXPECT_EQ(sim::unit().received().size(), requests);

    r = cli({"--json", "devices"});
    EXPECT_EQ(r.status, CLI_OK);
    EXPECT_NE(r.out.find("\"in_use\":true"), std::string::npos) << r.out;
    EXPECT_EQ(sim::unit().received().size(), requests);

    window.reset();
    r = cli({"get", "vne"});
    EXPECT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "vne: 150\n");
}

TEST_F(CliBeside, AnErasedRecordIsReadAsSuchAndRepairedBySetAndSave) {
    QTemporaryDir dir;
    const std::string backup = dir.filePath("backup.json").toStdString();
    ASSERT_EQ(cli({"export", backup}).status, CLI_OK);
    Settings_t erased;
    std::memset(&erased, 0xFF, sizeof(erased));
    sim::unit().settings() = erased;
    sim::unit().storedSettings() = erased;

    CliRun r = cli({"--json", "info"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.err, "efis-cli: the unit's settings record is erased; Save writes a new one\n");
    EXPECT_EQ(r.json().value("magic").toString(), "0xFFFFFFFF");

    // Every field of the erased record holds 0xFF bytes, outside what a settings file takes: the
    // backup gives every field a value, and the store writes a new record.
    r = cli({"import", backup});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    ASSERT_EQ(sim::unit().stores().size(), 1u);
    EXPECT_FALSE(sim::unit().stores().back().corrupt);
    r = cli({"set", "vne=140", "--save"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;

    // What was stored reads back as a record, under a checksum that matches it.
    r = cli({"--json", "info"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.json().value("crc_check").toString(), "passed");
    EXPECT_EQ(r.json().value("magic").toString(), "0x5F57565A");
    EXPECT_EQ(cli({"get", "vne"}).out, "vne: 140\n");
}

TEST_F(CliBeside, AnErasedSerialNumberIsAUnitNotNoUnit) {
    sim::unit().setSerialNumber(0xFFFFFFFFu);
    const CliRun r = cli({"get", "vne"});
    EXPECT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "vne: 150\n");
}

TEST_F(CliBeside, CtrlCWhileAReadWaitsInTheKernelStopsBetweenExchanges) {
    EFIS_SKIP_WITHOUT_CONSOLE_INTERRUPT();
    // Each reply keeps the read waiting in poll(), where Ctrl-C lands.
    sim::unit().setReplyWaitMillis(3);
    CliRun r;
    {
        const InterruptRequest interrupt(std::chrono::milliseconds(40));
        r = cli({"get", "vne"});
    }
    EXPECT_EQ(r.status, CLI_INTERRUPTED) << r.err;
    EXPECT_EQ(r.err, "efis-cli: interrupted during get: nothing was sent\n");
    EXPECT_EQ(r.out, "");
    // The load ran to its end: no exchange was cut short and none failed.
    std::size_t requests = 0;
    for (const sim::Message &m : sim::unit().received()) {
        requests += m.can_id == CANMSG_REQUEST_USER_SETTING ? 1 : 0;
    }
    EXPECT_EQ(requests, 35u);
}
