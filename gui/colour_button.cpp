#include "colour_button.h"

#include <QColorDialog>
#include <QPushButton>
#include <QVariant>

#include "codecs.h"

namespace {

// The property that holds the colour, and the look that shows it.
const char *const COLOUR_PROPERTY = "colour";
const char *const STYLE_SHEET_FORMAT = "background-color: %1;";

QColor opaque(uint32_t word) {
    return QColor(static_cast<QRgb>(codecs::rgbOf(word)));
}

} // namespace

void ColourButton::show(uint32_t word) {
    const QColor colour = opaque(word);
    button_->setProperty(COLOUR_PROPERTY, colour);
    // The name is "#rrggbb": a hash and six lower-case hexadecimal digits.
    button_->setStyleSheet(QString::fromLatin1(STYLE_SHEET_FORMAT).arg(colour.name()));
}

bool ColourButton::word(uint32_t *word) const {
    const QColor colour = button_->property(COLOUR_PROPERTY).value<QColor>();
    if (!colour.isValid()) {
        return false;
    }
    *word = codecs::colourWord(colour.rgb());
    return true;
}

bool ColourButton::pick(QWidget *parent, const ColourPicker &picker, uint32_t current) {
    QColorDialog::setCustomColor(1, opaque(picker.preset_rgb));
    const QColor colour = QColorDialog::getColor(opaque(current), parent, picker.title);
    if (!colour.isValid()) {
        return false;
    }
    show(colour.rgb());
    return true;
}
