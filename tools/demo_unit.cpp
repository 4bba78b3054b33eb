// The demo's display units: the simulated units, configured before the window is built,
// answering with a small delay per reply so that the progress of a firmware update can be
// followed. They share their state with efis-cli-demo: it is read when the application starts
// (after --units N, if given, says how many units there are) and the units that changed are
// written back when it ends.
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

#include "demo_units.h"
#include "sim_unit.h"

namespace {

demo::Loaded loaded;

void configure() {
    for (sim::SimUnit &unit : sim::units()) {
        unit.setReplyDelayMicros(600);
        unit.flash().setPartition(partition_1);
    }
}

void keepState() {
    demo::saveUnits(demo::statePath(), loaded, "efis-config-demo");
}

// Runs as the application object is made, before the window: its arguments are known then.
void setUpFromArguments() {
    QStringList args = QCoreApplication::arguments();
    int count = 1;
    QString problem;
    if (!demo::takeUnitsOption(&args, &count, &problem)) {
        std::fprintf(stderr, "efis-config-demo: %s\n", qPrintable(problem));
        std::exit(2);
    }
    demo::setUpUnits(count);
    loaded = demo::loadUnits(demo::statePath(), "efis-config-demo");
    configure();
    for (const sim::SimUnit &unit : sim::units()) {
        std::printf("efis-config-demo: simulated display unit, serial number 0x%08X\n",
                    static_cast<unsigned>(unit.serialNumber()));
    }
    qAddPostRoutine(keepState);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(setUpFromArguments)
