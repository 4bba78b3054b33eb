// The demo's display unit: the simulated unit, configured before the window is
// built, answering with a small delay per reply so that the progress of a
// firmware update can be followed.
#include <cstdio>

#include "sim_unit.h"

namespace {

struct DemoUnit {
    DemoUnit() {
        sim::reset();
        sim::unit().setReplyDelayMicros(600);
        sim::unit().flash().setPartition(partition_1);
        std::printf("efis-config-demo: simulated display unit, serial number 0x%08X\n",
                    static_cast<unsigned>(sim::unit().serialNumber()));
    }
};

const DemoUnit demo_unit;

} // namespace
