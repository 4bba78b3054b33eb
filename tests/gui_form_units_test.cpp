// The form as a pilot reads it: a change of the speed unit asks what becomes of the V-speeds
// (converted, kept, or the change left undone, which Enter chooses) and refuses a conversion
// that does not fit the unit; each V-speed box names its unit; the registration box keeps out
// what the unit cannot store; the colour buttons show their colours flat with their values; a
// note says when the form's values are not the connected unit's.
#include <QAction>
#include <QColorDialog>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "form_binder.h"
#include "gui_window.h"
#include "settings_file.h"

using namespace gui_test;

namespace {

// Answers the speed unit question with the button named `name`, after checking what it says.
void answerSpeedQuestion(const char *name, const std::function<void(QMessageBox *)> &check = {}) {
    whenModal<QMessageBox>([name, check](QMessageBox *box) {
        EXPECT_EQ(box->objectName(), "speedUnitBox");
        if (check) {
            check(box);
        }
        box->findChild<QPushButton *>(name)->click();
    });
}

class SpeedUnitTest : public WindowTest {
protected:
    int vspeed(const char *name) { return w<QSpinBox>(name)->value(); }
    QString suffix() { return w<QSpinBox>("spinBox_vne")->suffix(); }
};

TEST_F(SpeedUnitTest, ConvertingChangesEveryVSpeedAsOneEdit) {
    open(); // knots; Vs0 45, Vne 150
    ASSERT_EQ(suffix(), " kt");
    answerSpeedQuestion("convertSpeedsButton", [](QMessageBox *box) {
        EXPECT_TRUE(box->text().contains("set in kt"));
        EXPECT_TRUE(
            box->informativeText().contains(QString::fromUtf8("Vne: 150 kt \u2192 173 mph")));
    });
    w<QRadioButton>("radioButton_mph")->click();

    EXPECT_EQ(vspeed("spinBox_vs0"), 52); // 51.8
    EXPECT_EQ(vspeed("spinBox_vne"), 173);
    EXPECT_EQ(suffix(), " mph");
    EXPECT_EQ(status(), "8 V-speed(s) converted from kt to mph, rounded to whole numbers");
    EXPECT_EQ(window->changedValues().size(), 9u); // the units word and the eight V-speeds

    // One step: Undo takes the unit and the numbers back together.
    w<QAction>("actionUndoEdit")->trigger();
    EXPECT_TRUE(w<QRadioButton>("radioButton_knots")->isChecked());
    EXPECT_EQ(vspeed("spinBox_vne"), 150);
    EXPECT_EQ(suffix(), " kt");
    w<QAction>("actionRedoEdit")->trigger();
    EXPECT_EQ(vspeed("spinBox_vne"), 173);
}

TEST_F(SpeedUnitTest, EnterLeavesTheUnitAndTheVSpeedsAsTheyWere) {
    open();
    const Settings_t before = peer().record();
    whenModal<QMessageBox>([](QMessageBox *box) {
        EXPECT_EQ(box->objectName(), "speedUnitBox");
        QTest::keyClick(box, Qt::Key_Return);
    });
    w<QRadioButton>("radioButton_mph")->click();
    EXPECT_TRUE(w<QRadioButton>("radioButton_knots")->isChecked());
    EXPECT_FALSE(w<QRadioButton>("radioButton_mph")->isChecked());
    EXPECT_EQ(suffix(), " kt");
    EXPECT_EQ(status(), "Speed unit not changed: still kt");
    EXPECT_TRUE(window->changedValues().empty());
    EXPECT_EQ(std::memcmp(&peer().record(), &before, sizeof(before)), 0);
}

TEST_F(SpeedUnitTest, AConversionThatDoesNotFitIsRefusedAndTheNumbersCanBeKept) {
    open(); // Vne 150 kt is 278 km/h, beyond the unit's byte; Vn0 120 kt (222 km/h) fits
    answerSpeedQuestion("keepSpeedsButton", [](QMessageBox *box) {
        EXPECT_FALSE(box->findChild<QPushButton *>("convertSpeedsButton")->isEnabled());
        EXPECT_TRUE(box->text().contains("Vne 150 kt would be 278 km/h - beyond the 0 to 255"));
        EXPECT_FALSE(box->text().contains("Vn0 120"));
    });
    w<QRadioButton>("radioButton_kph")->click();
    EXPECT_EQ(vspeed("spinBox_vne"), 150);
    EXPECT_EQ(suffix(), " km/h");
    EXPECT_EQ(status(), "V-speed numbers kept: they now read in km/h");
    EXPECT_EQ(window->changedValues(), std::set<settings_struct_index>{UNITS_VALUE_INDEX});

    // The longest unit beside the largest number is not cut off.
    window->show();
    w<QSpinBox>("spinBox_vne")->setValue(255);
    QApplication::processEvents();
    EXPECT_GE(w<QSpinBox>("spinBox_vne")->width(), w<QSpinBox>("spinBox_vne")->sizeHint().width());
}

TEST_F(WindowTest, TheRegistrationBoxKeepsOutWhatTheUnitCannotStoreAndSaysWhy) {
    open(); // G-ABCD
    auto *number = w<QPlainTextEdit>("text_registration_num");
    number->setFocus();
    number->selectAll();
    // As a keyboard with those letters types them (keyClicks knows ASCII keys only).
    for (const QChar c : QString::fromUtf8("\u017Eab-\u00E9")) {
        QTest::sendKeyEvent(QTest::Click, number, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    EXPECT_EQ(number->toPlainText(), QString::fromUtf8("AB-\u00C9"));
    EXPECT_TRUE(status().contains(QString::fromUtf8("\"\u017E\" (U+017E) cannot be stored")))
        << status().toStdString();
    // Typed on, the tool tip no longer blames a character that is gone; the status keeps it.
    EXPECT_FALSE(number->toolTip().contains("U+017E"));

    number->setPlainText(QString::fromUtf8("ab-\u00E9"));
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    EXPECT_EQ(std::string(sim::unit().settings().registration), "GAB-\xC9");
}

// How many pixels of `image` within `area` lie within 60 of `colour` in each channel.
int pixelsNear(const QImage &image, const QRect &area, const QColor &colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor p = image.pixelColor(x, y);
            n += std::abs(p.red() - colour.red()) < 60 &&
                         std::abs(p.green() - colour.green()) < 60 &&
                         std::abs(p.blue() - colour.blue()) < 60
                     ? 1
                     : 0;
        }
    }
    return n;
}

TEST_F(WindowTest, AColourButtonShowsItsColourFlatWithItsValueOnIt) {
    open(); // sky 0x87CEEB
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto *sky = w<QPushButton>("color_picker_sky0");
    EXPECT_EQ(sky->toolTip(), "#87CEEB");
    // The value fits on the button in its font.
    EXPECT_LE(sky->fontMetrics().horizontalAdvance("#87CEEB") + 8, sky->width());

    QImage image = sky->grab().toImage();
    const QRect inner = image.rect().adjusted(3, 3, -4, -4);
    // Flat: the fill's corners, top and bottom, are the colour itself, not a gradient of it.
    for (const QPoint at :
         {inner.topLeft(), inner.topRight(), inner.bottomLeft(), inner.bottomRight()}) {
        EXPECT_EQ(image.pixelColor(at), QColor(0x87, 0xCE, 0xEB)) << at.x() << "," << at.y();
    }
    // Its value in black on the light blue.
    EXPECT_GT(pixelsNear(image, inner, Qt::black), 10);
    EXPECT_EQ(pixelsNear(image, inner, Qt::white), 0);

    // Tab from the last V-speed reaches the first colour button, and its focus shows.
    w<QSpinBox>("spinBox_vlo")->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), w<QSpinBox>("spinBox_vlo"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), sky);
    EXPECT_NE(sky->grab().toImage(), image);

    // A dark colour carries its value in white; the button is marked as edited.
    whenModal<QColorDialog>([](QColorDialog *d) {
        d->setCurrentColor(QColor(0, 0, 0x80));
        d->accept();
    });
    sky->click();
    EXPECT_EQ(sky->toolTip(), "#000080");
    image = sky->grab().toImage();
    EXPECT_GT(pixelsNear(image, inner, Qt::white), 10);
    EXPECT_EQ(image.pixelColor(0, 0), QColor(form_binding::EDITED_COLOUR));
}

TEST_F(WindowTest, TheFormSaysWhenItsValuesAreNotTheConnectedUnits) {
    const std::vector<sim::EnumEntry> unit_entries = sim::unit().enumeration();
    open(false);
    window->show();
    auto *note = w<QLabel>("label_formValuesNote");
    EXPECT_TRUE(note->isVisible());
    EXPECT_TRUE(note->text().contains("These are not a unit's values"))
        << note->text().toStdString();

    // An import fills the form: the note goes. Reverted, the starting values and the note return.
    QTemporaryDir dir;
    const QString path = dir.filePath("unit.json");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(settings_file::write(sim::unit().settings(), settings_file::UnitHeader()));
    }
    whenModal<QFileDialog>([&](QFileDialog *d) {
        d->selectFile(path);
        static_cast<QDialog *>(d)->accept();
        whenModal<QDialog>([](QDialog *d) { d->accept(); });
    });
    w<QAction>("actionImportSettings")->trigger();
    ASSERT_EQ(w<QSpinBox>("spinBox_vne")->value(), 150);
    EXPECT_FALSE(note->isVisible());
    w<QAction>("actionRevertEdits")->trigger();
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 0);
    EXPECT_TRUE(note->isVisible());

    // The unit plugged in and loaded: the note goes. Unplugged, the values are the last read.
    sim::unit().enumeration() = unit_entries;
    run([&] { peer().pollForUnit(); });
    ASSERT_TRUE(peer().comms()->isConnected());
    EXPECT_FALSE(note->isVisible());
    sim::unit().unplug();
    run([&] { peer().connection()->checkPresence(); });
    EXPECT_TRUE(note->isVisible());
    EXPECT_TRUE(note->text().contains("values last read from it")) << note->text().toStdString();
}

} // namespace
