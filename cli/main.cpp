#include <QCoreApplication>

#include "efis_cli.h"

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    return efisCliMain(argc, argv);
}
