#include "json_reader.h"

#include <QSet>

#include <algorithm>
#include <vector>

namespace json_reader {

namespace {

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
            // Named by the key it stands under; in an array, by the array's key.
            const QString name = open.empty()         ? QStringLiteral("the file")
                                 : open.back().object ? last_key
                                                      : open.back().name;
            open.push_back({c == '{', c == '{', name, {}});
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

QJsonDocument parse(const QByteArray &text, QString *error) {
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError) {
        *error = QStringLiteral("Not a settings file: %1 at byte %2")
                     .arg(parse.errorString())
                     .arg(parse.offset);
        return QJsonDocument();
    }
    *error = duplicateKey(text);
    return error->isEmpty() ? document : QJsonDocument();
}

} // namespace json_reader
