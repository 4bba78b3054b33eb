#include "settings_file.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "get_set.h"
#include "input_file.h"

namespace settings_file {

namespace {

enum class Kind { UnitChoice, Whole, Volts, Registration, Colour, Angle };

// One choice among the unit bits: its names and the bit of each.
struct Choice {
    const char *names[3];
    uint32_t bits[3];
    int count;
    uint32_t mask() const { return bits[0] | bits[1] | (count > 2 ? bits[2] : 0u); }
};

const Choice SPEED = {{"mph", "knots", "kph"}, {1u << 0, 1u << 1, 1u << 2}, 3};
const Choice ALTITUDE = {{"feet", "meters", nullptr}, {1u << 3, 1u << 4, 0}, 2};
const Choice TEMPERATURE = {{"fahrenheit", "celsius", nullptr}, {1u << 5, 1u << 6, 0}, 2};
const Choice PRESSURE = {{"inHg", "mbar", nullptr}, {1u << 7, 1u << 8, 0}, 2};

struct FieldRule {
    const char *key;
    settings_struct_index index;
    Kind kind;
    double min; // the range the form allows (whole numbers, volts, degrees)
    double max;
    const Choice *choice;
};

// Every entry of the file, in the file's order; the ranges are the form's.
const FieldRule FIELD_RULES[] = {
    {"speed_unit", UNITS_VALUE_INDEX, Kind::UnitChoice, 0, 0, &SPEED},
    {"altitude_unit", UNITS_VALUE_INDEX, Kind::UnitChoice, 0, 0, &ALTITUDE},
    {"temperature_unit", UNITS_VALUE_INDEX, Kind::UnitChoice, 0, 0, &TEMPERATURE},
    {"pressure_unit", UNITS_VALUE_INDEX, Kind::UnitChoice, 0, 0, &PRESSURE},
    {"vmin", VMIN_INDEX, Kind::Whole, 0, 255, nullptr},
    {"vs0", VS0_INDEX, Kind::Whole, 0, 255, nullptr},
    {"vs1", VS1_INDEX, Kind::Whole, 0, 255, nullptr},
    {"vfe", VFE_INDEX, Kind::Whole, 0, 255, nullptr},
    {"vn0", VN0_INDEX, Kind::Whole, 0, 255, nullptr},
    {"vne", VNE_INDEX, Kind::Whole, 0, 255, nullptr},
    {"vref", APPROACHSPEED_INDEX, Kind::Whole, 0, 255, nullptr},
    {"vlo", VLO_INDEX, Kind::Whole, 0, 255, nullptr},
    {"voltage_warning_min", MIN_VOLTS_INDEX, Kind::Volts, 5, 65, nullptr},
    {"voltage_warning_max", MAX_VOLTS_INDEX, Kind::Volts, 5, 65, nullptr},
    {"voltage_alert_min", MIN_VOLTS_ALERT_INDEX, Kind::Volts, 5, 65, nullptr},
    {"voltage_alert_max", MAX_VOLTS_ALERT_INDEX, Kind::Volts, 5, 65, nullptr},
    {"registration", REGISTRATION_1_INDEX, Kind::Registration, 0, 11, nullptr},
    {"sky_color_top", SKY_COLOR_0_INDEX, Kind::Colour, 0, 0, nullptr},
    {"sky_color_bottom", SKY_COLOR_1_INDEX, Kind::Colour, 0, 0, nullptr},
    {"ground_color_top", GROUND_COLOR_0_INDEX, Kind::Colour, 0, 0, nullptr},
    {"ground_color_bottom", GROUND_COLOR_1_INDEX, Kind::Colour, 0, 0, nullptr},
    {"approach_indicator_color", APPROACH_COLOR_INDEX, Kind::Colour, 0, 0, nullptr},
    {"airplane_color", AIRPLANE_COLOR_INDEX, Kind::Colour, 0, 0, nullptr},
    {"green_arc_color", GREEN_ARC_COLOR_INDEX, Kind::Colour, 0, 0, nullptr},
    {"yellow_arc_color", YELLOW_ARC_COLOR_INDEX, Kind::Colour, 0, 0, nullptr},
    {"red_arc_color", RED_ARC_COLOR_INDEX, Kind::Colour, 0, 0, nullptr},
    {"gear_indicator_color", GEAR_INDI_COLOR_INDEX, Kind::Colour, 0, 0, nullptr},
    {"backlight_brightness", BACKLIGHT_BRIGHTNESS_INDEX, Kind::Whole, 0, 21, nullptr},
    {"text_background_transparency", TEXT_BG_ALPHA_INDEX, Kind::Whole, 0, 254, nullptr},
    {"roll_correction", ROLL_CORRECTION_INDEX, Kind::Angle, -90, 90, nullptr},
    {"pitch_correction", PITCH_CORRECTION_INDEX, Kind::Angle, -90, 90, nullptr},
    {"use_magnetic_heading", USE_MAG_INDEX, Kind::Whole, 0, 4294967295.0, nullptr},
};

uint32_t field(const Settings_t &record, settings_struct_index index) {
    return settings_get_value(&record, index);
}

// The registration text: up to 11 characters, ending at the first 0 or erased byte.
QString registrationText(const Settings_t &record) {
    const auto *reg = reinterpret_cast<const unsigned char *>(record.registration);
    int length = 0;
    while (length < SETTINGS_REGISTRATION_LEN - 1 && reg[length] != 0 && reg[length] != 0xFF) {
        ++length;
    }
    return QString::fromLatin1(record.registration, length);
}

// The shortest decimal that reads back as the same single-precision value.
double shortestAngle(float value) {
    for (int digits = 1; digits <= 9; ++digits) {
        const double candidate =
            QString::number(static_cast<double>(value), 'g', digits).toDouble();
        if (static_cast<float>(candidate) == value) {
            return candidate;
        }
    }
    return static_cast<double>(value);
}

float angleOf(const Settings_t &record, settings_struct_index index) {
    const uint32_t bits = field(record, index);
    float value = 0;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

QJsonValue valueOf(const Settings_t &record, const FieldRule &rule) {
    const uint32_t word = field(record, rule.index);
    switch (rule.kind) {
    case Kind::UnitChoice:
        for (int i = 0; i < rule.choice->count; ++i) {
            if ((word & rule.choice->mask()) == rule.choice->bits[i]) {
                return QString::fromLatin1(rule.choice->names[i]);
            }
        }
        return QJsonValue(); // none or several chosen: the form could show no single choice
    case Kind::Whole:
        return static_cast<double>(word);
    case Kind::Volts:
        return static_cast<double>(word) / 10.0;
    case Kind::Registration:
        return registrationText(record);
    case Kind::Colour:
        return (word >> 24) == 0xFFu
                   ? QStringLiteral("#%1").arg(word & 0xFFFFFFu, 6, 16, QLatin1Char('0')).toUpper()
                   : QStringLiteral("#%1").arg(word, 8, 16, QLatin1Char('0')).toUpper();
    case Kind::Angle:
        return shortestAngle(angleOf(record, rule.index));
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

QString rangeText(const FieldRule &rule) {
    switch (rule.kind) {
    case Kind::UnitChoice: {
        QStringList names;
        for (int i = 0; i < rule.choice->count; ++i) {
            names << QStringLiteral("\"%1\"").arg(QString::fromLatin1(rule.choice->names[i]));
        }
        return QStringLiteral("one of %1").arg(names.join(QStringLiteral(", ")));
    }
    case Kind::Whole:
        return QStringLiteral("a whole number from %1 to %2")
            .arg(static_cast<qulonglong>(rule.min))
            .arg(static_cast<qulonglong>(rule.max));
    case Kind::Volts:
        return QStringLiteral("volts from %1 to %2 in steps of 0.1")
            .arg(rule.min, 0, 'f', 1)
            .arg(rule.max, 0, 'f', 1);
    case Kind::Registration:
        return QStringLiteral("text of at most 11 Latin-1 characters other than \u00FF");
    case Kind::Colour:
        return QStringLiteral("a colour \"#RRGGBB\" or \"#AARRGGBB\"");
    case Kind::Angle:
        return QStringLiteral("degrees from %1 to %2").arg(rule.min).arg(rule.max);
    }
    return QString();
}

// Sets the entry's field in `record` from the file's value; false when the value is not one the
// form allows.
bool take(const FieldRule &rule, const QJsonValue &value, Settings_t *record) {
    uint32_t word = 0;
    switch (rule.kind) {
    case Kind::UnitChoice: {
        if (!value.isString()) {
            return false;
        }
        for (int i = 0; i < rule.choice->count; ++i) {
            if (value.toString() == QLatin1String(rule.choice->names[i])) {
                word = (field(*record, rule.index) & ~rule.choice->mask()) | rule.choice->bits[i];
                return settings_set_value(record, rule.index, &word);
            }
        }
        return false;
    }
    case Kind::Whole: {
        const double v = value.toDouble(-1);
        if (!value.isDouble() || v != std::floor(v) || v < rule.min || v > rule.max) {
            return false;
        }
        word = static_cast<uint32_t>(v);
        return settings_set_value(record, rule.index, &word);
    }
    case Kind::Volts: {
        const double tenths = value.toDouble(-1) * 10.0;
        const double rounded = std::round(tenths);
        if (!value.isDouble() || std::fabs(tenths - rounded) > 1e-6 || rounded < rule.min * 10 ||
            rounded > rule.max * 10) {
            return false;
        }
        word = static_cast<uint32_t>(rounded);
        return settings_set_value(record, rule.index, &word);
    }
    case Kind::Registration: {
        const QString text = value.toString();
        if (!value.isString() || text.size() > rule.max) {
            return false;
        }
        char bytes[SETTINGS_REGISTRATION_LEN] = {};
        for (int i = 0; i < text.size(); ++i) {
            const char16_t unit = text.at(i).unicode();
            // 0xFF ends the registration as erased flash does: "G-\u00FFX" would be read back,
            // shown and exported as "G-".
            if (unit == 0 || unit >= 0xFF) {
                return false;
            }
            bytes[i] = static_cast<char>(unit);
        }
        std::memcpy(record->registration, bytes, sizeof(bytes));
        return true;
    }
    case Kind::Colour: {
        static const QRegularExpression colour(
            QStringLiteral("^#([0-9A-Fa-f]{6}|[0-9A-Fa-f]{8})$"));
        const QString text = value.toString();
        if (!value.isString() || !colour.match(text).hasMatch()) {
            return false;
        }
        word = text.mid(1).toUInt(nullptr, 16) | (text.size() == 7 ? 0xFF000000u : 0u);
        return settings_set_value(record, rule.index, &word);
    }
    case Kind::Angle: {
        const double v = value.toDouble(1000);
        if (!value.isDouble() || !std::isfinite(v) || v < rule.min || v > rule.max) {
            return false;
        }
        const float narrowed = static_cast<float>(v);
        std::memcpy(&word, &narrowed, sizeof(word));
        return settings_set_value(record, rule.index, &word);
    }
    }
    return false;
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

// A JSON string's text from the character after its opening quote; `at` ends after the closing
// quote. The text has passed the JSON parser, so every escape is well formed.
QString stringAt(const QByteArray &text, qsizetype *at) {
    QString decoded;
    qsizetype i = *at;
    qsizetype run = i; // start of the bytes not yet decoded
    while (i < text.size() && text[i] != '"') {
        if (text[i] != '\\') {
            ++i;
            continue;
        }
        decoded += QString::fromUtf8(text.constData() + run, i - run);
        const char escape = i + 1 < text.size() ? text[i + 1] : '\0';
        i += 2;
        switch (escape) {
        case 'b':
            decoded += QChar(u'\b');
            break;
        case 'f':
            decoded += QChar(u'\f');
            break;
        case 'n':
            decoded += QChar(u'\n');
            break;
        case 'r':
            decoded += QChar(u'\r');
            break;
        case 't':
            decoded += QChar(u'\t');
            break;
        case 'u': {
            bool ok = false;
            const ushort unit = text.mid(i, 4).toUShort(&ok, 16);
            decoded += QChar(ok ? unit : ushort{0xFFFD});
            i += 4;
            break;
        }
        default: // '"', '\\', '/'
            decoded += QLatin1Char(escape);
            break;
        }
        run = i;
    }
    decoded += QString::fromUtf8(text.constData() + run, std::min(i, text.size()) - run);
    *at = i + 1;
    return decoded;
}

// The refusal of a key that an object names twice, or empty when none does. A JSON reader keeps
// one of the two values without a word, so the file is read once more for its keys alone.
QString duplicateKey(const QByteArray &text) {
    struct Open {
        bool object;
        bool expecting_key;
        QString name; // the key the object stands under, as the messages name it
        QSet<QString> keys;
    };
    std::vector<Open> open;
    QString last_key = QStringLiteral("the file");
    qsizetype i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            ++i;
            const QString s = stringAt(text, &i);
            if (!open.empty() && open.back().object && open.back().expecting_key) {
                Open &o = open.back();
                o.expecting_key = false;
                if (o.keys.contains(s)) {
                    return QStringLiteral("Duplicate key \"%1\" in %2").arg(s, o.name);
                }
                o.keys.insert(s);
                last_key = QStringLiteral("\"%1\"").arg(s);
            }
            continue;
        }
        if (c == '{' || c == '[') {
            open.push_back(
                {c == '{', c == '{', open.empty() ? QStringLiteral("the file") : last_key, {}});
        } else if ((c == '}' || c == ']') && !open.empty()) {
            open.pop_back();
        } else if (c == ',' && !open.empty() && open.back().object) {
            open.back().expecting_key = true;
        }
        ++i;
    }
    return QString();
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
    for (const FieldRule &rule : FIELD_RULES) {
        settings.insert(QLatin1String(rule.key), valueOf(record, rule));
    }
    return settings;
}

std::vector<Entry> entries(const Settings_t &record) {
    std::vector<Entry> list;
    for (const FieldRule &rule : FIELD_RULES) {
        const QJsonValue value = valueOf(record, rule);
        list.push_back({QString::fromLatin1(rule.key), rule.index, shownText(value)});
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
    QJsonObject root;
    root.insert(QStringLiteral("format"), QLatin1String(FORMAT_NAME));
    root.insert(QStringLiteral("format_version"), FORMAT_VERSION);
    root.insert(QStringLiteral("unit"), header);
    root.insert(QStringLiteral("settings"), settingsObject(record));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool read(const QByteArray &text, Settings_t *record, UnitHeader *unit, QString *error) {
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError) {
        return fail(error, QStringLiteral("Not a settings file: %1 at byte %2")
                               .arg(parse.errorString())
                               .arg(parse.offset));
    }
    if (const QString repeated = duplicateKey(text); !repeated.isEmpty()) {
        return fail(error, repeated);
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
    if (!onlyKnownKeys(root, {"format", "format_version", "unit", "settings"}, "the file", error)) {
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
    for (const FieldRule &rule : FIELD_RULES) {
        known << QString::fromLatin1(rule.key);
    }
    if (!onlyKnownKeys(settings, known, "\"settings\"", error)) {
        return false;
    }
    Settings_t taken = *record;
    for (const FieldRule &rule : FIELD_RULES) {
        const QString key = QString::fromLatin1(rule.key);
        if (!settings.contains(key)) {
            return fail(error,
                        QStringLiteral("Missing field \"%1\" (%2)").arg(key, rangeText(rule)));
        }
        const QJsonValue value = settings.value(key);
        // A unit choice the record held none or several of is kept as it is.
        if (rule.kind == Kind::UnitChoice && value.isNull()) {
            continue;
        }
        if (!take(rule, value, &taken)) {
            return fail(error, QStringLiteral("Field \"%1\": value %2 is not allowed; allowed: %3")
                                   .arg(key, jsonText(value), rangeText(rule)));
        }
    }
    *record = taken;
    if (unit != nullptr) {
        *unit = header;
    }
    return true;
}

std::vector<Difference> differences(const Settings_t &current, const Settings_t &other) {
    std::vector<Difference> list;
    const std::vector<Entry> a = entries(current);
    const std::vector<Entry> b = entries(other);
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i].text != b[i].text) {
            list.push_back({a[i].key, a[i].index, a[i].text, b[i].text});
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
