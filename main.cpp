#include <QApplication>

#include "mainwindow.h"

int main(int argc, char *argv[]) {
    QApplication a(argc, argv);
    // The window connects to the unit and loads its settings while it is built,
    // so it is already filled when it first appears.
    MainWindow w;
    w.show();
    return a.exec();
}
