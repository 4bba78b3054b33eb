#include "device_probe.h"

#include <cerrno>

#include <windows.h>

namespace platform {

int probeDevice(const char *path, int backend_error) {
    // hidapi names a device by its interface path (\\?\hid#...); anything else is not ours to ask.
    if (path == nullptr || path[0] != '\\') {
        return backend_error;
    }
    // The unit's interface shared as hidapi opens it: a program that opened it without sharing
    // makes this fail as it made the backend fail.
    const HANDLE device =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        return backend_error;
    }
    switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return EBUSY;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
        return ENODEV;
    default:
        return backend_error;
    }
}

// Windows lets every user open a HID device; a refusal comes from a program that holds the unit
// for itself, or from a policy of the computer's administrator.
const char *refusedRemedy() {
    return "Close any other program that may hold the unit, then unplug and replug it; if it "
           "stays refused, ask the computer's administrator whether a policy blocks USB devices.";
}

const char *refusedRemedyShort() {
    return "close any other program that may hold it, then replug the unit";
}

} // namespace platform
