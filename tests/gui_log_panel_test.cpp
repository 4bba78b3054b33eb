// The log panel over a running capture: it holds what the terminal shows, standard output and
// the log handler's lines in their order, while the terminal still gets every line unchanged;
// Save Log writes it; the About box names the versions and the licence.
#include <QDockWidget>
#include <QLabel>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTest>

#include <cstdio>
#include <functional>
#include <thread>

#include <unistd.h>

#include "gui_window.h"
#include "log_capture.h"

using namespace gui_test;

namespace {

// Standard output and error both into one file, as a terminal interleaves them.
std::string bothStreams(const std::function<void()> &body) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::FILE *tmp = std::tmpfile();
    const int out = dup(STDOUT_FILENO);
    const int err = dup(STDERR_FILENO);
    dup2(fileno(tmp), STDOUT_FILENO);
    dup2(fileno(tmp), STDERR_FILENO);
    body();
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    close(out);
    close(err);
    std::string text;
    std::rewind(tmp);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), tmp)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(tmp);
    return text;
}

std::string join(const std::vector<LogCapture::Line> &lines, LogCapture::Stream stream) {
    std::string text;
    for (const LogCapture::Line &line : lines) {
        if (line.stream == stream) {
            text += line.text.toStdString() + "\n";
        }
    }
    return text;
}

class LogPanelTest : public WindowTest {
protected:
    // A load in which one field goes unanswered: the device layer's lines on standard output and
    // the window's warning through the log handler come in turns.
    static void unitMissingField5() {
        sim::reset();
        sim::unit().addFault(
            sim::Fault::on(sim::FaultKind::NoReply, CANMSG_REQUEST_USER_SETTING, 5));
        // Each device-layer line goes out as it is printed, as efis-config's entry point has it.
        std::fflush(stdout);
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
    }
    QPlainTextEdit *logView() { return w<QPlainTextEdit>("logView"); }
};

} // namespace

TEST_F(LogPanelTest, HoldsALoadsLinesInTheTerminalsOrderAndTheTerminalStillGetsThem) {
    unitMissingField5();
    std::string terminal = bothStreams([] {
        qInstallMessageHandler(customMessageHandler);
        MainWindow w;
    });
    // Where CAN FD is missing, a program says so once: in whichever of the two runs comes first.
    const std::string once = "CAN FD is not available on this system\n";
    if (const std::size_t at = terminal.find(once); at != std::string::npos) {
        terminal.erase(at, once.size());
    }
    // The reference interleaves: the load's device-layer lines, then the window's warning
    // through the log handler (a fully buffered standard output would come after it).
    const std::size_t warning = terminal.find("Debug: Warning: Failed to read value for index");
    ASSERT_NE(warning, std::string::npos) << terminal;
    EXPECT_LT(terminal.find("Connected via USB HID"), warning) << terminal;
    EXPECT_LT(terminal.find("\napp: 0x"), warning) << terminal;

    unitMissingField5();
    std::string panel, kept_then, kept;
    std::vector<LogCapture::Line> lines;
    const Output o = run([&] {
        LogCapture capture;
        ASSERT_TRUE(capture.start(customMessageHandler));
        window = std::make_unique<MainWindow>();
        window->findChild<QAction *>("actionLog")->trigger();
        EXPECT_FALSE(window->findChild<QDockWidget *>("logPanel")->isHidden());
        // The panel follows the capture through queued signals.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return logView()->blockCount() == static_cast<int>(capture.lineCount()); },
            5000));
        panel = logView()->toPlainText().toStdString() + "\n";
        kept_then = capture.text().toStdString();
        window.reset();
        kept = capture.text().toStdString();
        lines = capture.linesFrom(0);
    });
    EXPECT_EQ(panel, kept_then);
    EXPECT_EQ(kept, terminal);
    // Passed on unchanged, each stream to where it went.
    EXPECT_EQ(o.out, join(lines, LogCapture::Stream::Out));
    EXPECT_EQ(o.log, join(lines, LogCapture::Stream::Err));
    EXPECT_NE(o.log.find("Debug: Warning: Failed to read value for index"), std::string::npos);
}

TEST_F(LogPanelTest, SaveLogWritesTheCapture) {
    QTemporaryDir dir;
    const QString path = dir.filePath("support.txt");
    run([&] {
        LogCapture capture;
        // As efis-config's entry point starts it: the window installs the log handler through it.
        ASSERT_TRUE(capture.start());
        window = std::make_unique<MainWindow>();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return logView()->blockCount() == static_cast<int>(capture.lineCount()); },
            5000));
        whenModal<QFileDialog>([&](QFileDialog *d) {
            d->selectFile(path);
            static_cast<QDialog *>(d)->accept();
        });
        window->findChild<QAction *>("actionSaveLog")->trigger();
        EXPECT_EQ(status(), "Log saved to " + path);
        QFile saved(path);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_TRUE(capture.text().contains(QRegularExpression(
            "\nDebug: Created string: .* \\(.*mainwindow\\.cpp:[0-9]+, .+\\)\n")))
            << capture.text().toStdString();
        EXPECT_EQ(saved.readAll(), capture.text().toLocal8Bit());
        window.reset();
    });
}

TEST_F(LogPanelTest, EveryLineWrittenByAnotherThreadReachesTheView) {
#if defined(_WIN32)
    // Under wine every write to the capture's pipe is a round trip through its server, some
    // thousand times what it costs on Linux or on Windows itself: fewer lines, the same race.
    constexpr int LINES = 5000;
#else
    constexpr int LINES = 50000;
#endif
    run([&] {
        LogCapture capture;
        ASSERT_TRUE(capture.start(customMessageHandler));
        window = std::make_unique<MainWindow>();
        std::thread writer([] {
            for (int i = 0; i < LINES; ++i) {
                std::printf("burst %d\n", i);
            }
            std::fflush(stdout);
        });
        // The GUI thread shows lines while the other thread still writes them.
        const bool all = QTest::qWaitFor(
            [&] {
                return capture.lineCount() > 0 &&
                       logView()->document()->lastBlock().text() ==
                           QStringLiteral("burst %1").arg(LINES - 1) &&
                       logView()->blockCount() == static_cast<int>(capture.lineCount());
            },
            60000);
        writer.join();
        EXPECT_TRUE(all);
        const QStringList shown =
            logView()->toPlainText().split('\n').filter(QRegularExpression("^burst "));
        ASSERT_EQ(shown.size(), LINES);
        for (int i = 0; i < LINES; ++i) {
            ASSERT_EQ(shown.at(i), QStringLiteral("burst %1").arg(i));
        }
        window.reset();
    });
}

TEST_F(LogPanelTest, TheCaptureIsBoundedInLinesAndBytesAndTheViewSaysWhatWasDropped) {
    QTemporaryDir dir;
    const QString path = dir.filePath("support.txt");
    run([&] {
        LogCapture capture(LogCapture::Bounds{200, 64 * 1024});
        ASSERT_TRUE(capture.start(customMessageHandler));
        window = std::make_unique<MainWindow>();
        window->findChild<QAction *>("actionLog")->trigger();
        const auto caughtUp = [&] {
            return QTest::qWaitFor(
                [&] {
                    const LogCapture::Lines kept = capture.since(0);
                    return !kept.lines.empty() &&
                           logView()->toPlainText() ==
                               QStringList([&] {
                                   QStringList texts;
                                   for (const LogCapture::Line &line : kept.lines) {
                                       texts << line.text;
                                   }
                                   return texts;
                               }())
                                   .join('\n');
                },
                30000);
        };
        // Short lines: the line bound holds.
        for (int i = 0; i < 1000; ++i) {
            std::printf("short %d\n", i);
        }
        std::fflush(stdout);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return capture.since(0).lines.back().text == "short 999"; }, 30000));
        EXPECT_TRUE(caughtUp());
        EXPECT_LE(capture.since(0).lines.size(), 200u);
        // Long lines: the byte bound holds, though few lines are kept.
        const std::string long_line(8000, 'x');
        for (int i = 0; i < 40; ++i) {
            std::printf("long %d %s\n", i, long_line.c_str());
        }
        std::fflush(stdout);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return capture.since(0).lines.back().text.startsWith("long 39 "); }, 30000));
        EXPECT_TRUE(caughtUp());
        EXPECT_LE(capture.keptBytes(), 64u * 1024u);
        const LogCapture::Lines kept = capture.since(0);
        EXPECT_LT(kept.lines.size(), 10u);
        EXPECT_EQ(kept.dropped + kept.lines.size(), capture.lineCount());
        EXPECT_EQ(kept.next, capture.lineCount());

        // The view names the lines dropped; Save Log writes it first, then the capture.
        const QString dropped = QStringLiteral("%1 earlier lines dropped to keep the log within "
                                               "its bounds")
                                    .arg(kept.dropped);
        EXPECT_EQ(w<QLabel>("logDropped")->text(), dropped);
        EXPECT_TRUE(w<QLabel>("logDropped")->isVisibleTo(window.get()));
        whenModal<QFileDialog>([&](QFileDialog *d) {
            d->selectFile(path);
            static_cast<QDialog *>(d)->accept();
        });
        window->findChild<QAction *>("actionSaveLog")->trigger();
        QFile saved(path);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll(),
                  ("[" + dropped + "]\n").toLocal8Bit() + capture.text().toLocal8Bit());
        window.reset();
    });
}

TEST_F(LogPanelTest, ControlCharactersInALineAreShownEscaped) {
    run([&] {
        LogCapture capture;
        ASSERT_TRUE(capture.start(customMessageHandler));
        window = std::make_unique<MainWindow>();
        std::printf("registration \x1b]0;owned\x07G-AB\tC\n");
        std::fflush(stdout);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return logView()->document()->lastBlock().text() ==
                       "registration \\x1b]0;owned\\x07G-AB\\x09C";
            },
            30000))
            << logView()->document()->lastBlock().text().toStdString();
        window.reset();
    });
}

TEST_F(LogPanelTest, AboutNamesTheVersionsAndTheLicence) {
    open();
    QString text;
    whenModal<QMessageBox>([&](QMessageBox *box) {
        EXPECT_EQ(box->objectName(), "aboutBox");
        text = box->text();
        box->accept();
    });
    window->findChild<QAction *>("actionAbout")->trigger();
    EXPECT_TRUE(text.startsWith("EFIS Config 0.1\n")) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Qt %1 (built with Qt %2)")
                                  .arg(QString::fromLatin1(qVersion()), QT_VERSION_STR)))
        << text.toStdString();
    EXPECT_TRUE(text.contains("hidapi (none: the simulated unit answers the hidapi calls)"));
    EXPECT_TRUE(text.contains("Apache License, Version 2.0"));
    EXPECT_TRUE(text.contains("used under the GNU LGPL version 3"));
}

TEST_F(LogPanelTest, OpeningAMenuKeepsTheOutcomeInTheStatusBar) {
    open();
    window->statusBar()->showMessage("Error: Firmware update failed (see View → Log)", 0);
    // What Qt sends for each menu entry the pointer passes, none of which has a status tip.
    QStatusTipEvent passing{QString()};
    QCoreApplication::sendEvent(window.get(), &passing);
    EXPECT_EQ(status(), "Error: Firmware update failed (see View → Log)");
}
