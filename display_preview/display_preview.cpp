#include "display_preview.h"

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRectF>

#include <algorithm>
#include <cmath>
#include <vector>

#include "preview_rules.h"

namespace display_preview {

namespace {

// The colours of the tool's own parts of the drawing: the bezel around the display, the tape,
// the texts beside and under it. The settings' colours are used exactly as the form holds them.
const QColor BEZEL(0x20, 0x21, 0x24);
const QColor TAPE_BACKGROUND(0x30, 0x30, 0x30);
const QColor TAPE_TEXT(Qt::white);
const QColor NOTE_TEXT(0xC8, 0xC8, 0xC8);
const QColor PROBLEM_TEXT(0xFF, 0x8A, 0x80);
const QColor LEVEL_FILL(0xFF, 0xD5, 0x4F);
const QColor LEVEL_FRAME(0x90, 0x90, 0x90);
// The white arc is white on every unit; it has no colour of its own in the settings.
const QColor WHITE_ARC(Qt::white);

// The degrees of pitch between the display's centre and its top or bottom edge.
constexpr double PITCH_DEGREES_TO_EDGE = 30.0;
// The corrections the form allows; anything beyond (or not a number) is drawn at the limit.
constexpr double CORRECTION_LIMIT = 90.0;
// The tape shows at least this span of speeds above Vmin, and this much above its top speed.
constexpr int MIN_TAPE_SPAN = 40;
constexpr int MIN_TAPE_HEADROOM = 10;
// At most this share of the height goes to the texts under the drawing.
constexpr double MAX_CAPTION_SHARE = 0.45;
// The unit's text background is at most this opaque (the form's transparency limit).
constexpr int MAX_TEXT_ALPHA = 254;

QColor colourOf(uint32_t word) {
    return QColor(static_cast<QRgb>(word & 0x00FFFFFFu));
}

double correction(float value) {
    if (!std::isfinite(value)) {
        return 0.0;
    }
    return std::clamp(static_cast<double>(value), -CORRECTION_LIMIT, CORRECTION_LIMIT);
}

QString speedUnitName(const units_t &units) {
    if (units.bits.is_knots) {
        return QStringLiteral("Knots");
    }
    if (units.bits.is_mph) {
        return QStringLiteral("Mph");
    }
    if (units.bits.is_kph) {
        return QStringLiteral("Kph");
    }
    return QStringLiteral("no speed unit");
}

// Where the parts of the drawing go at one size.
struct Layout {
    QRectF display; // the unit's screen
    QRectF tape;    // the airspeed tape inside it
    QRectF level;   // the brightness level beside it
    QRectF caption; // the note and the problems under it
    double margin = 0;
    double line = 0;     // the height of a line of text
    double marker_w = 0; // the column of the Vref and gear markers, at the tape's left
    double white_w = 0;  // the white arc, inside the others
    double arc_w = 0;    // the green and yellow arcs, at the tape's right edge
};

// The texts under the drawing, each wrapped to the caption's width.
struct CaptionLine {
    QString text;
    QColor colour;
    double height;
};

class Drawing {
public:
    Drawing(QPainter &painter, const QSize &size, const Settings_t &s, const QStringList &problems)
        : p(painter), size(size), s(s), problems(problems) {}

    void paint();

private:
    void setUpLayout();
    double speedY(double speed) const;
    void paintAttitude();
    void paintTape();
    void paintArc(double x, double width, int from, int to, const QColor &colour);
    void paintLabel(const QString &text, const QRectF &box, Qt::Alignment alignment);
    void paintLevel();
    void paintCaption();

    QPainter &p;
    QSize size;
    const Settings_t &s;
    QStringList problems;
    Layout l;
    QFont font;
    std::vector<CaptionLine> caption;
    double tape_low = 0;
    double tape_high = 1;
};

void Drawing::paint() {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRectF(0, 0, size.width(), size.height()), BEZEL);
    font = p.font();
    font.setPixelSize(std::clamp(std::min(size.width(), size.height()) / 28, 9, 16));
    p.setFont(font);
    setUpLayout();
    if (l.display.width() >= 40 && l.display.height() >= 40) {
        paintAttitude();
        paintTape();
        paintLevel();
    }
    paintCaption();
    p.restore();
}

void Drawing::setUpLayout() {
    const QFontMetricsF fm(font);
    l.line = fm.lineSpacing();
    l.margin = std::max(4.0, std::min(size.width(), size.height()) / 50.0);
    const double w = size.width();
    const double h = size.height();

    // The note and the problems, wrapped; what does not fit the caption's share is left out.
    const double caption_w = std::max(1.0, w - 2 * l.margin);
    const auto wrapped = [&](const QString &text) {
        return fm.boundingRect(QRectF(0, 0, caption_w, 1e6), Qt::TextWordWrap, text).height();
    };
    caption.push_back({QString::fromUtf8(SKETCH_NOTE), NOTE_TEXT, wrapped(SKETCH_NOTE)});
    double caption_h = caption.back().height;
    for (int i = 0; i < problems.size(); ++i) {
        const double height = wrapped(problems.at(i));
        const QString more = QStringLiteral("and %1 more").arg(problems.size() - i);
        if (caption_h + height + (i + 1 < problems.size() ? l.line : 0) > h * MAX_CAPTION_SHARE) {
            caption.push_back({more, PROBLEM_TEXT, wrapped(more)});
            caption_h += caption.back().height;
            break;
        }
        caption.push_back({problems.at(i), PROBLEM_TEXT, height});
        caption_h += height;
    }

    const double level_w =
        std::max(fm.horizontalAdvance(QStringLiteral("Brightness")),
                 fm.horizontalAdvance(QStringLiteral("%1 / %1").arg(BACKLIGHT_LEVELS))) +
        l.margin;
    l.display = QRectF(l.margin, l.margin, std::max(0.0, w - 3 * l.margin - level_w),
                       std::max(0.0, h - 3 * l.margin - caption_h));
    l.level = QRectF(l.display.right() + l.margin, l.display.top(), level_w, l.display.height());
    l.caption = QRectF(l.margin, l.display.bottom() + l.margin, caption_w, caption_h);

    l.marker_w = l.line * 0.9;
    l.white_w = std::max(3.0, l.line * 0.45);
    l.arc_w = std::max(4.0, l.line * 0.7);
    const double numbers_w = fm.horizontalAdvance(QStringLiteral("888")) + 8;
    const double tape_w =
        std::min(l.marker_w + numbers_w + l.white_w + l.arc_w + 4, l.display.width() * 0.4);
    const double top = l.display.top() + l.line * 1.6;
    l.tape = QRectF(l.display.left() + l.margin, top, tape_w,
                    std::max(1.0, l.display.bottom() - l.margin - top));

    // The tape starts at Vmin and reaches past the highest speed it marks.
    const vspeeds_t &v = s.vspeeds;
    tape_low = v.Vmin;
    double high = std::max({v.Vs0, v.Vs1, v.Vfe, v.Vn0, v.Vne, v.VRef, v.Vlo});
    high += std::max(static_cast<double>(MIN_TAPE_HEADROOM), (high - tape_low) * 0.1);
    tape_high = std::max(high, tape_low + MIN_TAPE_SPAN);
}

double Drawing::speedY(double speed) const {
    // Half a line inside the tape at both ends, so that the end numbers show whole.
    const double inset = l.line * 0.6;
    return l.tape.bottom() - inset -
           (speed - tape_low) / (tape_high - tape_low) * (l.tape.height() - 2 * inset);
}

void Drawing::paintAttitude() {
    const QRectF &d = l.display;
    const QPointF centre((l.tape.right() + d.right()) / 2, d.center().y());
    const double to_top = centre.y() - d.top();
    const double per_degree = d.height() / 2 / PITCH_DEGREES_TO_EDGE;
    const double pitch = correction(s.pitch_correction);
    const double roll = correction(s.roll_correction);
    const double reach = std::hypot(d.width(), d.height()) + std::abs(pitch * per_degree) + 10;

    p.save();
    p.setClipRect(d);
    // The display reads the corrections as the attitude of level flight: a nose-up pitch puts
    // the horizon below the centre, a right roll turns it anticlockwise.
    p.translate(centre);
    p.rotate(-roll);
    p.translate(0, pitch * per_degree);
    QLinearGradient sky(0, -to_top, 0, 0);
    sky.setColorAt(0, colourOf(s.sky_color[0]));
    sky.setColorAt(1, colourOf(s.sky_color[1]));
    p.fillRect(QRectF(-reach, -2 * reach, 2 * reach, 2 * reach), sky);
    QLinearGradient ground(0, 0, 0, to_top);
    ground.setColorAt(0, colourOf(s.ground_color[0]));
    ground.setColorAt(1, colourOf(s.ground_color[1]));
    p.fillRect(QRectF(-reach, 0, 2 * reach, 2 * reach), ground);
    p.setPen(QPen(Qt::white, 1.5));
    p.drawLine(QPointF(-reach, 0), QPointF(reach, 0));
    // The pitch ladder, every 10 degrees, kept short so the sky and ground stay in view.
    p.setPen(QPen(Qt::white, 1));
    for (int degrees = -20; degrees <= 20; degrees += 10) {
        if (degrees != 0) {
            const double half = d.width() * (degrees % 20 == 0 ? 0.08 : 0.05);
            const double y = -degrees * per_degree;
            p.drawLine(QPointF(-half, y), QPointF(half, y));
        }
    }
    p.restore();

    // The airplane symbol stays at the centre: two wings and a dot, outlined for contrast.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const double span = d.width() * 0.16;
    const double gap = span * 0.35;
    const double thick = std::max(3.0, l.line * 0.3);
    QPainterPath wings;
    for (const double side : {-1.0, 1.0}) {
        wings.moveTo(centre + QPointF(side * span, 0));
        wings.lineTo(centre + QPointF(side * gap, 0));
        wings.lineTo(centre + QPointF(side * gap, thick * 1.5));
    }
    const QColor airplane = colourOf(s.airplane_color);
    p.setPen(QPen(Qt::black, thick + 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawPath(wings);
    p.setPen(QPen(airplane, thick, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawPath(wings);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(airplane);
    p.drawEllipse(centre, thick, thick);
    p.restore();
}

void Drawing::paintLabel(const QString &text, const QRectF &box, Qt::Alignment alignment) {
    const QFontMetricsF fm(font);
    QRectF back = fm.boundingRect(box, static_cast<int>(alignment), text).adjusted(-2, 0, 2, 0);
    const int alpha = static_cast<int>(std::min<uint32_t>(s.text_bg_alpha, MAX_TEXT_ALPHA));
    p.fillRect(back, QColor(0, 0, 0, alpha));
    p.setPen(TAPE_TEXT);
    p.drawText(box, static_cast<int>(alignment), text);
}

void Drawing::paintArc(double x, double width, int from, int to, const QColor &colour) {
    if (from < to) {
        p.fillRect(QRectF(QPointF(x, speedY(to)), QPointF(x + width, speedY(from))), colour);
        return;
    }
    // Backwards or empty: hatched over black with a dashed frame, never a solid band.
    const double top = speedY(std::max(from, to));
    const double bottom = std::max(speedY(std::min(from, to)), top + l.line * 0.6);
    const QRectF band(QPointF(x, top - (from == to ? l.line * 0.3 : 0)),
                      QPointF(x + width, bottom - (from == to ? l.line * 0.3 : 0)));
    p.fillRect(band, Qt::black);
    p.fillRect(band, QBrush(colour, Qt::DiagCrossPattern));
    p.setPen(QPen(colour, 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(band.adjusted(0, 0, -1, -1));
}

void Drawing::paintTape() {
    const QRectF &t = l.tape;
    const vspeeds_t &v = s.vspeeds;
    paintLabel(speedUnitName(s.units),
               QRectF(t.left() - l.margin, l.display.top() + l.margin / 2, t.width() + 2 * l.margin,
                      l.line),
               Qt::AlignHCenter | Qt::AlignVCenter);

    p.save();
    p.fillRect(t, TAPE_BACKGROUND);
    p.setClipRect(t);

    const double outer_x = t.right() - l.arc_w;
    const double white_x = outer_x - l.white_w;
    paintArc(white_x, l.white_w, v.Vs0, v.Vfe, WHITE_ARC);
    paintArc(outer_x, l.arc_w, v.Vs1, v.Vn0, colourOf(s.green_arc_color));
    paintArc(outer_x, l.arc_w, v.Vn0, v.Vne, colourOf(s.yellow_arc_color));
    const double red_h = std::max(2.0, l.line * 0.18);
    p.fillRect(QRectF(t.left(), speedY(v.Vne) - red_h / 2, t.width(), red_h),
               colourOf(s.red_arc_color));

    // Ticks and numbers: from Vmin up, at a step that keeps the numbers a line and a half apart.
    int step = 5;
    for (const int candidate : {5, 10, 20, 25, 50, 100}) {
        step = candidate;
        if (t.height() * candidate / (tape_high - tape_low) >= l.line * 1.5) {
            break;
        }
    }
    const int low = static_cast<int>(tape_low);
    const double numbers_right = white_x - 6;
    p.setPen(QPen(TAPE_TEXT, 1));
    for (int speed = low; speed <= static_cast<int>(tape_high); ++speed) {
        const bool labelled = speed == low || (speed % step == 0 && speed - low >= step / 2 + 1);
        if (!labelled) {
            continue;
        }
        const double y = speedY(speed);
        p.setPen(QPen(TAPE_TEXT, 1));
        p.drawLine(QPointF(numbers_right + 1, y), QPointF(white_x - 1, y));
        paintLabel(QString::number(speed),
                   QRectF(t.left() + l.marker_w, y - l.line / 2,
                          numbers_right - 2 - t.left() - l.marker_w, l.line),
                   Qt::AlignRight | Qt::AlignVCenter);
    }

    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(Qt::black, 1));
    const double vref_y = speedY(v.VRef);
    const double marker_h = l.line * 0.8;
    p.setBrush(colourOf(s.vref_indi_color));
    p.drawPolygon(QPolygonF({QPointF(t.left() + 1, vref_y - marker_h / 2),
                             QPointF(t.left() + 1, vref_y + marker_h / 2),
                             QPointF(t.left() + l.marker_w - 1, vref_y)}));
    if (v.Vlo != 0) {
        p.setBrush(colourOf(s.gear_indi_color));
        const double r = l.marker_w * 0.35;
        p.drawEllipse(QPointF(t.left() + l.marker_w / 2, speedY(v.Vlo)), r, r);
    }
    p.restore();
    p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(t);
}

void Drawing::paintLevel() {
    const QRectF &r = l.level;
    const uint32_t level = s.backlight_brightness;
    p.setPen(NOTE_TEXT);
    p.drawText(QRectF(r.left(), r.top(), r.width(), l.line), Qt::AlignCenter,
               QStringLiteral("Brightness"));
    p.drawText(QRectF(r.left(), r.bottom() - l.line, r.width(), l.line), Qt::AlignCenter,
               QStringLiteral("%1 / %2").arg(level).arg(BACKLIGHT_LEVELS));
    const double bar_w = std::min(r.width() * 0.35, l.line * 0.9);
    const QRectF bar(r.center().x() - bar_w / 2, r.top() + l.line * 1.3, bar_w,
                     std::max(1.0, r.height() - l.line * 2.6));
    const double share = std::min<uint32_t>(level, BACKLIGHT_LEVELS) / double(BACKLIGHT_LEVELS);
    p.fillRect(
        QRectF(bar.left(), bar.bottom() - bar.height() * share, bar.width(), bar.height() * share),
        LEVEL_FILL);
    p.setPen(QPen(LEVEL_FRAME, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(bar);
}

void Drawing::paintCaption() {
    double y = l.caption.top();
    for (const CaptionLine &line : caption) {
        p.setPen(line.colour);
        p.drawText(QRectF(l.caption.left(), y, l.caption.width(), line.height), Qt::TextWordWrap,
                   line.text);
        y += line.height;
    }
}

} // namespace

QStringList problems(const Settings_t &settings) {
    return previewRuleProblems(settings);
}

void paint(QPainter &painter, const QSize &size, const Settings_t &settings,
           const QStringList &problem_texts) {
    Drawing(painter, size, settings, problem_texts).paint();
}

QImage image(const Settings_t &settings, const QSize &size) {
    QImage out(size, QImage::Format_RGB32);
    out.fill(BEZEL);
    QPainter painter(&out);
    paint(painter, size, settings, problems(settings));
    painter.end();
    return out;
}

} // namespace display_preview
