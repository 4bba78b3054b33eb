// The backup's name and writer: two backups on one day both kept, nothing ever written through a
// link planted at the name, a name the person gave replaced only when they said so, and names in
// printed commands that a shell and efis-cli take as files.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>

#include "backup_file.h"
#include "settings_file.h"
#include "sim_unit.h"
#include "update_job.h"

namespace {

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void put(const QString &path, const QByteArray &text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

class BackupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        before.serial = 0x12345678u;
        before.has_settings = true;
        before.settings = sim::SimUnit::defaultSettings();
        // The tool's own names go to the current folder.
        saved = QDir::currentPath();
        QDir::setCurrent(dir.path());
    }
    void TearDown() override { QDir::setCurrent(saved); }

    QTemporaryDir dir;
    QString saved;
    update_job::Before before;
    const QDate day{2026, 12, 8};
};

} // namespace

TEST_F(BackupTest, TwoBackupsOnOneDayAreBothKept) {
    const QString name = "G-ABCD-12345678-2026-12-08.json";
    EXPECT_EQ(backup_file::defaultName(before.settings, before.serial, day), name);
    ASSERT_TRUE(update_job::backUp(before, {}, day).ok());
    EXPECT_EQ(before.backup_path, name);
    const QByteArray first = contents(name);

    before.settings.vspeeds.Vne = 171;
    backup_file::Written second = update_job::backUp(before, {}, day);
    ASSERT_TRUE(second.ok()) << second.problem.toStdString();
    EXPECT_EQ(before.backup_path, "G-ABCD-12345678-2026-12-08-2.json");
    EXPECT_EQ(contents(name), first) << "the first backup is kept as it was";
    Settings_t read{};
    ASSERT_TRUE(settings_file::read(contents(before.backup_path), &read, nullptr, nullptr));
    EXPECT_EQ(read.vspeeds.Vne, 171);
    EXPECT_EQ(update_job::backUp(before, {}, day).path, "G-ABCD-12345678-2026-12-08-3.json");
}

TEST_F(BackupTest, ALinkPlantedAtTheNameIsNeverFollowed) {
    const QString victim = dir.filePath("victim.txt");
    put(victim, "precious");
    const QString name = backup_file::defaultName(before.settings, before.serial, day);
    ASSERT_TRUE(QFile::link(victim, name));
    // A dangling link is as good as any: it would create the file it points to.
    ASSERT_TRUE(QFile::link(dir.filePath("elsewhere.json"), "G-ABCD-12345678-2026-12-08-2.json"));

    ASSERT_TRUE(update_job::backUp(before, {}, day).ok());
    EXPECT_EQ(before.backup_path, "G-ABCD-12345678-2026-12-08-3.json");
    EXPECT_EQ(contents(victim), "precious");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("elsewhere.json")));

    // A name the person gave: refused while it exists, unless they said to replace it; then
    // the link is replaced by the file and what it pointed to is left alone.
    const QString named = dir.filePath("mine.json");
    ASSERT_TRUE(QFile::link(victim, named));
    backup_file::Written written = update_job::backUp(before, {named, false}, day);
    EXPECT_EQ(written.outcome, backup_file::Outcome::Exists);
    EXPECT_TRUE(before.backup_path.isEmpty());
    written = update_job::backUp(before, {named, true}, day);
    ASSERT_TRUE(written.ok()) << written.problem.toStdString();
    EXPECT_FALSE(QFileInfo(named).isSymLink());
    EXPECT_TRUE(settings_file::read(contents(named), &before.settings, nullptr, nullptr));
    EXPECT_EQ(contents(victim), "precious");

    // A folder where the file should go is not replaced; nothing is left beside it.
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.json"));
    written = update_job::backUp(before, {dir.filePath("folder.json"), true}, day);
    EXPECT_EQ(written.outcome, backup_file::Outcome::Failed);
    EXPECT_FALSE(written.problem.isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList({"folder.json.*"}, QDir::Files).size(), 0);
}

TEST_F(BackupTest, PrintedNamesAreTakenAsFilesByAShellAndTheOptionParser) {
#if defined(_WIN32)
    GTEST_SKIP() << "the printed names are quoted for a POSIX shell, which Windows does not have";
#endif
    std::memcpy(before.settings.registration, "-X--", 4);
    const QString name = backup_file::defaultName(before.settings, before.serial, day);
    ASSERT_TRUE(name.startsWith('-')) << name.toStdString();
    EXPECT_EQ(backup_file::commandArgument(name), "./" + name);
    EXPECT_EQ(backup_file::commandArgument("/tmp/G-ABCD.json"), "/tmp/G-ABCD.json");
    // Whatever the name holds, the shell hands the program the name itself.
    for (const QString &path : {QString("my backups/G-ABCD.json"), QString("it's $HOME `x`.json"),
                                QString("-rf *.json")}) {
        QProcess shell;
        shell.start("/bin/sh", {"-c", "printf '%s' " + backup_file::commandArgument(path)});
        ASSERT_TRUE(shell.waitForFinished(5000));
        const QString got = QString::fromUtf8(shell.readAllStandardOutput());
        EXPECT_EQ(got, path.startsWith('-') ? "./" + path : path) << path.toStdString();
    }
}
