// The display preview's drawing of known records, read back pixel by pixel: the arcs where
// their V-speeds put them, the sky and ground either side of a horizon that follows the
// corrections, and wrong arcs drawn and named as wrong.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "display_preview.h"

namespace {

const QSize SIZE(400, 500);

Settings_t knownRecord() {
    Settings_t s;
    std::memset(&s, 0, sizeof(s));
    s.units.bits.is_knots = 1;
    s.vspeeds = {40, 45, 50, 85, 120, 150, 65, 90};
    s.sky_color[0] = 0xFF2040E0u;
    s.sky_color[1] = 0xFF80C0F0u;
    s.ground_color[0] = 0xFF806020u;
    s.ground_color[1] = 0xFF60A040u;
    s.vref_indi_color = 0xFFFF00FFu;
    s.airplane_color = 0xFFFFA500u;
    s.green_arc_color = 0xFF00C000u;
    s.yellow_arc_color = 0xFFFFD700u;
    s.red_arc_color = 0xFFE00000u;
    s.gear_indi_color = 0xFF00FFFFu;
    s.backlight_brightness = 0; // a dark backlight: the colours must not be dimmed for it
    s.text_bg_alpha = 150;
    return s;
}

QRgb rgb(uint32_t word) {
    return 0xFF000000u | word;
}

bool near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// The longest vertical run of a band of exactly one colour, three pixels wide, in the left half
// (the tape's side), as the rows it covers; {-1, -1} when there is none. Lines, frames and text
// are narrower than a band.
struct Band {
    int top = -1;
    int bottom = -1;
    int length() const { return top < 0 ? 0 : bottom - top + 1; }
    double middle() const { return (top + bottom) / 2.0; }
};
Band longestRun(const QImage &image, QRgb colour) {
    Band best;
    for (int x = 0; x + 2 < image.width() / 2; ++x) {
        int start = -1;
        for (int y = 0; y <= image.height(); ++y) {
            const bool hit = y < image.height() && image.pixel(x, y) == colour &&
                             image.pixel(x + 1, y) == colour && image.pixel(x + 2, y) == colour;
            if (hit && start < 0) {
                start = y;
            } else if (!hit && start >= 0) {
                if (y - start > best.length()) {
                    best = {start, y - 1};
                }
                start = -1;
            }
        }
    }
    return best;
}

// A column of the attitude indicator clear of the tape, the ladder and the airplane symbol: a
// few pixels inside the rightmost column whose top shows the upper sky colour.
int attitudeColumn(const QImage &image, QRgb sky_top) {
    int right = -1;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height() / 10; ++y) {
            if (near(image.pixel(x, y), sky_top, 8)) {
                right = x;
            }
        }
    }
    return right - 4;
}

// Whether a pixel lies between two colours of a gradient, channel by channel.
bool between(QRgb p, uint32_t a, uint32_t b) {
    const auto within = [](int v, int x, int y) {
        return v >= std::min(x, y) - 8 && v <= std::max(x, y) + 8;
    };
    return within(qRed(p), qRed(a), qRed(b)) && within(qGreen(p), qGreen(a), qGreen(b)) &&
           within(qBlue(p), qBlue(a), qBlue(b));
}

// The first row of the column that shows the ground, below one that shows the sky.
int horizonRow(const QImage &image, int x, const Settings_t &s) {
    bool sky = false;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb p = image.pixel(x, y);
        if (sky && between(p, s.ground_color[0], s.ground_color[1])) {
            return y;
        }
        sky = sky || between(p, s.sky_color[0], s.sky_color[1]);
    }
    return -1;
}

} // namespace

TEST(DisplayPreview, EachArcHoldsItsColourWhereItsVSpeedsPutIt) {
    Settings_t s = knownRecord();
    const QImage image = display_preview::image(s, SIZE);
    ASSERT_EQ(image.size(), SIZE);

    const Band white = longestRun(image, rgb(0xFFFFFF));
    const Band green = longestRun(image, rgb(s.green_arc_color));
    const Band yellow = longestRun(image, rgb(s.yellow_arc_color));
    const Band red = longestRun(image, rgb(s.red_arc_color));
    ASSERT_GT(white.length(), 20);
    ASSERT_GT(green.length(), 20);
    ASSERT_GT(yellow.length(), 20);
    ASSERT_GT(red.length(), 0);

    // One scale from two marks, Vs0 at the white arc's foot and Vne at the red line; every
    // other end of an arc must sit where that scale puts its speed.
    const double per_knot = (white.bottom - red.middle()) / (150.0 - 45.0);
    ASSERT_GT(per_knot, 1.0) << "faster speeds higher up the tape";
    const auto y = [&](double speed) { return white.bottom - (speed - 45.0) * per_knot; };
    EXPECT_NEAR(white.top, y(85), 2.0) << "white arc up to Vfe";
    EXPECT_NEAR(green.bottom, y(50), 2.0) << "green arc from Vs1";
    EXPECT_NEAR(green.top, y(120), 2.0) << "green arc up to Vn0";
    EXPECT_NEAR(yellow.bottom, y(120), 2.0) << "yellow arc from Vn0";
    EXPECT_NEAR(yellow.top, y(150), 3.0) << "yellow arc up to the red line at Vne";
    EXPECT_TRUE(display_preview::problems(s).isEmpty());

    // A higher Vn0 moves the green arc's top and the yellow arc's foot up together.
    s.vspeeds.Vn0 = 135;
    const QImage moved = display_preview::image(s, SIZE);
    const Band green2 = longestRun(moved, rgb(s.green_arc_color));
    const Band yellow2 = longestRun(moved, rgb(s.yellow_arc_color));
    EXPECT_NEAR(green2.bottom, green.bottom, 1.0);
    EXPECT_NEAR(green2.top, green.top - 15 * per_knot, 2.0);
    EXPECT_NEAR(yellow2.bottom, yellow.bottom - 15 * per_knot, 2.0);
    EXPECT_NEAR(yellow2.top, yellow.top, 1.0);
}

TEST(DisplayPreview, SkyAndGroundEitherSideOfAHorizonThatFollowsTheCorrections) {
    Settings_t s = knownRecord();
    const QImage level = display_preview::image(s, SIZE);
    const int x = attitudeColumn(level, rgb(s.sky_color[0]));
    ASSERT_GT(x, SIZE.width() / 2);
    const int horizon = horizonRow(level, x, s);
    ASSERT_GT(horizon, SIZE.height() / 5);
    // Top to bottom: the upper sky, the lower sky at the horizon, the upper ground below it,
    // and the lower ground at the display's foot (the last row still nearer it than the bezel).
    int foot = horizon + 3;
    while (foot + 1 < SIZE.height() &&
           between(level.pixel(x, foot + 1), s.ground_color[0], s.ground_color[1])) {
        ++foot;
    }
    int top = 0;
    while (top < horizon && !between(level.pixel(x, top), s.sky_color[0], s.sky_color[1])) {
        ++top;
    }
    EXPECT_TRUE(near(level.pixel(x, top), rgb(s.sky_color[0]), 8));
    EXPECT_TRUE(near(level.pixel(x, horizon - 3), rgb(s.sky_color[1]), 8));
    EXPECT_TRUE(near(level.pixel(x, horizon + 3), rgb(s.ground_color[0]), 8));
    EXPECT_TRUE(near(level.pixel(x, foot), rgb(s.ground_color[1]), 8));
    EXPECT_GT(foot - horizon, SIZE.height() / 5);

    // Nose-up pitch lowers the horizon, nose-down raises it; a right roll lifts its right end.
    s.pitch_correction = 10.0f;
    const int pitched_up = horizonRow(display_preview::image(s, SIZE), x, s);
    s.pitch_correction = -10.0f;
    const int pitched_down = horizonRow(display_preview::image(s, SIZE), x, s);
    EXPECT_GT(pitched_up, horizon + 10);
    EXPECT_LT(pitched_down, horizon - 10);
    EXPECT_NEAR(pitched_up - horizon, horizon - pitched_down, 2);
    s.pitch_correction = 0.0f;
    s.roll_correction = 10.0f;
    EXPECT_LT(horizonRow(display_preview::image(s, SIZE), x, s), horizon - 10);

    // A correction that is not a number is drawn as none rather than anywhere.
    s.roll_correction = std::nanf("");
    s.pitch_correction = std::nanf("");
    EXPECT_EQ(horizonRow(display_preview::image(s, SIZE), x, s), horizon);
}

TEST(DisplayPreview, BackwardsAndEmptyArcsAreDrawnWrongAndNamed) {
    Settings_t s = knownRecord();
    s.vspeeds.Vs1 = 130; // green arc from 130 down to Vn0 120
    s.vspeeds.Vfe = 45;  // white arc from Vs0 45 to 45
    const QImage image = display_preview::image(s, SIZE);
    EXPECT_LT(longestRun(image, rgb(s.green_arc_color)).length(), 4) << "no solid green band";
    EXPECT_LT(longestRun(image, rgb(0xFFFFFF)).length(), 6) << "no solid white band";
    EXPECT_GT(longestRun(image, rgb(s.yellow_arc_color)).length(), 20) << "yellow is sound";
    EXPECT_EQ(display_preview::problems(s),
              QStringList({"White Arc is empty: Vs0 and Vfe are both 45",
                           "Green Arc runs backwards: Vs1 130 is above Vn0 120"}));
}

TEST(DisplayPreview, AnyRecordAtAnySizeDraws) {
    Settings_t wild;
    std::memset(&wild, 0xFF, sizeof(wild)); // erased memory: every speed 255, alpha and
                                            // brightness far out of range, NaN corrections
    Settings_t zero;
    std::memset(&zero, 0, sizeof(zero));
    for (const Settings_t &s : {wild, zero, knownRecord()}) {
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
