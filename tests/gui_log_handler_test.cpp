#include <gtest/gtest.h>

#include <QDebug>
#include <QTimer>
#include <QApplication>

#include "capture.h"
#include "mainwindow.h"
#include "sim_unit.h"

namespace {

std::string handle(QtMsgType type, const char *file, int line, const char *function,
                   const QString &text) {
    const QMessageLogContext context(file, line, function, "default");
    return captureStderr([&] { customMessageHandler(type, context, text); });
}

} // namespace

TEST(LogHandler, OneLinePerMessageTypeWithItsContext) {
    struct Case {
        QtMsgType type;
        const char *line;
    };
    const Case cases[] = {
        {QtDebugMsg, "Debug: abc (x:7, void f())\n"},
        {QtInfoMsg, "Info: abc (x:7, void f())\n"},
        {QtWarningMsg, "Warning: abc (x:7, void f())\n"},
        {QtCriticalMsg, "Critical: abc (x:7, void f())\n"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(handle(c.type, "x", 7, "void f()", "abc"), c.line);
    }
    // A type Qt does not number writes nothing.
    EXPECT_EQ(handle(static_cast<QtMsgType>(5), "x", 7, "void f()", "abc"), "");
    EXPECT_EQ(handle(static_cast<QtMsgType>(7), "x", 7, "void f()", "abc"), "");
}

TEST(LogHandler, MissingContextPrintsEmptyFileAndFunction) {
    EXPECT_EQ(handle(QtDebugMsg, nullptr, 0, nullptr, "abc"), "Debug: abc (:0, )\n");
    EXPECT_EQ(handle(QtWarningMsg, nullptr, 0, nullptr, "abc"), "Warning: abc (:0, )\n");
}

TEST(LogHandler, TextIsWrittenInTheLocalEncoding) {
    EXPECT_EQ(handle(QtDebugMsg, "x", 1, "g", QString::fromUtf8("\"\xC3\xA9\"")),
              QString::fromUtf8("Debug: \"\xC3\xA9\" (x:1, g)\n").toLocal8Bit().toStdString());
}

TEST(LogHandlerDeathTest, FatalMessageWritesItsLineAndAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QMessageLogContext context("x", 7, "void f()", "default");
    EXPECT_DEATH(customMessageHandler(QtFatalMsg, context, "abc"),
                 "Fatal: abc \\(x:7, void f\\(\\)\\)\n");
}

TEST(LogHandler, WindowInstallsItAndDebugStreamKeepsTheContext) {
    sim::reset();
    sim::unit().enumeration().clear(); // no unit: the window only tries to connect
    std::string out = captureStderr([] {
        MainWindow w;
        qDebug() << "Warning: Failed to read value for index" << 5 << ", setting to 0";
    });
    // The log line carries this file, a line number and the full function signature.
    const std::string expected =
        "Debug: Warning: Failed to read value for index 5 , setting to 0 (";
    const auto at = out.find(expected);
    ASSERT_NE(at, std::string::npos) << out;
    const std::string rest = out.substr(at + expected.size());
    EXPECT_NE(rest.find("gui_log_handler_test.cpp:"), std::string::npos) << rest;
    EXPECT_NE(
        rest.find("LogHandler_WindowInstallsItAndDebugStreamKeepsTheContext_Test::TestBody()"),
        std::string::npos)
        << rest;
    qInstallMessageHandler(nullptr);
}

TEST(MainWindowShell, ShowsTitleAndClosesCleanly) {
    sim::reset();
    sim::unit().enumeration().clear();
    MainWindow w;
    EXPECT_EQ(w.windowTitle(), "RK_62 EFIS Config");
    w.show();
    QTimer::singleShot(0, &w, &QWidget::close);
    QApplication::setQuitOnLastWindowClosed(true);
    EXPECT_EQ(QApplication::exec(), 0);
    qInstallMessageHandler(nullptr);
}
