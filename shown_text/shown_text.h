#ifndef SHOWN_TEXT_H
#define SHOWN_TEXT_H

// Text that came from a unit or a file, made safe to show: a registration that holds an escape
// sequence or a line feed must not retitle a terminal, move its cursor or forge a second line of
// output. Control characters are shown as escapes, never passed on.

#include <QString>

namespace shown_text {

// `text` with every control character written as an escape: \xHH for the C0 controls (a line
// feed, a tab, ESC), DEL and the C1 controls, \uHHHH for the Unicode line and paragraph
// separators and the marks that reorder text. Every other character stands as it is.
QString escapeControls(const QString &text);

// True when `text` holds a character that escapeControls would escape.
bool hasControls(const QString &text);

} // namespace shown_text

#endif // SHOWN_TEXT_H
