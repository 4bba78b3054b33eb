#include "flow_words.h"

#include "outcome.h"

namespace flow_words {

namespace {

// What an unreadable header word logs and shows.
Said headerUnread(settings_struct_index index) {
    switch (index) {
    case SETTINGS_CHECKSUM_INDEX:
        return {"Error: Failed to read checksum from device", {"Error reading checksum value"}};
    case SETTINGS_MAGIC_NUM:
        return {"Error: Failed to read magic number from device", {"Error reading magic value"}};
    case SETTINGS_VERSION:
        return {"Error: Failed to read memory version from device",
                {"Error reading memory version value"}};
    default:
        return {"Error: Failed to read num_elements from device",
                {"Error reading num_elements value"}};
    }
}

// One line per field, as the log writes a text and then a number.
QStringList perField(const char *text, const std::vector<int> &fields) {
    QStringList lines;
    for (const int index : fields) {
        lines << QStringLiteral("%1 %2").arg(QLatin1String(text)).arg(index);
    }
    return lines;
}

QString hex(uint32_t word) {
    return outcome::quoted(QString::number(word, 16));
}

} // namespace

Said load(const LoadResult &result, uint32_t unit_checksum) {
    Said said;
    for (const int index : result.unread_fields) {
        said.log << QStringLiteral("Warning: Failed to read value for index %1 , setting to 0")
                        .arg(index);
    }
    switch (result.outcome) {
    case LoadOutcome::NotConnected:
        return said;
    case LoadOutcome::HeaderUnread: {
        // The form keeps what it shows.
        const Said header = headerUnread(result.header);
        return {header.status, said.log + header.log};
    }
    case LoadOutcome::FieldRejected:
        said.log << QStringLiteral("Error setting value for index %1").arg(result.rejected_field);
        said.status = QStringLiteral("Error: Failed to process configuration data");
        return said;
    case LoadOutcome::Loaded:
        break;
    }
    if (result.erased) {
        // Not a failure: the unit holds no record, and a save writes one.
        said.log << QStringLiteral("The unit's settings record is erased");
        said.status = QString::fromLatin1(ERASED_RECORD_TEXT);
    } else if (result.crc_matches) {
        said.status = QStringLiteral("Configuration successfully loaded from device");
    } else {
        // It stays on the status bar: the values shown are not what the unit stored.
        said.log << QStringLiteral("CRC mismatch: Calculated = %1 Stored= %2")
                        .arg(hex(result.calculated_crc), hex(unit_checksum));
        said.status = QStringLiteral("Warning: Configuration CRC verification failed");
    }
    return said;
}

Said send(const SendResult &result) {
    Said said;
    said.log = perField("Failed to send value for index", result.failed);
    said.status = result.failed.empty()
                      ? QStringLiteral("Successfully sent %1 configuration value(s) to device")
                            .arg(result.sent.size())
                      : QStringLiteral("Sent %1 value(s), %2 failed")
                            .arg(result.sent.size())
                            .arg(result.failed.size());
    return said;
}

Said save(const SaveResult &result) {
    switch (result.outcome) {
    case SaveOutcome::Unread:
        return {QStringLiteral("Error: %1 value(s) could not be read; settings not saved")
                    .arg(result.unread.size()),
                perField("Failed to read value for index", result.unread)};
    case SaveOutcome::SendFailed:
        return {QStringLiteral("Error: %1 value(s) could not be sent; settings not saved")
                    .arg(result.failed.size()),
                perField("Failed to send value for index", result.failed)};
    case SaveOutcome::HeaderUnread:
        return headerUnread(result.header);
    case SaveOutcome::StoreFailed:
        return {QStringLiteral("Error: Failed to store configuration to EEPROM"),
                {QStringLiteral("Error storing configuration to EEPROM")}};
    case SaveOutcome::Saved:
        break;
    }
    return {QStringLiteral("Configuration saved to EEPROM successfully"), {}};
}

QStringList store(const StoreResult &result) {
    switch (result.outcome) {
    case StoreOutcome::NotConnected:
        return {};
    case StoreOutcome::SendFailed:
        return {QStringLiteral("Failed to send store command")};
    case StoreOutcome::EraseTimeout:
        return {QStringLiteral("Timeout waiting for erase status frame")};
    case StoreOutcome::EraseFailed:
        return {QStringLiteral("Flash erase failed")};
    case StoreOutcome::UnexpectedErase:
        return {
            QStringLiteral("Unexpected erase status frame, CAN ID: %1").arg(hex(result.can_id))};
    case StoreOutcome::AckTimeout:
        return {QStringLiteral("Flash erase succeeded"),
                QStringLiteral("Timeout waiting for ACK/NACK frame")};
    case StoreOutcome::UnexpectedAck:
        return {QStringLiteral("Flash erase succeeded"),
                QStringLiteral("Unexpected ACK/NACK frame, CAN ID: %1").arg(hex(result.can_id))};
    case StoreOutcome::Stored:
        break;
    }
    return {QStringLiteral("Flash erase succeeded"), QStringLiteral("Received ACK/NACK frame")};
}

} // namespace flow_words
