#include "backup_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include "new_file.h"
#include "settings_file.h"

namespace backup_file {

namespace {

Written fromPlatform(const QString &path, const platform::WriteResult &result) {
    Written written;
    written.path = path;
    switch (result.outcome) {
    case platform::WriteOutcome::Written:
        written.outcome = Outcome::Written;
        break;
    case platform::WriteOutcome::Exists:
        written.outcome = Outcome::Exists;
        written.problem = QStringLiteral("the file exists");
        break;
    case platform::WriteOutcome::Failed:
        written.outcome = Outcome::Failed;
        written.problem = QString::fromLocal8Bit(result.error.c_str());
        break;
    }
    return written;
}

std::string systemName(const QString &path) {
    return QFile::encodeName(path).toStdString();
}

std::string bytes(const QByteArray &text) {
    return std::string(text.constData(), static_cast<std::size_t>(text.size()));
}

// `path` with "-n" before its suffix: "a/G-ABCD-2026-12-08-2.json".
QString numbered(const QString &path, int n) {
    const QFileInfo info(path);
    const QString suffix = info.completeSuffix().isEmpty() ? QString() : "." + info.suffix();
    QString stem = path;
    stem.chop(suffix.size());
    return QStringLiteral("%1-%2%3").arg(stem).arg(n).arg(suffix);
}

} // namespace

QString defaultName(const Settings_t &record, uint32_t serial, const QDate &date) {
    QString registration;
    for (const settings_file::Entry &entry : settings_file::entries(record)) {
        if (entry.index == REGISTRATION_1_INDEX) {
            registration = entry.text;
        }
    }
    registration.remove(QRegularExpression("[^A-Za-z0-9_-]"));
    QStringList parts{registration.isEmpty() ? QStringLiteral("efis-settings") : registration};
    if (serial != NO_SERIAL) {
        parts << QStringLiteral("%1").arg(serial, 8, 16, QLatin1Char('0')).toUpper();
    }
    parts << date.toString(Qt::ISODate);
    return parts.join('-') + QStringLiteral(".json");
}

QByteArray fileText(const Settings_t &record, uint32_t serial) {
    settings_file::UnitHeader unit;
    unit.has_serial = serial != NO_SERIAL;
    unit.serial = serial;
    unit.magic = record.magic;
    unit.version = record.version;
    unit.num_elements = record.num_elements;
    return settings_file::write(record, unit);
}

Written writeUnderNewName(const QString &path, const QByteArray &text) {
    const std::string data = bytes(text);
    for (int n = 1; n <= MAX_NAME_NUMBER; ++n) {
        const QString name = n == 1 ? path : numbered(path, n);
        const Written written = fromPlatform(name, platform::writeNewFile(systemName(name), data));
        if (written.outcome != Outcome::Exists) {
            return written;
        }
    }
    Written none;
    none.path = path;
    none.problem = QStringLiteral("every name from %1 to -%2 is taken")
                       .arg(QFileInfo(path).fileName())
                       .arg(MAX_NAME_NUMBER);
    return none;
}

Written writeNamed(const QString &path, const QByteArray &text, bool replace) {
    const std::string name = systemName(path);
    const std::string data = bytes(text);
    return fromPlatform(path, replace ? platform::replaceFile(name, data)
                                      : platform::writeNewFile(name, data));
}

QString freeName(const QString &path) {
    const auto taken = [](const QString &name) {
        const QFileInfo info(name);
        return info.exists() || info.isSymLink();
    };
    for (int n = 1; n <= MAX_NAME_NUMBER; ++n) {
        const QString name = n == 1 ? path : numbered(path, n);
        if (!taken(name)) {
            return name;
        }
    }
    return path;
}

Written writeChosen(const QString &chosen, const QString &proposed, const QByteArray &text) {
    if (QFileInfo(chosen).absoluteFilePath() == QFileInfo(proposed).absoluteFilePath()) {
        return writeUnderNewName(chosen, text);
    }
    return writeNamed(chosen, text, true);
}

QString commandArgument(const QString &path) {
    QString argument = path.startsWith('-') ? QStringLiteral("./") + path : path;
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._/+,:@-]+$"));
    if (plain.match(argument).hasMatch()) {
        return argument;
    }
    argument.replace(QStringLiteral("'"), QStringLiteral("'\\''"));
    return QStringLiteral("'%1'").arg(argument);
}

} // namespace backup_file
