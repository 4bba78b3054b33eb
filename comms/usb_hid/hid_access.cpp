#include "hid_access.h"

#include <cerrno>
#include <cstring>

#include "device_probe.h"

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
    return platform::probeDevice(path, backend_error);
}

std::string hidAccessLine(const std::string &path, int error) {
    const std::string head = "USB HID device " + path + " cannot be opened: ";
    switch (hidAccessCause(error)) {
    case HidAccessCause::PermissionDenied:
        return head + "permission denied. " + platform::refusedRemedy();
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
        return "No permission to open the EFIS (" + path + ") - " + platform::refusedRemedyShort();
    case HidAccessCause::Busy:
        return "The EFIS (" + path + ") is in use by another program - close it, then restart";
    case HidAccessCause::Vanished:
        return "The EFIS (" + path + ") disappeared while connecting - replug it, then restart";
    case HidAccessCause::Other:
        break;
    }
    return "Cannot open the EFIS (" + path + "): " + reason(error) + " - replug it, then restart";
}
