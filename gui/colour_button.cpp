#include "colour_button.h"

#include <QColorDialog>
#include <QEvent>
#include <QPainter>
#include <QPushButton>
#include <QVariant>

#include <cmath>

#include "codecs.h"
#include "form_binder.h"

namespace {

// The property that holds the colour, and the style sheet that names it.
const char *const COLOUR_PROPERTY = "colour";
const char *const STYLE_SHEET_FORMAT = "background-color: %1;";

QColor opaque(uint32_t word) {
    return QColor(static_cast<QRgb>(codecs::rgbOf(word)));
}

// The relative luminance of a colour as screens show it (sRGB), 0 for black to 1 for white.
double luminance(const QColor &colour) {
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

// Paints a colour button that shows a colour: the colour flat within a thin frame, its value
// on it, a frame inside while it has the focus, and the edited mark around it. Without a colour
// the style paints the button as any other.
class FlatPainter : public QObject {
public:
    explicit FlatPainter(QPushButton *button) : QObject(button), button_(button) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched != button_ || event->type() != QEvent::Paint) {
            return false;
        }
        const QColor colour = button_->property(COLOUR_PROPERTY).value<QColor>();
        if (!colour.isValid()) {
            return false;
        }
        QPainter painter(button_);
        const QRect outer = button_->rect();
        const bool edited = button_->property("edited").toBool();
        // The edited mark as the rest of the form draws it; else a thin frame in the style's
        // dark tone, so that a colour close to the window's still shows its edge.
        const int edge = edited ? 2 : 1;
        painter.fillRect(outer, edited ? QColor(form_binding::EDITED_COLOUR)
                                       : button_->palette().color(QPalette::Dark));
        const QRect fill = outer.adjusted(edge, edge, -edge, -edge);
        painter.fillRect(fill, button_->isDown() ? colour.darker(120) : colour);
        const QColor ink = ColourButton::textColourOn(colour);
        if (button_->hasFocus()) {
            painter.setPen(QPen(ink, 1, Qt::DashLine));
            painter.drawRect(fill.adjusted(2, 2, -3, -3));
        }
        painter.setPen(ink);
        painter.setFont(button_->font());
        painter.drawText(fill, Qt::AlignCenter,
                         QString::fromStdString(codecs::colourText(colour.rgb())));
        return true;
    }

private:
    QPushButton *button_;
};

} // namespace

ColourButton::ColourButton(QPushButton *button) : button_(button) {
    button->installEventFilter(new FlatPainter(button));
}

QColor ColourButton::textColourOn(const QColor &background) {
    // Contrast ratios (L1 + 0.05) / (L2 + 0.05) against black and against white.
    const double l = luminance(background);
    return (l + 0.05) / 0.05 >= 1.05 / (l + 0.05) ? QColor(Qt::black) : QColor(Qt::white);
}

void ColourButton::show(uint32_t word) {
    const QColor colour = opaque(word);
    button_->setProperty(COLOUR_PROPERTY, colour);
    // The name is "#rrggbb": a hash and six lower-case hexadecimal digits.
    button_->setStyleSheet(QString::fromLatin1(STYLE_SHEET_FORMAT).arg(colour.name()));
    button_->setToolTip(QString::fromStdString(codecs::colourText(codecs::colourWord(word))));
    button_->update();
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
