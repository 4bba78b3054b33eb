// The window as a person drives it: the wheel over a control that has no focus scrolls the form,
// Enter in a question that could send, store, erase or lose something keeps everything as it
// is, the keys of the menus, undo and redo of edits, and a window that fits its screen.
#include <QAction>
#include <QDialog>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include "firmware.h"
#include "gui_window.h"
#include "settings_file.h"

using namespace gui_test;

namespace {

// One notch of the wheel, turned towards the person, over the middle of `target`.
void turnWheel(QWidget *target) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &wheel);
}

// Presses Enter in the modal dialog of type T once it is open.
template <class T> void enterIn(const char *name) {
    whenModal<T>([name](T *dialog) {
        EXPECT_EQ(dialog->objectName(), name);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
}

// Writes a small firmware image that passes its check and chooses it in the file dialog that
// the next click of Select Firmware File opens.
void chooseImage(const QTemporaryDir &dir) {
    firmware_header_t header{};
    header.magic = 0x57464D45u;
    header.total_size = 70000;
    header.plaintext_size = header.encrypted_size = 64;
    header.offset = FW_HEADER_SIZE;
    QByteArray image(reinterpret_cast<const char *>(&header), sizeof(header));
    image.append(64, '\x5A');
    const QString path = dir.filePath("efis.bin");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(image);
    f.close();
    whenModal<QFileDialog>([path](QFileDialog *d) {
        d->selectFile(path);
        static_cast<QDialog *>(d)->accept();
    });
}

class KeysTest : public WindowTest {
protected:
    // The window on screen and active, so that its keys reach it as a person's would.
    void showActive() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    // A key pressed in the window, back in front after any dialog.
    void key(int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), static_cast<Qt::Key>(k), modifiers);
    }
};

} // namespace

TEST_F(WindowTest, TheWheelScrollsTheFormAndChangesOnlyTheControlThatHasTheFocus) {
    sim::unit().settings().backlight_brightness = 15;
    sealUnitRecord();
    open();
    // The number beside a slider shows the unit's value once the form is filled.
    EXPECT_EQ(w<QLabel>("label_brightness_value")->text(), "15");
    window->resize(700, 420);
    window->show();
    QApplication::processEvents();
    QScrollBar *bar = w<QScrollArea>("formScrollArea")->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "the form must scroll at this size";

    w<QWidget>("comboBox_reg_prefix")->setFocus();
    for (const char *name : {"spinBox_vn0", "backlight_slider", "min_volt_warn_value"}) {
        bar->setValue(0);
        auto *control = w<QWidget>(name);
        const QString before = control->property("value").toString();
        turnWheel(control);
        EXPECT_EQ(control->property("value").toString(), before) << name;
        EXPECT_GT(bar->value(), 0) << name << ": the form scrolls instead";
    }
    EXPECT_TRUE(window->changedValues().empty());

    // Chosen, the box takes the wheel.
    auto *vn0 = w<QSpinBox>("spinBox_vn0");
    vn0->setFocus();
    const int vn0_before = vn0->value();
    turnWheel(vn0);
    EXPECT_EQ(vn0->value(), vn0_before - 1);
    EXPECT_EQ(window->changedValues(), (std::set<settings_struct_index>{VN0_INDEX}));

    // The number beside the slider follows a revert and a load as well.
    auto *slider = w<QSlider>("backlight_slider");
    slider->setValue(3);
    EXPECT_EQ(w<QLabel>("label_brightness_value")->text(), "3");
    w<QAction>("actionRevertEdits")->trigger();
    EXPECT_EQ(slider->value(), 15);
    EXPECT_EQ(w<QLabel>("label_brightness_value")->text(), "15");
}

TEST_F(WindowTest, EnterInEveryQuestionKeepsEverythingAsItIs) {
    open();
    auto *vne = w<QSpinBox>("spinBox_vne");
    vne->setValue(160);
    const std::size_t before = requestCount();

    // Load over edits: Enter neither saves them into the unit nor drops them.
    enterIn<QMessageBox>("unsentEditsBox");
    run([&] { w<QPushButton>("pushButton_load")->click(); });
    EXPECT_EQ(vne->value(), 160);
    EXPECT_EQ(window->changedValues(), (std::set<settings_struct_index>{VNE_INDEX}));
    EXPECT_EQ(requestCount(), before);

    // Closing over edits: the window stays.
    window->show();
    enterIn<QMessageBox>("unsentEditsBox");
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());

    // The import preview: Enter takes nothing from the file.
    QTemporaryDir dir;
    const QString path = dir.filePath("other.json");
    Settings_t other = sim::unit().settings();
    other.vspeeds.Vfe = 99;
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(settings_file::write(other, settings_file::UnitHeader()));
    }
    w<QAction>("actionRevertEdits")->trigger();
    whenModal<QFileDialog>([&](QFileDialog *d) {
        d->selectFile(path);
        static_cast<QDialog *>(d)->accept();
        enterIn<QDialog>("importSettingsDialog");
    });
    w<QAction>("actionImportSettings")->trigger();
    EXPECT_EQ(status(), "Import cancelled: nothing changed");
    EXPECT_TRUE(window->changedValues().empty());

    // The backup offered before a firmware update: Enter starts nothing.
    chooseImage(dir);
    w<QPushButton>("pushButton_browse")->click();
    const std::size_t before_update = requestCount();
    confirmUpdate([] { enterIn<QMessageBox>("backupBeforeUpdateBox"); });
    run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    EXPECT_EQ(status(), "Firmware update not started");
    EXPECT_EQ(requestCount(), before_update);
}

TEST_F(KeysTest, TheMenusKeysLoadUpdateSaveImportExportUndoRedoAndQuit) {
    open();
    showActive();
    auto *vne = w<QSpinBox>("spinBox_vne");
    const int unit_vne = vne->value();

    // Undo and redo take edits back one step at a time, in the form and the marks.
    vne->setValue(unit_vne + 10);
    QApplication::processEvents();
    vne->setValue(unit_vne + 20);
    QApplication::processEvents();
    w<QWidget>("comboBox_reg_prefix")->setFocus();
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(vne->value(), unit_vne + 10);
    EXPECT_EQ(window->changedValues(), (std::set<settings_struct_index>{VNE_INDEX}));
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(vne->value(), unit_vne);
    EXPECT_TRUE(window->changedValues().empty());
    EXPECT_FALSE(w<QAction>("actionUndoEdit")->isEnabled());
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(vne->value(), unit_vne + 10);
    EXPECT_EQ(window->changedValues(), (std::set<settings_struct_index>{VNE_INDEX}));

    // Ctrl+U sends the edit, Ctrl+S stores it, F5 loads it back; undo cannot reach behind what
    // the unit took.
    run([&] { key(Qt::Key_U, Qt::ControlModifier); });
    EXPECT_EQ(status(), "Successfully sent 1 configuration value(s) to device");
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, unit_vne + 10);
    EXPECT_FALSE(w<QAction>("actionUndoEdit")->isEnabled());
    run([&] { key(Qt::Key_S, Qt::ControlModifier); });
    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    sim::unit().settings().vspeeds.Vne = static_cast<uint8_t>(unit_vne + 5);
    sealUnitRecord();
    run([&] { key(Qt::Key_F5); });
    EXPECT_EQ(status(), "Configuration successfully loaded from device");
    EXPECT_EQ(vne->value(), unit_vne + 5);

    // Ctrl+O and Ctrl+E open the import and export file dialogs.
    for (const auto &[k, title] : {std::pair<Qt::Key, QString>{Qt::Key_O, "Import Settings"},
                                   {Qt::Key_E, "Export Settings"}}) {
        QString opened;
        whenModal<QFileDialog>([&opened](QFileDialog *d) {
            opened = d->windowTitle();
            static_cast<QDialog *>(d)->reject();
        });
        key(k, Qt::ControlModifier);
        EXPECT_EQ(opened, title);
    }

    // Ctrl+Q asks as closing does; Discard lets the window close.
    vne->setValue(unit_vne + 30);
    enterIn<QMessageBox>("unsentEditsBox");
    key(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(window->isVisible());
    whenModal<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Discard)->click(); });
    key(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, OnAnEightHundredBySixHundredScreenTheWindowFitsAndThePreviewCanBeHidden) {
    open();
    window->show();
    QApplication::processEvents();
    const QRect free = window->screen()->availableGeometry();
    ASSERT_LE(free.width(), 1024) << "the test screen is a small one";
    EXPECT_TRUE(free.contains(window->frameGeometry()));
    // The status bar and the settings' buttons are in view without scrolling.
    for (const char *name :
         {"statusbar", "pushButton_load", "pushButton_update", "pushButton_save"}) {
        QWidget *part = w<QWidget>(name);
        EXPECT_TRUE(part->isVisible()) << name;
        const QRect shown(part->mapTo(window.get(), QPoint(0, 0)), part->size());
        EXPECT_TRUE(window->rect().contains(shown)) << name;
    }
    // The buttons belong to the settings: the firmware tab does not show them.
    w<QTabWidget>("tabWidget")->setCurrentIndex(1);
    EXPECT_FALSE(w<QWidget>("pushButton_load")->isVisible());
    w<QTabWidget>("tabWidget")->setCurrentIndex(0);
    EXPECT_TRUE(w<QWidget>("pushButton_load")->isVisible());

    // View → Display Preview hides the preview and shows it again.
    auto *dock = w<QDockWidget>("displayPreviewDock");
    QAction *show_preview = w<QAction>("actionShowPreview");
    EXPECT_TRUE(window->findChild<QMenu *>("menuView")->actions().contains(show_preview));
    ASSERT_TRUE(dock->isVisible());
    show_preview->trigger();
    EXPECT_FALSE(dock->isVisible());
    show_preview->trigger();
    EXPECT_TRUE(dock->isVisible());
}

TEST_F(WindowTest, ValuesSentButNotStoredAreShownAndAskedAboutBeforeAFirmwareUpdate) {
    open();
    auto *note = w<QLabel>("unstoredValuesNote");
    EXPECT_TRUE(note->isHidden());
    w<QSpinBox>("spinBox_vne")->setValue(160);
    w<QSpinBox>("spinBox_vs0")->setValue(40);
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    EXPECT_FALSE(note->isHidden());
    EXPECT_EQ(note->text(), "2 value(s) sent, not saved - Save stores them");

    // A firmware update restarts the unit: it asks first, and Enter starts nothing.
    QTemporaryDir dir;
    chooseImage(dir);
    w<QPushButton>("pushButton_browse")->click();
    const std::size_t before = requestCount();
    confirmUpdate([] { enterIn<QMessageBox>("unstoredValuesBox"); });
    run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    EXPECT_EQ(requestCount(), before);

    // Save in the question stores them, then the update goes on to its backup question.
    confirmUpdate([] {
        whenModal<QMessageBox>([](QMessageBox *box) {
            EXPECT_EQ(box->objectName(), "unstoredValuesBox");
            box->button(QMessageBox::Save)->click();
            whenModal<QMessageBox>([](QMessageBox *backup) {
                EXPECT_EQ(backup->objectName(), "backupBeforeUpdateBox");
                backup->button(QMessageBox::Cancel)->click();
            });
        });
    });
    run([&] { w<QPushButton>("pushButton_start_update")->click(); });
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 160);
    EXPECT_TRUE(note->isHidden());
    EXPECT_EQ(status(), "Firmware update not started");
}
