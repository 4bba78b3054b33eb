#include <QApplication>

#include <cstdio>

#include "log_capture.h"
#include "mainwindow.h"

int main(int argc, char *argv[]) {
    // Every diagnostic line goes out as soon as it is printed, also into a file or a pipe
    // (a log, a support request): a tool that is ended or crashes then loses none of them.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Kept for View → Log from the first line on, Qt's own included; the terminal still gets
    // every line. The window installs the log handler through it. It outlives the window and
    // the application object.
    LogCapture log;
    log.start();
    QApplication a(argc, argv);
    // The window connects to the unit and loads its settings while it is built,
    // so it is already filled when it first appears.
    MainWindow w;
    w.show();
    return a.exec();
}
