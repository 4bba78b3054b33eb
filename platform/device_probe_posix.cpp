#include "device_probe.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

int probeDevice(const char *path, int backend_error) {
    // Only a file system path can be asked again; hidapi's other backends name a
    // device by its bus address, which open() would wrongly report as missing.
    if (path == nullptr || path[0] != '/') {
        return backend_error;
    }
    const int fd = ::open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return errno;
    }
    // It opens now: whatever stopped the backend has passed, and only its own
    // answer is left to go by.
    ::close(fd);
    return backend_error;
}

const char *refusedRemedy() {
    return "Install the efis-config package or the udev rule from the README, then unplug and "
           "replug the unit.";
}

const char *refusedRemedyShort() {
    return "install the efis-config package or its udev rule, then replug the unit";
}

} // namespace platform
