#ifndef AFTER_UPDATE_H
#define AFTER_UPDATE_H

// What follows a firmware update, in the words efis-cli has used so far: the steps themselves are
// the update job's (update_job.h), the finding of the unit the locator's (unit_locator.h) and the
// backup's name and writer backup_file.h's. These forward to them.

#include <QDate>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "backup_file.h"
#include "comms.h"
#include "firmware_ops.h"
#include "settings_file.h"
#include "settings_types.h"
#include "unit_locator.h"
#include "update_job.h"

namespace after_update {

using unit_locator::Look;
using unit_locator::LOOK_INTERVAL;
using unit_locator::NO_SERIAL;
using unit_locator::Return;
using unit_locator::RETURN_TIMEOUT;
using update_job::Before;

// The default name of a backup: registration, serial number and date.
QString backup_file_name(const Settings_t &record, uint32_t serial, const QDate &date);

// Writes the settings file of `record` at `path` (a name the person gave, replaced whole, never
// through a link); empty on success, else why not.
QString write_backup(const QString &path, const Settings_t &record, uint32_t serial);

// Sends the reboot command and closes the connection. The manager's choice is narrowed first to
// the interface the unit was reached on, so that the waits below look for it there.
bool reboot_and_let_go(CommsManager *comms);

// Which unit a connected manager reaches, against the one expected (any unit counts as the same
// when the expected number is NO_SERIAL).
Look identify(CommsManager *comms, uint32_t expected_serial);

// One look for the unit on the interface `comms` was chosen for; a fresh manager connects to it.
// NotYet leaves `comms` a manager not connected.
Look look_for_unit(std::unique_ptr<CommsManager> &comms, uint32_t expected_serial);

// Looks every LOOK_INTERVAL until a unit answers, `timeout` has passed or `stop` (may be null)
// is set.
Look wait_for_unit(std::unique_ptr<CommsManager> &comms, uint32_t expected_serial,
                   std::chrono::milliseconds timeout, const FwCancelFlag *stop);

// The settings in which the unit now differs from before the update: (key, before, now).
std::vector<settings_file::Difference> changes(const Before &before, const Settings_t &now);

} // namespace after_update

#endif // AFTER_UPDATE_H
