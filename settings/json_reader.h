#ifndef JSON_READER_H
#define JSON_READER_H

// The settings file's JSON, read with the one check a JSON reader leaves out: an object that
// names a key twice is refused, since the reader would keep one of the two values without a word.

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

namespace json_reader {

// The document `text` holds. When it is not JSON, or an object in it names a key twice (however
// the key is spelled: escapes are read), `error` says why and the document is null; else `error`
// is empty.
QJsonDocument parse(const QByteArray &text, QString *error);

} // namespace json_reader

#endif // JSON_READER_H
