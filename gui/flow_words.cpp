#include "flow_words.h"

#include "outcome.h"

namespace flow_words {

namespace {

// The table's words of `result` as the window says them.
Said said(outcome::Result result, const QStringList &args = {}) {
    const outcome::Words words = outcome::words(result, args);
    return {words.status, words.log.isEmpty() ? QStringList() : QStringList{words.log}};
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
    QStringList unread;
    for (const int index : result.unread_fields) {
        unread << outcome::words(outcome::Result::FieldUnread, {QString::number(index)}).log;
    }
    Said done;
    switch (result.outcome) {
    case LoadOutcome::NotConnected:
        break;
    case LoadOutcome::HeaderUnread: // the form keeps what it shows
        done = said(outcome::headerUnread(result.header));
        break;
    case LoadOutcome::FieldRejected:
        done = said(outcome::Result::FieldRejected, {QString::number(result.rejected_field)});
        break;
    case LoadOutcome::Loaded:
        // A mismatch stays on the status bar: the values shown are not what the unit stored.
        done = result.erased        ? said(outcome::Result::RecordErased)
               : result.crc_matches ? said(outcome::Result::SettingsLoaded)
                                    : said(outcome::Result::ChecksumMismatch,
                                           {hex(result.calculated_crc), hex(unit_checksum)});
        break;
    }
    done.log = unread + done.log;
    return done;
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
        return said(outcome::headerUnread(result.header));
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
