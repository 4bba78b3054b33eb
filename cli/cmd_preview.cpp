// efis-cli preview: how the unit's settings (or a file's) read on its display, as a PNG image.
#include <QCommandLineParser>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

#include "cli_context.h"
#include "cli_handlers.h"
#include "display_preview.h"
#include "efis_cli.h"

namespace cli {

namespace {

// The preview's image size: 800x600 unless --size says otherwise, each side 16 to 4096 pixels.
const QSize DEFAULT_PREVIEW_SIZE(800, 600);
constexpr int MIN_PREVIEW_SIDE = 16;
constexpr int MAX_PREVIEW_SIDE = 4096;

// WIDTHxHEIGHT as a size; an empty size for anything else or a side out of range.
QSize previewSize(const QString &text) {
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,5})x([0-9]{1,5})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return {};
    }
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    const auto fits = [](int side) { return side >= MIN_PREVIEW_SIDE && side <= MAX_PREVIEW_SIDE; };
    return fits(width) && fits(height) ? QSize(width, height) : QSize();
}

// The size the command line asks for; empty when it asks for one out of range.
QSize requestedSize(const QCommandLineParser &parser) {
    return parser.isSet(QStringLiteral("size")) ? previewSize(parser.value(QStringLiteral("size")))
                                                : DEFAULT_PREVIEW_SIZE;
}

int preview(Context &c, const QString &path, const QSize &size) {
    const QStringList problems = display_preview::problems(c.record);
    const QImage image = display_preview::image(c.record, size);
    QSaveFile out(path);
    if (image.isNull() || !out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG") ||
        !out.commit()) {
        error(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return CLI_USAGE;
    }
    if (c.s.json) {
        QJsonObject o;
        o.insert("preview", path);
        o.insert("width", size.width());
        o.insert("height", size.height());
        o.insert("problems", QJsonArray::fromStringList(problems));
        c.printJson(o);
    } else {
        c.say(QStringLiteral("preview written to %1 (%2x%3)")
                  .arg(path, QString::number(size.width()), QString::number(size.height())));
        for (const QString &problem : problems) {
            c.say(QStringLiteral("problem: %1").arg(problem));
        }
    }
    return CLI_OK;
}

} // namespace

// A size out of range is refused first; a preview of a settings file needs no unit.
std::optional<int> previewWithoutUnit(Context &c, const Invocation &in) {
    const QSize size = requestedSize(in.parser);
    if (size.isEmpty()) {
        error(QStringLiteral("--size needs WIDTHxHEIGHT, each from %1 to %2")
                  .arg(MIN_PREVIEW_SIDE)
                  .arg(MAX_PREVIEW_SIDE));
        return CLI_USAGE;
    }
    if (!in.parser.isSet(QStringLiteral("from"))) {
        return std::nullopt;
    }
    for (const char *unit_option : {"serial", "device", "can"}) {
        if (in.parser.isSet(QLatin1String(unit_option))) {
            error(QStringLiteral("preview --from reaches no unit: --%1 does not apply")
                      .arg(QLatin1String(unit_option)));
            return CLI_USAGE;
        }
    }
    const QString from = in.parser.value(QStringLiteral("from"));
    Settings_t from_file = c.session.record();
    if (!c.fileTaken(from, settings_file::readFile(from, &from_file, nullptr))) {
        return CLI_USAGE;
    }
    c.session.replaceRecord(from_file);
    return preview(c, in.args.at(0), size);
}

int runPreview(Context &c, const Invocation &in) {
    return preview(c, in.args.at(0), requestedSize(in.parser));
}

} // namespace cli
