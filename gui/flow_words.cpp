#include "flow_words.h"

#include "outcome.h"

namespace flow_words {

namespace {

// The table's words of `result` as the window says them.
Said fromTable(outcome::Result result, const QStringList &args = {}) {
    const outcome::Words words = outcome::words(result, args);
    return {words.status, words.log.isEmpty() ? QStringList() : QStringList{words.log}};
}

// The log lines of a result said for each field.
QStringList perField(outcome::Result result, const std::vector<int> &fields) {
    QStringList lines;
    for (const int index : fields) {
        lines << outcome::words(result, {QString::number(index)}).log;
    }
    return lines;
}

QString count(std::size_t n) {
    return QString::number(n);
}

QString hex(uint32_t word) {
    return outcome::quoted(QString::number(word, 16));
}

} // namespace

Said load(const LoadResult &result, uint32_t unit_checksum) {
    const QStringList unread = perField(outcome::Result::FieldUnread, result.unread_fields);
    Said done;
    switch (result.outcome) {
    case LoadOutcome::NotConnected:
        break;
    case LoadOutcome::HeaderUnread: // the form keeps what it shows
        done = fromTable(outcome::headerUnread(result.header));
        break;
    case LoadOutcome::FieldRejected:
        done = fromTable(outcome::Result::FieldRejected, {QString::number(result.rejected_field)});
        break;
    case LoadOutcome::Loaded:
        // A mismatch stays on the status bar: the values shown are not what the unit stored.
        done = result.erased        ? fromTable(outcome::Result::RecordErased)
               : result.crc_matches ? fromTable(outcome::Result::SettingsLoaded)
                                    : fromTable(outcome::Result::ChecksumMismatch,
                                                {hex(result.calculated_crc), hex(unit_checksum)});
        break;
    }
    done.log = unread + done.log;
    return done;
}

Said send(const SendResult &result) {
    Said said = result.failed.empty()
                    ? fromTable(outcome::Result::ValuesSent, {count(result.sent.size())})
                    : fromTable(outcome::Result::SomeNotSent,
                                {count(result.sent.size()), count(result.failed.size())});
    said.log = perField(outcome::Result::FieldNotSent, result.failed);
    return said;
}

Said save(const SaveResult &result) {
    Said said;
    switch (result.outcome) {
    case SaveOutcome::Unread:
        said = fromTable(outcome::Result::SaveUnread, {count(result.unread.size())});
        said.log = perField(outcome::Result::FieldNotReadForSave, result.unread);
        return said;
    case SaveOutcome::SendFailed:
        said = fromTable(outcome::Result::SaveNotSent, {count(result.failed.size())});
        said.log = perField(outcome::Result::FieldNotSent, result.failed);
        return said;
    case SaveOutcome::HeaderUnread:
        return fromTable(outcome::headerUnread(result.header));
    case SaveOutcome::StoreFailed:
        return fromTable(outcome::Result::StoreFailed);
    case SaveOutcome::Saved:
        break;
    }
    return fromTable(outcome::Result::Saved);
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
