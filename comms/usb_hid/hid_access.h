#ifndef HID_ACCESS_H
#define HID_ACCESS_H

#include <string>

// Why the unit's interface, listed by hidapi, could not be opened, and what the
// user can do about it. On Linux a hidraw node belongs to root unless a udev rule
// hands it to the logged-in user, so "permission denied" is the usual cause.
enum class HidAccessCause {
    PermissionDenied, // the node is not the user's to open
    Busy,             // another program holds the unit
    Vanished,         // the unit went away between listing and opening
    Other             // anything else, or no cause known (error 0)
};

HidAccessCause hidAccessCause(int error);

// The errno that best explains why `path` could not be opened. A path that names
// a device node is opened once more (read/write, without waiting) so that the
// system itself says why; a path that names no file (another backend's device
// address) keeps the backend's own errno, `backend_error`. 0: no cause known.
int probeHidNode(const char *path, int backend_error);

// The diagnostic line (without line feed), naming the node, the cause and the remedy.
std::string hidAccessLine(const std::string &path, int error);
// The same in a few words, for the window's status bar.
std::string hidAccessStatus(const std::string &path, int error);

#endif // HID_ACCESS_H
