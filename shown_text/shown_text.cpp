#include "shown_text.h"

namespace shown_text {

namespace {

bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x200E && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString escapeControls(const QString &text) {
    if (!hasControls(text)) {
        return text;
    }
    QString shown;
    shown.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (!isControl(unit)) {
            shown += c;
        } else if (unit <= 0xFF) {
            shown += QStringLiteral("\\x%1").arg(unit, 2, 16, QLatin1Char('0'));
        } else {
            shown += QStringLiteral("\\u%1").arg(unit, 4, 16, QLatin1Char('0'));
        }
    }
    return shown;
}

bool hasControls(const QString &text) {
    for (const QChar c : text) {
        if (isControl(c.unicode())) {
            return true;
        }
    }
    return false;
}

} // namespace shown_text
