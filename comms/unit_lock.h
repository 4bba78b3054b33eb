#ifndef UNIT_LOCK_H
#define UNIT_LOCK_H

// One program per unit. The unit takes the next message read as the reply to the request just
// sent, and hidraw hands every input report to every open descriptor: two programs on one unit
// would take each other's replies as their own. So every program of the tool holds an exclusive
// lock on an interface before it sends anything on it, and a second program is refused at once.
//
// A USB HID interface that is a device node (a Linux hidraw node) is locked on the node itself,
// which every user of the machine shares; every interface is also locked in a lock file of the
// tool's own, named after it in the user's lock folder, which names the holder (program, process
// id and, once confirmed, the unit's serial number). A CAN FD interface, and a path that no
// program can open as a file, has the lock file alone. Where no lock file can be made nothing is
// locked and the connection goes on: only another holder refuses a unit.

#include <cstdint>
#include <string>

#include "comms_types.h"
#include "exclusive_lock.h"

// Who holds a unit, as far as its lock file tells.
struct UnitHolder {
    std::string program;           // empty: not known (another user's program, an old file)
    unsigned long pid = 0;         // 0: not known
    uint32_t serial = 0xFFFFFFFFu; // the unit's serial number as the holder confirmed it
};

class UnitLock {
public:
    enum class Outcome {
        Taken,    // this program holds the interface
        InUse,    // another program (or another link of this one) holds it: send nothing
        NotLocked // no lock could be made: nothing is locked, the connection may go on
    };

    // Locks the interface `path` (a USB HID path, or a CAN FD interface name). Releases what
    // this object held before. After InUse, holder() says who holds it.
    Outcome take(COMM_INTERFACE_t iface, const std::string &path);
    void release();
    bool held() const { return file_.held() || node_.held(); }
    const UnitHolder &holder() const { return holder_; }
    // While held: names the unit's serial number in the lock file, for a second program's
    // refusal.
    void noteSerial(uint32_t serial);

    // Whether another program holds the interface now; nothing is sent and nothing is kept.
    static bool inUse(COMM_INTERFACE_t iface, const std::string &path,
                      UnitHolder *holder = nullptr);
    // The lock file of an interface in the user's lock folder; empty when there is no folder.
    static std::string lockFilePath(COMM_INTERFACE_t iface, const std::string &path);

private:
    bool writeHolder();

    platform::ExclusiveLock node_;
    platform::ExclusiveLock file_;
    UnitHolder holder_;
    uint32_t serial_ = 0xFFFFFFFFu;
};

// The holder as its lock file's text, and back (unknown parts stay unknown).
std::string holder_text(const UnitHolder &holder);
UnitHolder parse_holder(const std::string &text);

// "EFIS 0x12345678 at /dev/hidraw3 is in use by another program (efis-config, process 4242)";
// without the serial number when the holder did not name it ("The EFIS at /dev/hidraw3 ..."),
// without the parenthesis when the holder is not known; "on CAN FD can0" for the bus.
std::string in_use_text(COMM_INTERFACE_t iface, const std::string &path, const UnitHolder &holder);

#endif // UNIT_LOCK_H
