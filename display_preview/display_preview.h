#ifndef DISPLAY_PREVIEW_H
#define DISPLAY_PREVIEW_H

// The display preview: a sketch of how a settings record reads on the unit's display in flight,
// so that a person sees the arcs, markers, colours and corrections before walking to the
// aircraft. It has no widgets: the window's panel and efis-cli preview paint the same drawing.
//
// The drawing: the airspeed tape from Vmin, labelled in the chosen speed unit, with the white arc
// (Vs0 to Vfe), the green arc (Vs1 to Vn0) and the yellow arc (Vn0 to Vne) in the arc colours,
// the red line at Vne, the Vref marker in the approach indicator colour and, when Vlo is set,
// the gear marker in its colour; the attitude indicator with the sky and ground in their two
// colours each, the horizon rolled and pitched by the corrections, and the airplane symbol; the
// backlight brightness as a labelled level beside the display (the colours are never dimmed);
// under it all, the note that this is a sketch and the problems found in the settings. An arc
// that runs backwards or is empty is drawn hatched instead of solid.

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include "settings_types.h"

class QPainter;

namespace display_preview {

// Said under every drawing: the preview is the tool's reading of the settings, not the unit's.
inline constexpr const char *SKETCH_NOTE =
    "A sketch of how these settings read, not the unit's own drawing";

// The backlight levels the unit knows, 0 to this.
inline constexpr int BACKLIGHT_LEVELS = 21;

// What the drawing names under itself as wrong with the settings, one text each.
QStringList problems(const Settings_t &settings);

// Paints the drawing of `settings` into the rectangle (0, 0, size) of the painter's current
// coordinates, with `problem_texts` listed under it. The painter's state is kept.
void paint(QPainter &painter, const QSize &size, const Settings_t &settings,
           const QStringList &problem_texts);

// The drawing of `settings` and its problems as an image of `size`.
QImage image(const Settings_t &settings, const QSize &size);

} // namespace display_preview

#endif // DISPLAY_PREVIEW_H
