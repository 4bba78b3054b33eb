#include "outcome.h"

#include <QDebug>

#include <array>

#include "settings_flows.h"

namespace outcome {

namespace {

struct Row {
    Result result;
    const char *status;
    const char *log;
    const char *cli;
    Exit exit;
};

// One row per result. %1, %2 ... are the arguments in order; every text of a row takes the same
// arguments, each the ones it names.
constexpr std::array<Row, 41> TABLE{{
    {Result::NoConnection, "Error: No communication interface connected (USB HID or CAN FD)",
     "No communication interface connected", "no unit connected", Exit::NoUnit},
    {Result::ChecksumUnread, "Error: Failed to read checksum from device",
     "Error reading checksum value", "could not read header word %1 of the unit's settings",
     Exit::UnitFailed},
    {Result::MagicUnread, "Error: Failed to read magic number from device",
     "Error reading magic value", "could not read header word %1 of the unit's settings",
     Exit::UnitFailed},
    {Result::VersionUnread, "Error: Failed to read memory version from device",
     "Error reading memory version value", "could not read header word %1 of the unit's settings",
     Exit::UnitFailed},
    {Result::CountUnread, "Error: Failed to read num_elements from device",
     "Error reading num_elements value", "could not read header word %1 of the unit's settings",
     Exit::UnitFailed},
    {Result::FieldRejected, "Error: Failed to process configuration data",
     "Error setting value for index %1", "field %1 could not be taken", Exit::UnitFailed},
    {Result::FieldUnread, "", "Warning: Failed to read value for index %1 , setting to 0",
     "warning: could not read field(s) %1 of the unit's settings: they are left out of any save",
     Exit::Ok},
    {Result::ChecksumMismatch, "Warning: Configuration CRC verification failed",
     "CRC mismatch: Calculated = %1 Stored= %2",
     "warning: the unit's checksum %2 does not match its settings (%1)", Exit::Ok},
    {Result::RecordErased, ERASED_RECORD_TEXT, "The unit's settings record is erased",
     ERASED_RECORD_TEXT, Exit::Ok},
    {Result::SettingsLoaded, "Configuration successfully loaded from device", "", "", Exit::Ok},
    {Result::FieldNotSent, "", "Failed to send value for index %1",
     "the unit did not take field(s) %1", Exit::UnitFailed},
    {Result::FieldNotReadForSave, "", "Failed to read value for index %1",
     "could not read field(s) %1, which the save keeps as the unit holds them", Exit::UnitFailed},
    {Result::ValuesSent, "Successfully sent %1 configuration value(s) to device", "", "", Exit::Ok},
    {Result::SomeNotSent, "Sent %1 value(s), %2 failed", "", "", Exit::UnitFailed},
    {Result::SaveUnread, "Error: %1 value(s) could not be read; settings not saved", "", "",
     Exit::UnitFailed},
    {Result::SaveNotSent, "Error: %1 value(s) could not be sent; settings not saved", "", "",
     Exit::UnitFailed},
    {Result::Saved, "Configuration saved to EEPROM successfully", "", "", Exit::Ok},
    {Result::StoreNotSent, "", "Failed to send store command",
     "the store command could not be sent", Exit::UnitFailed},
    {Result::StoreEraseTimeout, "", "Timeout waiting for erase status frame",
     "no erase status within the time-out", Exit::UnitFailed},
    {Result::StoreEraseFailed, "", "Flash erase failed",
     "the unit could not erase its settings memory", Exit::UnitFailed},
    {Result::StoreUnexpectedErase, "", "Unexpected erase status frame, CAN ID: %1",
     "unexpected erase status 0x%1", Exit::UnitFailed},
    {Result::StoreAckTimeout, "", "Timeout waiting for ACK/NACK frame",
     "no acknowledgement of the store within the time-out", Exit::UnitFailed},
    {Result::StoreUnexpectedAck, "", "Unexpected ACK/NACK frame, CAN ID: %1",
     "unexpected store reply 0x%1", Exit::UnitFailed},
    {Result::Stored, "", "Received ACK/NACK frame", "stored", Exit::Ok},
    {Result::StoreFailed, "Error: Failed to store configuration to EEPROM",
     "Error storing configuration to EEPROM", "settings not stored: %1", Exit::UnitFailed},
    {Result::NoFileChosen, "No firmware file selected", "", "", Exit::Usage},
    {Result::NotConnected, "Device not connected. Please connect to device first.",
     "Firmware update failed: CommsManager not connected", "no unit connected", Exit::NoUnit},
    {Result::ImageRefused, "Error: Firmware file %1 %2; the update was not started",
     "Firmware file refused: %1 %2", "%1 %2", Exit::Usage},
    {Result::BackupNotWritten, "Error: Could not write %1: %2",
     "Could not write settings file %1 : %2", "", Exit::Usage},
    {Result::UpdateNotStarted, "Firmware update not started", "", "", Exit::Usage},
    {Result::UpdateStarted, "Starting firmware update...", "Starting firmware update with file: %1",
     "", Exit::Ok},
    {Result::UpdateCompleted, "Firmware update completed", "", "firmware written from %1",
     Exit::Ok},
    {Result::UpdateFailed, "Error: Firmware update failed (see View → Log)",
     "Firmware update failed: %1",
     "firmware update failed: %1 (--verbose shows the unit's exchanges)%2", Exit::UnitFailed},
    {Result::UpdateCancelled,
     "Firmware update cancelled at %1 of %2 bytes - the image in the unit is incomplete; update "
     "again before rebooting it",
     "Firmware update cancelled at %1 of %2 bytes",
     "interrupted during the firmware update at %1 of %2 bytes: the update is incomplete%3",
     Exit::Interrupted},
    {Result::RebootFailed, "Error: Failed to send reboot command", "Failed to send reboot command",
     "the reboot command could not be sent", Exit::UnitFailed},
    {Result::RebootSent, "Reboot command sent to device", "Reboot command sent successfully",
     "reboot command sent", Exit::Ok},
    {Result::UnitNotBack,
     "The EFIS has not come back within %1 s of its reboot - check its power and cable; the "
     "window keeps looking for it",
     "The EFIS has not come back within %1 s of its reboot",
     "the unit did not come back within %1 s of its reboot", Exit::UnitFailed},
    {Result::OtherUnitBack,
     "Another EFIS answered (serial number %1), not the one updated (%2): its settings are not "
     "compared with the backup",
     "After the firmware update another EFIS answered: %1 not %2",
     "another unit answered after the reboot (serial number %1, not %2): its settings were not "
     "compared",
     Exit::UnitFailed},
    {Result::UnitBackSilent,
     "The EFIS that answered did not give its serial number: its settings are not compared with "
     "the backup",
     "After the firmware update an EFIS answered without its serial number", "", Exit::UnitFailed},
    {Result::SettingsUnchanged, "Settings unchanged by the update",
     "Settings unchanged by the update", "", Exit::Ok},
    {Result::SettingsChanged, "", "Settings changed by the update: %1", "", Exit::Ok},
}};

// One pass over the text: %1 to %9 become their arguments (a missing one: nothing), and an
// argument that holds "%1" is never filled in again.
QString filled(const char *text, const QStringList &args) {
    const QString in = QString::fromUtf8(text);
    QString out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        const QChar c = in.at(i);
        if (c == QLatin1Char('%') && i + 1 < in.size() && in.at(i + 1) >= QLatin1Char('1') &&
            in.at(i + 1) <= QLatin1Char('9')) {
            const int n = in.at(i + 1).unicode() - '1';
            out += n < args.size() ? args.at(n) : QString();
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

Result headerUnread(settings_struct_index index) {
    switch (index) {
    case SETTINGS_CHECKSUM_INDEX:
        return Result::ChecksumUnread;
    case SETTINGS_MAGIC_NUM:
        return Result::MagicUnread;
    case SETTINGS_VERSION:
        return Result::VersionUnread;
    default:
        return Result::CountUnread;
    }
}

Result storeResult(StoreOutcome outcome) {
    switch (outcome) {
    case StoreOutcome::NotConnected:
        return Result::NoConnection;
    case StoreOutcome::SendFailed:
        return Result::StoreNotSent;
    case StoreOutcome::EraseTimeout:
        return Result::StoreEraseTimeout;
    case StoreOutcome::EraseFailed:
        return Result::StoreEraseFailed;
    case StoreOutcome::UnexpectedErase:
        return Result::StoreUnexpectedErase;
    case StoreOutcome::AckTimeout:
        return Result::StoreAckTimeout;
    case StoreOutcome::UnexpectedAck:
        return Result::StoreUnexpectedAck;
    case StoreOutcome::Stored:
        break;
    }
    return Result::Stored;
}

QString quoted(const QString &text) {
    QString out;
    QDebug(&out).nospace() << text;
    return out;
}

Words words(Result result, const QStringList &args) {
    return words(result, args, args);
}

Words words(Result result, const QStringList &status_args, const QStringList &log_args) {
    for (const Row &row : TABLE) {
        if (row.result == result) {
            return {filled(row.status, status_args), filled(row.log, log_args),
                    filled(row.cli, log_args), row.exit};
        }
    }
    return {};
}

} // namespace outcome
