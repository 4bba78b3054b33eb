#ifndef UPDATE_JOB_H
#define UPDATE_JOB_H

// A firmware update as explicit steps that the window and efis-cli both drive, each at its own
// pace (the window from its event loop, efis-cli in a loop): check the image, back up the unit's
// settings, transfer the image, reboot the unit, wait for the same unit, compare its settings
// with the backup, and the restore plan. Each step says what happened and why; none asks a
// question or prints anything.

#include <QDate>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "backup_file.h"
#include "comms.h"
#include "firmware_image.h"
#include "firmware_ops.h"
#include "settings_file.h"
#include "settings_flows.h"
#include "settings_types.h"
#include "unit_locator.h"

namespace update_job {

using unit_locator::NO_SERIAL;

// ---- check the image -------------------------------------------------------------------------

// The image file read once, whole, and checked: the transfer sends these bytes, whatever happens
// to the file meanwhile.
struct ImageStep {
    FirmwareImage image;
    QString version; // the header's version word as the tool shows it
    QString problem; // why the file was refused, as a phrase that follows its name: what is
                     // wrong in plain words first, then the numbers
    const ImageCheck &check() const { return image.check; }
    bool ok() const { return image.check.ok(); }
};
ImageStep checkImage(const QString &path);

// ---- back up ---------------------------------------------------------------------------------

// The unit as it was before the update: which one it was, where it was reached, and its
// settings when they were read (the backup's contents).
struct Before {
    uint32_t serial = NO_SERIAL;
    bool has_settings = false;
    Settings_t settings{};
    QString backup_path; // empty when no file was written
    // The values the unit had taken but not stored when it restarted into the new firmware,
    // with the words it took: the restart loses them, whatever the update did.
    FieldWords unstored;
};

// Where the backup goes: the default name (made up by the tool, never over another file) or a
// name the person gave, replaced only when `replace`.
struct BackupRequest {
    QString path; // empty: the default name, in the current folder
    bool replace = false;
};

// Writes `before.settings` to the backup and notes where it went in `before.backup_path`.
backup_file::Written backUp(Before &before, const BackupRequest &request, const QDate &today);

// ---- transfer --------------------------------------------------------------------------------

// Why a transfer failed, as far as the tool can tell from where it stopped.
enum class TransferFailure {
    None,
    LostUnit,       // the unit went away or stopped answering
    FileError,      // the image had not passed its check: nothing was sent
    EraseRefused,   // the unit refused an erase or did not confirm it (nothing was written)
    UnexpectedReply // the unit's reply to a write was not the one expected
};

struct Transfer {
    FwTransferResult result;
    TransferFailure failure = TransferFailure::None;
    uint32_t blocks_erased = 0;
    uint32_t blocks_needed = 0;
    // The reason as a sentence ("The unit refused the erase ..."); empty unless failed.
    QString reasonText() const;
    // True when the transfer did not complete after it may have erased part of the unit's
    // image: the image in the unit's flash is then incomplete, and the unit may not start.
    bool leftIncomplete() const;
};

using Progress = std::function<void(uint32_t current, uint32_t total, int phase)>;

// Sends the image read and checked by checkImage, handing each progress report on; stops when
// `cancel` (may be null) is set.
Transfer transfer(CommsManager *comms, const FirmwareImage &image, const Progress &progress,
                  const FwCancelFlag *cancel);

// ---- reboot and wait -------------------------------------------------------------------------

// The unit to wait for, taken while it is still connected (see unit_locator::targetOf).
unit_locator::Target returnTarget(CommsManager *comms);

// Sends the reboot command and closes the connection: the unit leaves the bus while it
// restarts, and what the link still owed is of no use. True when the command was sent.
bool rebootAndLetGo(CommsManager *comms);

// ---- compare and restore ---------------------------------------------------------------------

// The restore rule, one for both front ends: the user fields whose stored words differ between
// the backup and the unit now, and only those (the registration's three words count as one
// field: when one differs, all three are restored). `target` is `now` with those words taken
// from the backup.
struct RestorePlan {
    FieldSet fields;
    Settings_t target{};
    bool empty() const { return fields.empty(); }
};
RestorePlan restorePlan(const Settings_t &backup, const Settings_t &now);

// The settings in which the unit now differs from the backup, as rows to show: (key, before,
// now), one or more per field of the restore plan.
std::vector<settings_file::Difference> changes(const Before &before, const Settings_t &now);

// The unit back after its update compared with what it held before: the backup's values, and
// the values sent but not stored, which are known even without a backup. A field sent but not
// stored that differs now was lost by the restart, which the update only caused: it is listed
// apart, never as changed by the update. The plan puts back both.
struct Comparison {
    RestorePlan plan;
    std::vector<settings_file::Difference> changed; // changed by the update
    std::vector<settings_file::Difference> unsaved; // sent but not saved before the update
    bool empty() const { return plan.empty(); }
};
Comparison compare(const Before &before, const Settings_t &now);

} // namespace update_job

#endif // UPDATE_JOB_H
