#include "settings_file.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "codecs.h"
#include "field_catalogue.h"
#include "get_set.h"
#include "input_file.h"
#include "json_reader.h"

namespace settings_file {

namespace {

// The object of the words that the readable values cannot carry, and its key for the units word.
const QLatin1String BEYOND_FORM("beyond_form");
const QLatin1String UNITS_WORD_KEY("units");

uint32_t field(const Settings_t &record, settings_struct_index index) {
    return settings_get_value(&record, index);
}

// The rows that the settings object holds: every field but the units bits no choice covers,
// which only the units word carries.
bool inSettingsObject(const FieldRow &row) {
    return row.kind != FieldKind::UnitBits;
}

// The key under which "beyond_form" carries a row's words: the units word once for its choices.
QString wordKey(const FieldRow &row) {
    return row.index == UNITS_VALUE_INDEX ? QString(UNITS_WORD_KEY) : QString::fromLatin1(row.key);
}

QString latin1(const std::string &bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QJsonValue valueOf(const Settings_t &record, const FieldRow &row) {
    const uint32_t word = field(record, row.index);
    switch (row.kind) {
    case FieldKind::UnitChoice:
        for (const UnitOption &choice : row.choices) {
            if (choice.name != nullptr && (word & row.unit_bits) == choice.bit) {
                return QString::fromLatin1(choice.name);
            }
        }
        return QJsonValue(); // none or several chosen: the form could show no single choice
    case FieldKind::UnitBits:
        return hexWord(word);
    case FieldKind::Whole:
        return static_cast<double>(word);
    case FieldKind::Volts:
        return codecs::voltsFromTenths(word);
    case FieldKind::Registration:
        return latin1(codecs::registrationText(record.registration));
    case FieldKind::Colour:
        return QString::fromStdString(codecs::colourText(word));
    case FieldKind::Angle: {
        const float angle = codecs::angleOf(word);
        if (!std::isfinite(angle)) {
            return QJsonValue(); // JSON has no number for it: "beyond_form" carries the word
        }
        return QString::fromStdString(codecs::angleText(angle)).toDouble();
    }
    }
    return QJsonValue();
}

// A JSON value as the file holds it, for messages and differences.
QString jsonText(const QJsonValue &value) {
    if (value.isNull()) {
        return QStringLiteral("null");
    }
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString rangeText(const FieldRow &row) {
    switch (row.kind) {
    case FieldKind::UnitChoice: {
        QStringList names;
        for (const UnitOption &choice : row.choices) {
            if (choice.name != nullptr) {
                names << QStringLiteral("\"%1\"").arg(QString::fromLatin1(choice.name));
            }
        }
        return QStringLiteral("one of %1").arg(names.join(QStringLiteral(", ")));
    }
    case FieldKind::UnitBits:
        return QString();
    case FieldKind::Whole:
        return QStringLiteral("a whole number from %1 to %2")
            .arg(static_cast<qulonglong>(row.min))
            .arg(static_cast<qulonglong>(row.max));
    case FieldKind::Volts:
        return QStringLiteral("volts from %1 to %2 in steps of 0.1")
            .arg(row.min, 0, 'f', 1)
            .arg(row.max, 0, 'f', 1);
    case FieldKind::Registration:
        return QStringLiteral("text of at most 11 Latin-1 characters other than \u00FF");
    case FieldKind::Colour:
        return QStringLiteral("a colour \"#RRGGBB\" or \"#AARRGGBB\"");
    case FieldKind::Angle:
        return QStringLiteral("degrees from %1 to %2").arg(row.min).arg(row.max);
    }
    return QString();
}

// Sets the row's field in `record` from the file's value; false when the value is not one the
// form allows.
bool take(const FieldRow &row, const QJsonValue &value, Settings_t *record) {
    uint32_t word = 0;
    switch (row.kind) {
    case FieldKind::UnitChoice: {
        if (!value.isString()) {
            return false;
        }
        for (const UnitOption &choice : row.choices) {
            if (choice.name != nullptr && value.toString() == QLatin1String(choice.name)) {
                word = (field(*record, row.index) & ~row.unit_bits) | choice.bit;
                return settings_set_value(record, row.index, &word);
            }
        }
        return false;
    }
    case FieldKind::UnitBits:
        return false;
    case FieldKind::Whole: {
        const double v = value.toDouble(-1);
        if (!value.isDouble() || v != std::floor(v) || v < row.min || v > row.max) {
            return false;
        }
        word = static_cast<uint32_t>(v);
        return settings_set_value(record, row.index, &word);
    }
    case FieldKind::Volts: {
        if (!value.isDouble() || !codecs::exactTenths(value.toDouble(), &word) ||
            word < codecs::tenthsFromVolts(row.min) || word > codecs::tenthsFromVolts(row.max)) {
            return false;
        }
        return settings_set_value(record, row.index, &word);
    }
    case FieldKind::Registration: {
        const QString text = value.toString();
        if (!value.isString() || text.size() > row.max) {
            return false;
        }
        std::string bytes;
        for (const QChar c : text) {
            // 0xFF ends the registration as erased flash does: "G-\u00FFX" would be read back,
            // shown and exported as "G-".
            if (c.unicode() == 0 || c.unicode() >= 0xFF) {
                return false;
            }
            bytes += static_cast<char>(c.unicode());
        }
        const std::array<uint32_t, 3> words = codecs::joinRegistration(record->registration, bytes);
        for (std::size_t g = 0; g < words.size(); ++g) {
            settings_set_value(record, indicesOf(row)[g], &words[g]);
        }
        return true;
    }
    case FieldKind::Colour:
        return value.isString() && codecs::colourFromText(value.toString().toStdString(), &word) &&
               settings_set_value(record, row.index, &word);
    case FieldKind::Angle: {
        const double v = value.toDouble(1000);
        if (!value.isDouble() || !std::isfinite(v) || v < row.min || v > row.max) {
            return false;
        }
        word = codecs::angleBits(v);
        return settings_set_value(record, row.index, &word);
    }
    }
    return false;
}

// True when the words of `row` are the same in both records (for a unit group: its bits).
bool sameWords(const FieldRow &row, const Settings_t &a, const Settings_t &b) {
    for (const settings_struct_index index : indicesOf(row)) {
        const uint32_t mask = row.unit_bits != 0 ? row.unit_bits : 0xFFFFFFFFu;
        if (((field(a, index) ^ field(b, index)) & mask) != 0) {
            return false;
        }
    }
    return true;
}

// The words of a row as "beyond_form" writes them: one "0x..." word, or three for the
// registration.
QJsonValue wordsValue(const Settings_t &record, const FieldRow &row) {
    const std::vector<settings_struct_index> indices = indicesOf(row);
    if (indices.size() == 1) {
        return hexWord(field(record, row.index));
    }
    QJsonArray words;
    for (const settings_struct_index index : indices) {
        words.append(hexWord(field(record, index)));
    }
    return words;
}

// The words of `record` that its readable values do not carry exactly: a value outside the form's
// range, an angle that is no finite number, units bits no choice covers or a group with none or
// several chosen, registration bytes beyond its text. Found by reading the readable values back
// into two records that hold nothing and everything, since a value the file leaves open (a unit
// choice of null) keeps what the record read into holds.
QJsonObject beyondForm(const Settings_t &record) {
    Settings_t read_back[2];
    std::memset(&read_back[0], 0, sizeof(Settings_t));
    std::memset(&read_back[1], 0xFF, sizeof(Settings_t));
    for (Settings_t &back : read_back) {
        for (const FieldRow &row : fieldCatalogue()) {
            if (inSettingsObject(row)) {
                take(row, valueOf(record, row), &back);
            }
        }
        back.units.units_value &= unitChoiceBits(); // as read without the units word
    }
    QJsonObject beyond;
    for (const FieldRow &row : fieldCatalogue()) {
        for (const Settings_t &back : read_back) {
            const bool units = row.index == UNITS_VALUE_INDEX;
            if (units ? field(back, row.index) != field(record, row.index)
                      : !sameWords(row, record, back)) {
                beyond.insert(wordKey(row), wordsValue(record, row));
            }
        }
    }
    return beyond;
}

// A "0x..." word of "beyond_form" (for the registration: three).
bool takeWords(const QJsonValue &value, std::size_t count, std::vector<uint32_t> *words) {
    QJsonArray list;
    if (count == 1) {
        list.append(value);
    } else if (value.isArray()) {
        list = value.toArray();
    }
    if (static_cast<std::size_t>(list.size()) != count) {
        return false;
    }
    for (const QJsonValue item : list) {
        bool ok = false;
        const QString text = item.toString();
        const qulonglong word = text.mid(2).toULongLong(&ok, 16);
        if (!item.isString() || !text.startsWith(QLatin1String("0x")) || !ok ||
            word > 0xFFFFFFFFull) {
            return false;
        }
        words->push_back(static_cast<uint32_t>(word));
    }
    return true;
}

bool fail(QString *error, const QString &text) {
    if (error != nullptr) {
        *error = text;
    }
    return false;
}

// Refuses an object holding a key not in `known`.
bool onlyKnownKeys(const QJsonObject &object, const QStringList &known, const QString &where,
                   QString *error) {
    for (const QString &key : object.keys()) {
        if (!known.contains(key)) {
            return fail(error, QStringLiteral("Unknown key \"%1\" in %2").arg(key, where));
        }
    }
    return true;
}

// A 32-bit word of the unit header: a whole number, or a "0x..." text.
bool headerWord(const QJsonObject &unit, const char *key, uint32_t *out, QString *error) {
    const QJsonValue value = unit.value(QLatin1String(key));
    bool ok = false;
    if (value.isString() && value.toString().startsWith(QLatin1String("0x"))) {
        const qulonglong v = value.toString().mid(2).toULongLong(&ok, 16);
        ok = ok && v <= 0xFFFFFFFFull;
        *out = static_cast<uint32_t>(v);
    } else if (value.isDouble()) {
        // Range first: converting a number outside 32 bits is undefined.
        const double v = value.toDouble();
        ok = v >= 0 && v <= 4294967295.0 && v == std::floor(v);
        if (ok) {
            *out = static_cast<uint32_t>(v);
        }
    }
    if (!ok) {
        return fail(error, QStringLiteral("Unit field \"%1\": value %2 is not a 32-bit word")
                               .arg(QLatin1String(key), jsonText(value)));
    }
    return true;
}

} // namespace

QString hexWord(uint32_t value) {
    return QStringLiteral("0x") +
           QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

QString shownText(const QJsonValue &value) {
    return value.isString() ? value.toString() : jsonText(value);
}

QJsonObject settingsObject(const Settings_t &record) {
    QJsonObject settings;
    for (const FieldRow &row : fieldCatalogue()) {
        if (inSettingsObject(row)) {
            settings.insert(QLatin1String(row.key), valueOf(record, row));
        }
    }
    return settings;
}

QString displayText(const Settings_t &record, const FieldRow &row) {
    const uint32_t word = field(record, row.index);
    if (row.kind == FieldKind::Angle && !std::isfinite(codecs::angleOf(word))) {
        return QStringLiteral("%1 (word %2)")
            .arg(QString::fromStdString(codecs::angleText(codecs::angleOf(word))), hexWord(word));
    }
    const QString text = shownText(valueOf(record, row));
    if (row.kind == FieldKind::UnitChoice || row.kind == FieldKind::UnitBits) {
        return text;
    }
    Settings_t read_back{};
    if (!take(row, valueOf(record, row), &read_back)) {
        return QStringLiteral("%1 (outside the form's range)").arg(text);
    }
    if (!sameWords(row, record, read_back)) {
        QStringList words;
        for (const settings_struct_index index : indicesOf(row)) {
            words << hexWord(field(record, index));
        }
        return QStringLiteral("%1 (words %2)").arg(text, words.join(QLatin1Char(' ')));
    }
    return text;
}

std::vector<Entry> entries(const Settings_t &record) {
    std::vector<Entry> list;
    for (const FieldRow &row : fieldCatalogue()) {
        if (inSettingsObject(row)) {
            list.push_back({QString::fromLatin1(row.key), row.index, displayText(record, row)});
        }
    }
    return list;
}

QByteArray write(const Settings_t &record, const UnitHeader &unit) {
    QJsonObject header;
    header.insert(QStringLiteral("serial_number"),
                  unit.has_serial ? QJsonValue(hexWord(unit.serial)) : QJsonValue());
    header.insert(QStringLiteral("magic"), hexWord(unit.magic));
    header.insert(QStringLiteral("version"), static_cast<double>(unit.version));
    header.insert(QStringLiteral("num_elements"), static_cast<double>(unit.num_elements));
    const QJsonObject beyond = beyondForm(record);
    QJsonObject root;
    root.insert(QStringLiteral("format"), QLatin1String(FORMAT_NAME));
    root.insert(QStringLiteral("format_version"), FORMAT_VERSION);
    root.insert(QStringLiteral("unit"), header);
    root.insert(QStringLiteral("settings"), settingsObject(record));
    if (!beyond.isEmpty()) {
        root.insert(BEYOND_FORM, beyond);
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

namespace {

// Takes the words of "beyond_form" into `record`; `worded` receives the keys taken.
bool takeBeyondForm(const QJsonObject &beyond, Settings_t *record, QSet<QString> *worded,
                    QString *error) {
    for (auto it = beyond.begin(); it != beyond.end(); ++it) {
        const QByteArray key = it.key().toLatin1();
        const FieldRow *row = fieldByKey(key.constData());
        if (row == nullptr || row->kind == FieldKind::UnitChoice) {
            return fail(
                error,
                QStringLiteral("Unknown key \"%1\" in \"%2\"").arg(it.key(), QString(BEYOND_FORM)));
        }
        const std::vector<settings_struct_index> indices = indicesOf(*row);
        std::vector<uint32_t> words;
        if (!takeWords(it.value(), indices.size(), &words)) {
            return fail(error, QStringLiteral("Field \"%1\" in \"%2\": %3 is not %4")
                                   .arg(it.key(), QString(BEYOND_FORM), jsonText(it.value()),
                                        indices.size() == 1
                                            ? QStringLiteral("a 32-bit word \"0x…\"")
                                            : QStringLiteral("a list of %1 32-bit words \"0x…\"")
                                                  .arg(indices.size())));
        }
        for (std::size_t i = 0; i < indices.size(); ++i) {
            settings_set_value(record, indices[i], &words[i]);
        }
        worded->insert(it.key());
    }
    return true;
}

} // namespace

bool read(const QByteArray &text, Settings_t *record, UnitHeader *unit, QString *error) {
    QString refused;
    const QJsonDocument document = json_reader::parse(text, &refused);
    if (!refused.isEmpty()) {
        return fail(error, refused);
    }
    if (!document.isObject()) {
        return fail(error, QStringLiteral("Not a settings file: the text is not a JSON object"));
    }
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != QLatin1String(FORMAT_NAME)) {
        return fail(error, QStringLiteral("Not a settings file: \"format\" is %1, not \"%2\"")
                               .arg(jsonText(root.value(QStringLiteral("format"))),
                                    QLatin1String(FORMAT_NAME)));
    }
    const QJsonValue version = root.value(QStringLiteral("format_version"));
    const double v = version.toDouble(-1);
    if (!version.isDouble() || v != std::floor(v) || v < 1) {
        return fail(
            error,
            QStringLiteral("Not a settings file: \"format_version\" is %1").arg(jsonText(version)));
    }
    if (v > FORMAT_VERSION) {
        // Named as the file writes it: a version of any size is never converted to an integer.
        return fail(error, QStringLiteral("The file is in format version %1, newer than this tool "
                                          "reads (version %2): use a newer efis-config")
                               .arg(jsonText(version))
                               .arg(FORMAT_VERSION));
    }
    QStringList root_keys{"format", "format_version", "unit", "settings"};
    if (v >= FORMAT_VERSION) {
        root_keys << BEYOND_FORM;
    }
    if (!onlyKnownKeys(root, root_keys, "the file", error)) {
        return false;
    }

    UnitHeader header;
    const QJsonValue unit_value = root.value(QStringLiteral("unit"));
    if (!unit_value.isUndefined()) {
        if (!unit_value.isObject()) {
            return fail(error, QStringLiteral("\"unit\" is not an object"));
        }
        const QJsonObject u = unit_value.toObject();
        if (!onlyKnownKeys(u, {"serial_number", "magic", "version", "num_elements"}, "\"unit\"",
                           error)) {
            return false;
        }
        if (u.contains(QStringLiteral("serial_number")) &&
            !u.value(QStringLiteral("serial_number")).isNull()) {
            header.has_serial = headerWord(u, "serial_number", &header.serial, error);
            if (!header.has_serial) {
                return false;
            }
        }
        for (const auto &word :
             {std::make_pair("magic", &header.magic), std::make_pair("version", &header.version),
              std::make_pair("num_elements", &header.num_elements)}) {
            if (u.contains(QLatin1String(word.first)) &&
                !headerWord(u, word.first, word.second, error)) {
                return false;
            }
        }
    }

    const QJsonValue settings_value = root.value(QStringLiteral("settings"));
    if (!settings_value.isObject()) {
        return fail(error, QStringLiteral("The file has no \"settings\" object"));
    }
    const QJsonObject settings = settings_value.toObject();
    QStringList known;
    for (const FieldRow &row : fieldCatalogue()) {
        if (inSettingsObject(row)) {
            known << QString::fromLatin1(row.key);
        }
    }
    if (!onlyKnownKeys(settings, known, "\"settings\"", error)) {
        return false;
    }
    Settings_t taken = *record;
    QSet<QString> worded;
    const QJsonValue beyond = root.value(BEYOND_FORM);
    if (!beyond.isUndefined() && !beyond.isObject()) {
        return fail(error, QStringLiteral("\"%1\" is not an object").arg(QString(BEYOND_FORM)));
    }
    if (!takeBeyondForm(beyond.toObject(), &taken, &worded, error)) {
        return false;
    }
    for (const FieldRow &row : fieldCatalogue()) {
        if (!inSettingsObject(row)) {
            continue;
        }
        const QString key = QString::fromLatin1(row.key);
        if (!settings.contains(key)) {
            return fail(error,
                        QStringLiteral("Missing field \"%1\" (%2)").arg(key, rangeText(row)));
        }
        const QJsonValue value = settings.value(key);
        if (worded.contains(wordKey(row))) {
            // The words are taken as they stand; the readable value beside them must still be
            // what they hold, so that an edit of one and not the other is not taken silently.
            const QJsonValue held = valueOf(taken, row);
            if (value != held) {
                return fail(error,
                            QStringLiteral("Field \"%1\": value %2 is not what its words in "
                                           "\"%3\" hold (%4); remove them there to set a "
                                           "new value")
                                .arg(key, jsonText(value), QString(BEYOND_FORM), jsonText(held)));
            }
            continue;
        }
        // A unit choice the record held none or several of is kept as it is.
        if (row.kind == FieldKind::UnitChoice && value.isNull()) {
            continue;
        }
        if (!take(row, value, &taken)) {
            return fail(error, QStringLiteral("Field \"%1\": value %2 is not allowed; allowed: %3")
                                   .arg(key, jsonText(value), rangeText(row)));
        }
    }
    // Since version 2 the file says the whole units word: bits no choice covers are 0 unless its
    // word is given. A file of version 1 did not say them, so the record's are kept.
    if (v >= 2 && !worded.contains(UNITS_WORD_KEY)) {
        taken.units.units_value &= unitChoiceBits();
    }
    *record = taken;
    if (unit != nullptr) {
        *unit = header;
    }
    return true;
}

bool assign(Settings_t *record, const QString &key, const QJsonValue &value, QString *error) {
    const QByteArray name = key.toLatin1();
    const FieldRow *row = fieldByKey(name.constData());
    if (row == nullptr || !inSettingsObject(*row)) {
        return fail(error, QStringLiteral("Unknown key \"%1\" in \"settings\"").arg(key));
    }
    // A unit choice of null keeps the record's, as in a file.
    if (row->kind == FieldKind::UnitChoice && value.isNull()) {
        return true;
    }
    Settings_t taken = *record;
    if (!take(*row, value, &taken)) {
        return fail(error, QStringLiteral("Field \"%1\": value %2 is not allowed; allowed: %3")
                               .arg(key, jsonText(value), rangeText(*row)));
    }
    *record = taken;
    return true;
}

std::vector<Difference> differences(const Settings_t &current, const Settings_t &other) {
    // Decided on the words the unit holds; the texts only show them.
    std::vector<Difference> list;
    for (const FieldRow &row : fieldCatalogue()) {
        if (!sameWords(row, current, other)) {
            list.push_back({QString::fromLatin1(row.key), row.index, displayText(current, row),
                            displayText(other, row)});
        }
    }
    return list;
}

FileResult readFileText(const QString &path, QByteArray *text) {
    const input_file::ReadResult in =
        input_file::readAll(QFile::encodeName(path).toStdString(), MAX_FILE_SIZE);
    switch (in.status) {
    case input_file::ReadStatus::Read:
        *text = QByteArray::fromStdString(in.data);
        return {FileOutcome::Read, QString()};
    case input_file::ReadStatus::TooLarge:
        return {FileOutcome::Refused, QStringLiteral("too large for a settings file (%1)")
                                          .arg(QString::fromStdString(in.why))};
    default:
        return {FileOutcome::Unreadable, QString::fromStdString(in.why)};
    }
}

FileResult readFile(const QString &path, Settings_t *record, UnitHeader *unit) {
    QByteArray text;
    const FileResult taken = readFileText(path, &text);
    if (taken.outcome != FileOutcome::Read) {
        return taken;
    }
    QString problem;
    if (!read(text, record, unit, &problem)) {
        return {FileOutcome::Refused, problem};
    }
    return {FileOutcome::Read, QString()};
}

} // namespace settings_file
