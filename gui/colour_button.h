#ifndef COLOUR_BUTTON_H
#define COLOUR_BUTTON_H

// A colour button of the settings form: it holds the colour it shows as its own property
// ("colour", a QColor; invalid until a colour is shown), paints it flat, as the unit shows it,
// with its #RRGGBB on it in black or white, whichever reads better, and lets a person pick
// another in the colour dialog. The colour is never read back from the button's look: what a
// person sees follows the property, not the other way round. Its style sheet still names the
// colour; the painting (flat fill, the value, the focus frame, the edited mark) is its own,
// since a style draws a button's background as a lightened gradient.

#include <QColor>

#include <cstdint>

#include "field_catalogue.h"

class QPushButton;
class QWidget;

class ColourButton {
public:
    explicit ColourButton(QPushButton *button);

    // Shows the colour of a colour word (its low three bytes; the top byte is not shown).
    void show(uint32_t word);
    // The colour word (0xFFRRGGBB) of the colour shown; false while no colour has been shown.
    bool word(uint32_t *word) const;
    // Opens the colour dialog on `current` (a colour word) with the row's title, and the row's
    // preset in custom colour slot 1. On a choice the button shows it; false when cancelled.
    bool pick(QWidget *parent, const ColourPicker &picker, uint32_t current);

    QPushButton *button() const { return button_; }

    // Black or white: the one with the greater contrast on `background`.
    static QColor textColourOn(const QColor &background);

private:
    QPushButton *button_;
};

#endif // COLOUR_BUTTON_H
