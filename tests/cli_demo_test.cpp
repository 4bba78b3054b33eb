// efis-cli-demo as a person runs it: a program of its own over the simulated unit, whose state
// lasts from one run to the next.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "demo_units.h"
#include "sim_unit.h"

namespace {

struct DemoRun {
    int status = -1;
    std::string output; // standard output and error
};

class CliDemo : public ::testing::Test {
protected:
    // Runs efis-cli-demo with `args` (already quoted for the shell), its state in `dir`.
    DemoRun demo(const std::string &args) {
        const std::string command = "XDG_RUNTIME_DIR='" + dir.path().toStdString() +
                                    "' QT_QPA_PLATFORM= '" EFIS_CLI_DEMO "' " + args + " 2>&1";
        DemoRun r;
        FILE *pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            return r;
        }
        std::array<char, 4096> buffer{};
        std::size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
            r.output.append(buffer.data(), n);
        }
        const int wait_status = pclose(pipe);
        r.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
        return r;
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(CliDemo, PreviewDrawsAndAValueSetInOneRunIsThereInTheNext) {
    const std::string png = dir.filePath("preview.png").toStdString();
    DemoRun r = demo("--reset-demo preview '" + png + "' --size 320x240");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "preview written to " + png + " (320x240)\n");
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(320, 240));

    ASSERT_EQ(demo("set vne=171").status, 0);
    r = demo("get vne");
    EXPECT_EQ(r.output, "vne: 171\n");
}

TEST_F(CliDemo, UnitsAreChosenByNumberAndEachKeepsItsOwnState) {
    DemoRun r = demo("--units 3 devices");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "0x12345678  USB HID  sim:efis-display-unit\n"
                        "0x12345679  USB HID  sim:efis-display-unit-2\n"
                        "0x1234567A  USB HID  sim:efis-display-unit-3\n");
    ASSERT_EQ(demo("--units 3 set vne=142 --save --serial 0x1234567A").status, 0);
    EXPECT_EQ(demo("--units 3 get vne --serial 0x1234567A").output, "vne: 142\n");
    // A run with fewer units leaves the others' state as it was.
    EXPECT_EQ(demo("get vne").output, "vne: 150\n");
    EXPECT_EQ(demo("--units=3 get vne --device sim:efis-display-unit-3").output, "vne: 142\n");

    r = demo("--units 0 devices");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.output, "efis-cli-demo: --units takes a number of units from 1 to 8\n");
}

// Two demos that run at once each write back only the units they changed: neither change is
// lost, whichever demo ends last.
TEST_F(CliDemo, TwoDemosAtOnceKeepBothTheirChanges) {
    const QString path = dir.filePath("units.state");
    demo::setUpUnits(2);
    const demo::Loaded first = demo::loadUnits(path, "test");
    const demo::Loaded second = first;

    sim::units()[0].settings().vspeeds.Vne = 143; // the first demo's change
    ASSERT_TRUE(demo::saveUnits(path, first, "test"));

    demo::setUpUnits(2); // the second demo's units, as it loaded them
    sim::units()[1].settings().vspeeds.Vne = 144;
    ASSERT_TRUE(demo::saveUnits(path, second, "test"));

    demo::setUpUnits(2);
    demo::loadUnits(path, "test");
    EXPECT_EQ(sim::units()[0].settings().vspeeds.Vne, 143);
    EXPECT_EQ(sim::units()[1].settings().vspeeds.Vne, 144);
    sim::reset();
}
