#include "hid_access.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::string reason(int error) {
    return error == 0 ? std::string("cause unknown") : std::string(std::strerror(error));
}

} // namespace

HidAccessCause hidAccessCause(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return HidAccessCause::PermissionDenied;
    case EBUSY:
        return HidAccessCause::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return HidAccessCause::Vanished;
    default:
        return HidAccessCause::Other;
    }
}

int probeHidNode(const char *path, int backend_error) {
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

std::string hidAccessLine(const std::string &path, int error) {
    const std::string head = "USB HID device " + path + " cannot be opened: ";
    switch (hidAccessCause(error)) {
    case HidAccessCause::PermissionDenied:
        return head + "permission denied. Install the efis-config package or the udev rule "
                      "from the README, then unplug and replug the unit.";
    case HidAccessCause::Busy:
        return head + "it is in use by another program. Close that program, then start the "
                      "tool again.";
    case HidAccessCause::Vanished:
        return head + "it disappeared while it was being opened. Plug the unit in again, then "
                      "start the tool again.";
    case HidAccessCause::Other:
        break;
    }
    return head + reason(error) + ". Unplug and replug the unit, then start the tool again.";
}

std::string hidAccessStatus(const std::string &path, int error) {
    switch (hidAccessCause(error)) {
    case HidAccessCause::PermissionDenied:
        return "No permission to open the EFIS (" + path +
               ") - install the efis-config package or its udev rule, then replug the unit";
    case HidAccessCause::Busy:
        return "The EFIS (" + path + ") is in use by another program - close it, then restart";
    case HidAccessCause::Vanished:
        return "The EFIS (" + path + ") disappeared while connecting - replug it, then restart";
    case HidAccessCause::Other:
        break;
    }
    return "Cannot open the EFIS (" + path + "): " + reason(error) + " - replug it, then restart";
}
