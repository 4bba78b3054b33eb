// The display preview beside the settings: it shows the painter's drawing of the form's current
// values, follows every edit at once, and asks the unit for nothing.
#include <QDockWidget>
#include <QScreen>
#include <QStyle>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include "display_preview.h"
#include "gui_window.h"

using namespace gui_test;

namespace {

QImage shown(QWidget *panel) {
    return panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

TEST_F(WindowTest, PreviewFollowsEveryEditWithoutAskingTheUnit) {
    open();
    ASSERT_EQ(status(), "Configuration successfully loaded from device");
    window->show();
    QApplication::processEvents();
    auto *panel = w<QWidget>("displayPreview");
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->toolTip().toStdString(), display_preview::SKETCH_NOTE);
    // The settings keep the room they have without the panel where the screen has it; the
    // window never grows beyond the screen's free area for it.
    const QRect free = window->screen()->availableGeometry();
    const int dock_width = w<QDockWidget>("displayPreviewDock")->frameGeometry().width();
    if (free.width() > 860 + dock_width + 20) {
        EXPECT_EQ(window->centralWidget()->width(), 860);
    }
    EXPECT_LE(window->width(), free.width());

    // After the load the panel shows the unit's record.
    Settings_t expected = sim::unit().settings();
    EXPECT_EQ(shown(panel), display_preview::image(expected, panel->size()));

    // Typed edits, one key at a time: each repaint reads the form, and the unit hears nothing.
    const std::size_t before = requestCount();
    auto *vne = w<QSpinBox>("spinBox_vne");
    vne->setFocus();
    vne->selectAll();
    QTest::keyClicks(vne, "110"); // below Vn0 120: the yellow arc runs backwards
    QApplication::processEvents();
    expected.vspeeds.Vne = 110;
    EXPECT_EQ(shown(panel), display_preview::image(expected, panel->size()));

    auto *pitch = w<QDoubleSpinBox>("pitch_corr_spinbox");
    pitch->setFocus();
    pitch->selectAll();
    QTest::keyClicks(pitch, "-4.5");
    QApplication::processEvents();
    expected.pitch_correction = -4.5f;
    EXPECT_EQ(shown(panel), display_preview::image(expected, panel->size()));
    EXPECT_EQ(requestCount(), before);
}
