// efis-cli-demo as a person runs it: a program of its own over the simulated unit, whose state
// lasts from one run to the next.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

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
