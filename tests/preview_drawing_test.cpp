// The display preview's drawing of known records, read back pixel by pixel: the arcs where
// their V-speeds put them, the sky and ground either side of a horizon that follows the
// corrections, and wrong arcs drawn and named as wrong.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "display_preview.h"

namespace {

const QSize SIZE(400, 500);

// Colours that no part of the drawing shares; a dark backlight, which must not dim them.
Settings_t knownRecord() {
    Settings_t s;
    std::memset(&s, 0, sizeof(s));
    s.units.bits.is_knots = 1;
    s.vspeeds = {40, 45, 50, 85, 120, 150, 65, 90};
    s.sky_color[0] = 0xFF2040E0u;
    s.sky_color[1] = 0xFF80C0F0u;
    s.ground_color[0] = 0xFF806020u;
    s.ground_color[1] = 0xFF60A040u;
    s.green_arc_color = 0xFF00C000u;
    s.yellow_arc_color = 0xFFFFD700u;
    s.red_arc_color = 0xFFE00000u;
    s.text_bg_alpha = 150;
    return s;
}

QRgb rgb(uint32_t word) {
    return 0xFF000000u | word;
}

// Whether a pixel lies between two colours (of a gradient), channel by channel.
bool between(QRgb p, uint32_t a, uint32_t b) {
    const auto within = [](int v, int x, int y) {
        return v >= std::min(x, y) - 8 && v <= std::max(x, y) + 8;
    };
    return within(qRed(p), qRed(a), qRed(b)) && within(qGreen(p), qGreen(a), qGreen(b)) &&
           within(qBlue(p), qBlue(a), qBlue(b));
}
bool near(QRgb p, uint32_t a) {
    return between(p, a, a);
}

// The rows of the longest vertical run of a solid band of one colour, three pixels wide, on the
// tape's side of the image (lines, frames, hatching and text are narrower than a band), and how
// many pixels there show the colour at all.
struct Band {
    int top = -1;
    int bottom = -2;
    int pixels = 0;
    int length() const { return bottom - top + 1; }
};
Band longestBand(const QImage &image, uint32_t colour) {
    Band best;
    int pixels = 0;
    const auto is = [&](int x, int y) { return image.pixel(x, y) == rgb(colour); };
    for (int x = 0; x + 2 < image.width() / 2; ++x) {
        for (int y = 0, start = -1; y <= image.height(); ++y) {
            pixels += y < image.height() && is(x, y) ? 1 : 0;
            const bool hit = y < image.height() && is(x, y) && is(x + 1, y) && is(x + 2, y);
            if (hit && start < 0) {
                start = y;
            } else if (!hit && start >= 0) {
                best = y - start > best.length() ? Band{start, y - 1, 0} : best;
                start = -1;
            }
        }
    }
    best.pixels = pixels;
    return best;
}

// Down column x: the first row of sky, the first row of ground below it (the horizon), and the
// last row of ground; -1 for what is not there.
struct Column {
    int sky_top = -1;
    int horizon = -1;
    int ground_foot = -1;
};
Column attitudeColumn(const QImage &image, int x, const Settings_t &s) {
    Column c;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb p = image.pixel(x, y);
        if (c.sky_top < 0 && between(p, s.sky_color[0], s.sky_color[1])) {
            c.sky_top = y;
        } else if (c.sky_top >= 0 && between(p, s.ground_color[0], s.ground_color[1])) {
            c.horizon = c.horizon < 0 ? y : c.horizon;
            c.ground_foot = y;
        }
    }
    return c;
}

} // namespace

TEST(DisplayPreview, EachArcHoldsItsColourWhereItsVSpeedsPutIt) {
    const Settings_t s = knownRecord();
    const QImage image = display_preview::image(s, SIZE);
    ASSERT_EQ(image.size(), SIZE);
    const Band white = longestBand(image, 0xFFFFFF);
    const Band green = longestBand(image, s.green_arc_color);
    const Band yellow = longestBand(image, s.yellow_arc_color);
    const Band red = longestBand(image, s.red_arc_color);
    ASSERT_GT(std::min({white.length(), green.length(), yellow.length()}), 20);
    ASSERT_GT(red.length(), 0);

    // One scale from two marks, Vs0 at the white arc's foot and Vne at the red line; every
    // other end of an arc must sit where that scale puts its speed.
    const double per_knot = (white.bottom - (red.top + red.bottom) / 2.0) / (150.0 - 45.0);
    ASSERT_GT(per_knot, 1.0) << "faster speeds higher up the tape";
    const auto y = [&](double speed) { return white.bottom - (speed - 45.0) * per_knot; };
    EXPECT_NEAR(white.top, y(85), 2.0) << "white arc up to Vfe";
    EXPECT_NEAR(green.bottom, y(50), 2.0) << "green arc from Vs1";
    EXPECT_NEAR(green.top, y(120), 2.0) << "green arc up to Vn0";
    EXPECT_NEAR(yellow.bottom, y(120), 2.0) << "yellow arc from Vn0";
    EXPECT_NEAR(yellow.top, y(150), 3.0) << "yellow arc up to the red line at Vne";
    EXPECT_TRUE(display_preview::problems(s).isEmpty());
}

TEST(DisplayPreview, SkyAndGroundEitherSideOfAHorizonThatFollowsTheCorrections) {
    Settings_t s = knownRecord();
    const QImage level = display_preview::image(s, SIZE);
    // A column clear of the tape, the ladder and the airplane symbol: just inside the rightmost
    // one whose top shows the upper sky.
    int x = -1;
    for (int col = 0; col < SIZE.width(); ++col) {
        for (int row = 0; row < SIZE.height() / 10; ++row) {
            x = near(level.pixel(col, row), s.sky_color[0]) ? col - 4 : x;
        }
    }
    ASSERT_GT(x, SIZE.width() / 2);
    const Column c = attitudeColumn(level, x, s);
    const int horizon = c.horizon;
    ASSERT_GT(horizon, SIZE.height() / 5);
    EXPECT_TRUE(near(level.pixel(x, c.sky_top), s.sky_color[0]));
    EXPECT_TRUE(near(level.pixel(x, horizon - 3), s.sky_color[1]));
    EXPECT_TRUE(near(level.pixel(x, horizon + 3), s.ground_color[0]));
    EXPECT_TRUE(near(level.pixel(x, c.ground_foot), s.ground_color[1]));
    EXPECT_GT(c.ground_foot - horizon, SIZE.height() / 5);

    // Nose-up pitch lowers the horizon, nose-down raises it as far; a right roll lifts its
    // right end; a correction that is not a number is drawn as none.
    const auto horizonWith = [&](float roll, float pitch) {
        s.roll_correction = roll;
        s.pitch_correction = pitch;
        return attitudeColumn(display_preview::image(s, SIZE), x, s).horizon;
    };
    const int pitched_up = horizonWith(0, 10);
    const int pitched_down = horizonWith(0, -10);
    EXPECT_GT(pitched_up, horizon + 10);
    EXPECT_NEAR(pitched_up - horizon, horizon - pitched_down, 2);
    EXPECT_LT(horizonWith(10, 0), horizon - 10);
    EXPECT_EQ(horizonWith(std::nanf(""), std::nanf("")), horizon);
}

TEST(DisplayPreview, BackwardsAndEmptyArcsAreDrawnWrongAndNamed) {
    Settings_t s = knownRecord();
    s.vspeeds.Vs1 = 130; // green arc from 130 down to Vn0 120
    s.vspeeds.Vfe = 45;  // white arc from Vs0 45 to 45
    const QImage image = display_preview::image(s, SIZE);
    EXPECT_LT(longestBand(image, s.green_arc_color).length(), 4) << "no solid green band";
    EXPECT_GT(longestBand(image, s.green_arc_color).pixels, 10) << "but the green arc hatched";
    EXPECT_LT(longestBand(image, 0xFFFFFF).length(), 6) << "no solid white band";
    EXPECT_GT(longestBand(image, s.yellow_arc_color).length(), 20) << "yellow is sound";
    // Each wrong arc is named once by the two V-speeds it runs between, and nothing else is.
    const QStringList problems = display_preview::problems(s);
    EXPECT_EQ(problems.size(), 2) << problems.join('\n').toStdString();
    EXPECT_EQ(problems.filter("Vs0").filter("Vfe").size(), 1);
    EXPECT_EQ(problems.filter("Vs1").filter("Vn0").size(), 1);
}

TEST(DisplayPreview, AnyRecordAtAnySizeDraws) {
    Settings_t erased; // every speed 255, alpha and brightness far out of range, NaN corrections
    std::memset(&erased, 0xFF, sizeof(erased));
    Settings_t zero;
    std::memset(&zero, 0, sizeof(zero));
    for (const Settings_t &s : {erased, zero, knownRecord()}) {
        for (const QSize size : {QSize(1, 1), QSize(50, 40), QSize(2000, 120), QSize(90, 1500)}) {
            EXPECT_EQ(display_preview::image(s, size).size(), size);
        }
    }
    EXPECT_EQ(display_preview::problems(zero).size(), 3) << "three empty arcs";
}

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
