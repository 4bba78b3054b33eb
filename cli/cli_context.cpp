#include "cli_context.h"

#include <QJsonArray>
#include <QCommandLineParser>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringList>

#include "codecs.h"
#include "efis_cli.h"
#include "get_set.h"
#include "settings_flows.h"
#include "settings_rules.h"
#include "shown_text.h"
#include "update_job.h"

namespace cli {

FwCancelFlag interrupted{false};

const char *const NO_DIFFERENCES = "no differences";
const char *const NOTHING_SENT = ": nothing sent";

namespace {

// This run's error lines with the notes under them, the last error line's place among them, and
// whether the run printed a JSON object of its own.
QStringList error_lines;
qsizetype last_error = -1;
bool json_printed = false;

} // namespace

void beginRun() {
    error_lines.clear();
    last_error = -1;
    json_printed = false;
}

void endRun(FILE *out, bool json, int status) {
    if (!json || status == CLI_OK || json_printed) {
        return;
    }
    QJsonObject o;
    QStringList details = error_lines;
    o.insert("error", last_error < 0 ? QStringLiteral("failed") : details.takeAt(last_error));
    if (!details.isEmpty()) {
        o.insert("details", QJsonArray::fromStringList(details));
    }
    o.insert("exit", status);
    std::fprintf(out, "%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    std::fflush(out);
}

int failed(const outcome::Words &words) {
    error(words.cli);
    return static_cast<int>(words.exit);
}

void note(const QString &text) {
    error_lines << text;
    std::fprintf(stderr, "%s\n", shown_text::escapeControls(text).toLocal8Bit().constData());
}

void error(const QString &text) {
    last_error = error_lines.size();
    error_lines << text;
    std::fprintf(stderr, "efis-cli: %s\n",
                 shown_text::escapeControls(text).toLocal8Bit().constData());
}

QJsonValue typedValue(const QString &text) {
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray("[") + text.toUtf8() + QByteArray("]"));
    const QJsonArray array = document.array();
    if (document.isArray() && array.size() == 1) {
        return array.at(0);
    }
    return text;
}

QString fieldList(const std::vector<int> &fields) {
    QStringList names;
    for (const int index : fields) {
        names << QString::number(index);
    }
    return names.join(QStringLiteral(", "));
}

QString registrationProblem(const Settings_t &record) {
    const QString registration =
        settings_file::settingsObject(record).value(QStringLiteral("registration")).toString();
    if (shown_text::hasControls(registration)) {
        return QStringLiteral("the registration \"%1\" holds control characters: only "
                              "printable characters are taken")
            .arg(registration);
    }
    // The window's registration box keeps out the same characters.
    for (const char32_t c : registration.toUcs4()) {
        if (!codecs::registrationCharStorable(c)) {
            return QStringLiteral("the registration \"%1\" holds U+%2, which the unit cannot "
                                  "store: only printable Latin-1 characters are taken")
                .arg(registration, QString::number(static_cast<uint>(c), 16)
                                       .toUpper()
                                       .rightJustified(4, QLatin1Char('0')));
        }
    }
    return QString();
}

QString unitOptions(const QCommandLineParser &parser) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:+-]+$"));
    QString options;
    for (const char *name : {"serial", "device", "can"}) {
        if (!parser.isSet(QLatin1String(name))) {
            continue;
        }
        QString value = parser.value(QLatin1String(name));
        if (!plain.match(value).hasMatch()) {
            value = QLatin1Char('\'') + value.replace(QLatin1String("'"), QLatin1String("'\\''")) +
                    QLatin1Char('\'');
        }
        options += QStringLiteral(" --%1 %2").arg(QLatin1String(name), value);
    }
    return options;
}

QString serialText(uint32_t serial) {
    return serial == 0xFFFFFFFFu ? QStringLiteral("(not answering)")
                                 : settings_file::hexWord(serial);
}

namespace {

// The outcome of the last store, for the message of a failed save.
StoreResult last_store;
int storeAndKeep(CommsManager *comms, uint32_t crc) {
    last_store = store_settings_exchange(comms, crc);
    return last_store.outcome == StoreOutcome::Stored ? 0 : -1;
}

// What a store exchange came to, in efis-cli's words.
QString storeText(const StoreResult &store) {
    return outcome::words(outcome::storeResult(store.outcome), {QString::number(store.can_id, 16)})
        .cli;
}

// Why a save stored nothing, in efis-cli's words: the fields it could not read or send, the
// header word it could not read, or the store exchange's end.
QString saveFailure(const SaveResult &saved, const StoreResult &store) {
    switch (saved.outcome) {
    case SaveOutcome::Unread:
        return outcome::words(outcome::Result::FieldNotReadForSave, {fieldList(saved.unread)}).cli;
    case SaveOutcome::SendFailed:
        return outcome::words(outcome::Result::FieldNotSent, {fieldList(saved.failed)}).cli;
    case SaveOutcome::HeaderUnread:
        return outcome::words(outcome::headerUnread(saved.header), {QString::number(saved.header)})
            .cli;
    case SaveOutcome::StoreFailed:
    case SaveOutcome::Saved:
        break;
    }
    return storeText(store);
}

} // namespace

void Context::say(const QString &line) const {
    std::fprintf(s.out, "%s\n", shown_text::escapeControls(line).toLocal8Bit().constData());
}

void Context::printJson(const QJsonObject &object) const {
    json_printed = true;
    std::fprintf(s.out, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
}

int Context::load() {
    loaded = session.load(comms.get());
    switch (loaded.outcome) {
    case LoadOutcome::NotConnected:
        return failed(outcome::words(outcome::Result::NoConnection));
    case LoadOutcome::HeaderUnread:
        return failed(outcome::words(outcome::headerUnread(loaded.header),
                                     {QString::number(static_cast<int>(loaded.header))}));
    case LoadOutcome::FieldRejected:
        return failed(outcome::words(outcome::Result::FieldRejected,
                                     {QString::number(loaded.rejected_field)}));
    case LoadOutcome::Loaded:
        break;
    }
    // A partial read is said, as the window says it; what could not be read stays out of any
    // save (the save reads it again and keeps the unit's own), and out of any file.
    if (!loaded.unread_fields.empty()) {
        error(outcome::words(outcome::Result::FieldUnread, {fieldList(loaded.unread_fields)}).cli);
    }
    if (loaded.erased) {
        error(outcome::words(outcome::Result::RecordErased).cli);
    } else if (!loaded.crc_matches) {
        error(outcome::words(outcome::Result::ChecksumMismatch,
                             {settings_file::hexWord(loaded.calculated_crc),
                              settings_file::hexWord(session.unitChecksum())})
                  .cli);
    }
    return CLI_OK;
}

bool Context::stopIfInterrupted(const QString &where) {
    if (!interrupted.load()) {
        return false;
    }
    error(QStringLiteral("interrupted %1").arg(where));
    return true;
}

int Context::sendAndStore(const Settings_t &target, bool store, QJsonObject *report, bool print) {
    // The fields whose stored words differ, and only those (the registration's three words are
    // one text: a new text sends them all); the same rule restores a backup after an update.
    const update_job::RestorePlan plan = update_job::restorePlan(target, record);
    update_job::Before current;
    current.has_settings = true;
    current.settings = record;
    QJsonArray sent;
    for (const settings_file::Difference &d : update_job::changes(current, target)) {
        sent.append(d.key);
    }
    for (const settings_struct_index index : plan.fields) {
        session.edit(index, settings_get_value(&target, index));
    }
    if (session.hasUnsentEdits()) {
        const SendResult result = session.sendEdits(comms.get(), UnitChoices{});
        if (!result.failed.empty()) {
            return failed(
                outcome::words(outcome::Result::FieldNotSent, {fieldList(result.failed)}));
        }
    }
    report->insert("sent", sent);
    if (store && stopIfInterrupted(QStringLiteral("before the store: the values were sent but not "
                                                  "stored, and a reboot loses them"))) {
        return CLI_INTERRUPTED;
    }
    if (store) {
        const Settings_t before = record;
        const SaveResult saved = session.save(comms.get(), before, UnitChoices{}, storeAndKeep);
        if (saved.outcome != SaveOutcome::Saved) {
            return failed(
                outcome::words(outcome::Result::StoreFailed, {saveFailure(saved, last_store)}));
        }
        report->insert("stored", true);
        report->insert("checksum", settings_file::hexWord(saved.new_crc));
    }
    if (!print) {
        return CLI_OK;
    }
    if (s.json) {
        printJson(*report);
    } else {
        for (const QJsonValue key : sent) {
            say(QStringLiteral("sent %1").arg(key.toString()));
        }

        if (store) {
            say(QStringLiteral("stored under checksum %1")
                    .arg(report->value("checksum").toString()));
        }
    }
    return CLI_OK;
}

bool Context::rulesKept(const Settings_t &target, bool force) {
    const std::vector<SettingsProblem> problems = checkSettings(target);
    for (const SettingsProblem &problem : problems) {
        error(QString::fromStdString(problem.text));
    }
    if (problems.empty() || force) {
        return true;
    }
    error(QStringLiteral("nothing sent: the settings contradict each other (--force sends them "
                         "anyway)"));
    return false;
}

bool Context::fileTaken(const QString &path, const settings_file::FileResult &read) {
    if (read.outcome == settings_file::FileOutcome::Unreadable) {
        error(QStringLiteral("cannot read %1: %2").arg(path, read.problem));
    } else if (read.outcome == settings_file::FileOutcome::Refused) {
        error(QStringLiteral("%1 refused: %2").arg(path, read.problem));
    }
    return read.outcome == settings_file::FileOutcome::Read;
}

} // namespace cli
