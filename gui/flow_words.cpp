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
        return said(outcome::Result::StoreFailed);
    case SaveOutcome::Saved:
        break;
    }
    return {QStringLiteral("Configuration saved to EEPROM successfully"), {}};
}

QStringList store(const StoreResult &result) {
    QStringList lines;
    switch (result.outcome) {
    case StoreOutcome::NotConnected: // nothing was sent
        return lines;
    case StoreOutcome::AckTimeout:
    case StoreOutcome::UnexpectedAck:
    case StoreOutcome::Stored:
        lines << QStringLiteral("Flash erase succeeded");
        break;
    default:
        break;
    }
    return lines << outcome::words(outcome::storeResult(result.outcome), {hex(result.can_id)}).log;
}

} // namespace flow_words
