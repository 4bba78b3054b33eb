#ifndef PLATFORM_DEVICE_PROBE_H
#define PLATFORM_DEVICE_PROBE_H

namespace platform {

// The errno value that best explains why the device at `path` (a path hidapi listed) could not be
// opened: the device is opened once more, for reading and writing and without waiting, so that the
// system itself says why. A path that names no device of this system, or a device that opens now,
// keeps `backend_error`. 0: no cause known.
int probeDevice(const char *path, int backend_error);

// What a person does when the system refuses the device, as the end of a sentence: in the
// diagnostic line, and in a few words for the status bar.
const char *refusedRemedy();
const char *refusedRemedyShort();

} // namespace platform

#endif // PLATFORM_DEVICE_PROBE_H
