// The demo's display units: the simulated units, configured before the window is built,
// answering with a small delay per reply so that the progress of a firmware update can be
// followed. They share their state with efis-cli-demo: it is read when the application starts
// (after --units N, if given, says how many units there are) and the units that changed are
// written back when it ends, each time under the state's lock, which efis-cli-demo holds while
// it runs.
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "demo_units.h"
#include "sim_state.h"
#include "sim_unit.h"

namespace {

// How long the window demo waits for an efis-cli-demo run to let go of the state.
constexpr auto STATE_WAIT = std::chrono::seconds(5);

demo::Loaded loaded;

void configure() {
    for (sim::SimUnit &unit : sim::units()) {
        unit.setReplyDelayMicros(600);
        unit.flash().setPartition(partition_1);
    }
}

void keepState() {
    platform::ExclusiveLock lock;
    if (!demo::lockState(demo::statePath(), &lock, STATE_WAIT)) {
        std::fprintf(stderr, "efis-config-demo: efis-cli-demo holds the simulated units' state: "
                             "the changes of this run are not kept\n");
        return;
    }
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
    {
        platform::ExclusiveLock lock;
        if (demo::lockState(demo::statePath(), &lock, STATE_WAIT)) {
            loaded = demo::loadUnits(demo::statePath(), "efis-config-demo");
        } else {
            std::fprintf(stderr, "efis-config-demo: efis-cli-demo holds the simulated units' "
                                 "state: starting from fresh units\n");
            // Only what this run changes is written back at its end.
            for (sim::SimUnit &unit : sim::units()) {
                loaded.states.push_back(sim::saveState(unit));
            }
        }
    }
    configure();
    for (const sim::SimUnit &unit : sim::units()) {
        std::printf("efis-config-demo: simulated display unit, serial number 0x%08X\n",
                    static_cast<unsigned>(unit.serialNumber()));
    }
    qAddPostRoutine(keepState);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(setUpFromArguments)
