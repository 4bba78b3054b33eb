// efis-cli preview in process: the drawing of a settings file or of the unit's settings as a
// PNG of the requested size, with the problems it names.
#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "capture.h"
#include "efis_cli.h"
#include "sim_unit.h"

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

CliRun cli(std::vector<std::string> words) {
    words.insert(words.begin(), "efis-cli");
    std::vector<char *> argv;
    for (std::string &w : words) {
        argv.push_back(w.data());
    }
    CliRun r;
    r.err = captureStderr([&] {
        r.out = captureStdout(
            [&] { r.status = efisCliMain(static_cast<int>(argv.size()), argv.data()); });
    });
    return r;
}

} // namespace

TEST(CliPreview, DrawsAFileOrTheUnitAtTheRequestedSize) {
    sim::reset();
    QTemporaryDir dir;
    const std::string file = dir.filePath("unit.json").toStdString();
    const std::string png = dir.filePath("preview.png").toStdString();
    ASSERT_EQ(cli({"export", file}).status, CLI_OK);

    // From the file: nothing is asked of the unit.
    sim::unit().settings().vspeeds.Vne = 100; // the unit's own settings are not the file's
    const std::size_t requests = sim::unit().received().size();
    CliRun r = cli({"--json", "preview", png, "--from", file, "--size", "320x240"});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_EQ(sim::unit().received().size(), requests);
    const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
    EXPECT_EQ(report.value("problems").toArray(), QJsonArray());
    QImage image(QString::fromStdString(png));
    EXPECT_EQ(image.size(), QSize(320, 240));

    // From the unit, at the default size, naming what is wrong with its arcs.
    r = cli({"preview", png});
    ASSERT_EQ(r.status, CLI_OK) << r.err;
    EXPECT_GT(sim::unit().received().size(), requests);
    EXPECT_NE(r.out.find("problem: Yellow Arc runs backwards: Vn0 120 is above Vne 100\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(800, 600));

    // Sizes that are not WIDTHxHEIGHT in range, and files that are not settings files, are
    // refused without writing anything.
    const std::string other = dir.filePath("other.png").toStdString();
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"preview", other, "--size", "800"},
          {"preview", other, "--size", "10x600"},
          {"preview", other, "--size", "5000x600"},
          {"preview", other, "--from", png},
          {"preview", other, "--save"}}) {
        r = cli(args);
        EXPECT_EQ(r.status, CLI_USAGE) << args.back();
        EXPECT_FALSE(QFile::exists(QString::fromStdString(other))) << args.back();
    }
    // The preview's options are its own.
    EXPECT_EQ(cli({"get", "vne", "--from", file}).status, CLI_USAGE);
}
