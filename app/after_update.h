#ifndef AFTER_UPDATE_H
#define AFTER_UPDATE_H

// What follows a firmware update, without widgets: a backup of the unit's settings before it,
// then the reboot into the new firmware, the wait for the same unit (by its serial number), and
// the comparison of what it holds now with the backup. The window and efis-cli both run these
// steps and word them in their own terms; the window waits with its poll, efis-cli with
// wait_for_unit.

#include <QDate>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "comms.h"
#include "firmware_ops.h"
#include "settings_file.h"
#include "settings_types.h"

namespace after_update {

// What get_serialnumber returns for a unit that did not say.
inline constexpr uint32_t NO_SERIAL = 0xFFFFFFFFu;
// The longest a unit takes to come back from its reboot.
inline constexpr std::chrono::seconds RETURN_TIMEOUT{60};
// How often efis-cli looks for the unit while it is away.
inline constexpr std::chrono::milliseconds LOOK_INTERVAL{500};

// The unit as it was before the update: which one it was, and its settings when they were read
// (the backup's contents).
struct Before {
    uint32_t serial = NO_SERIAL;
    bool has_settings = false;
    Settings_t settings{};
    QString backup_path; // empty when no file was written
};

enum class Return {
    NotYet, // no unit answered
    Same,   // the unit with the serial number of before
    Other   // another unit answered; `serial` holds its number
};

struct Look {
    Return kind = Return::NotYet;
    uint32_t serial = NO_SERIAL;
};

// The default name of a backup: registration, serial number and date, in characters every file
// system takes ("G-ABCD-12345678-2026-12-08.json").
QString backup_file_name(const Settings_t &record, uint32_t serial, const QDate &date);

// Writes the settings file of `record` at `path`, whole or not at all; empty on success, else
// why not.
QString write_backup(const QString &path, const Settings_t &record, uint32_t serial);

// Sends the reboot command and closes the connection: the unit leaves the bus while it
// restarts, and what the link still owed is of no use. True when the command was sent.
bool reboot_and_let_go(CommsManager *comms);

// Which unit a connected manager reaches, against the one expected (any unit counts as the same
// when the expected number is NO_SERIAL).
Look identify(CommsManager *comms, uint32_t expected_serial);

// One look for the unit: when its interface is listed, a fresh manager connects to it (the old
// one is closed first) and the unit is identified. NotYet leaves `comms` a manager not connected.
Look look_for_unit(std::unique_ptr<CommsManager> &comms, uint32_t expected_serial);

// Looks every LOOK_INTERVAL until a unit answers, `timeout` has passed or `stop` (may be null)
// is set.
Look wait_for_unit(std::unique_ptr<CommsManager> &comms, uint32_t expected_serial,
                   std::chrono::milliseconds timeout, const FwCancelFlag *stop);

// The settings in which the unit now differs from before the update: (key, before, now).
std::vector<settings_file::Difference> changes(const Before &before, const Settings_t &now);

} // namespace after_update

#endif // AFTER_UPDATE_H
