// The window's edit session: edited marks, Revert, the question before edits are lost, the
// warning before contradicting settings are sent, a registration outside the prefix table, the
// number box as one line, and a window smaller than the form.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTest>

#include "gui_window.h"

using namespace gui_test;

namespace {

bool edited(QWidget *widget) {
    return widget->property("edited").toBool();
}

} // namespace

TEST_F(WindowTest, EditsAreMarkedUntilTheUnitTakesThemOrTheyAreReverted) {
    open();
    auto *vne = w<QSpinBox>("spinBox_vne");
    auto *vs0 = w<QSpinBox>("spinBox_vs0");
    EXPECT_FALSE(edited(vne));
    EXPECT_EQ(window->windowTitle(), "RK_62 EFIS Config");
    EXPECT_FALSE(w<QAction>("actionRevertEdits")->isEnabled());
    EXPECT_TRUE(w<QAction>("actionExportSettings")->isEnabled());

    vne->setValue(170);
    EXPECT_TRUE(edited(vne));
    EXPECT_FALSE(edited(vs0));
    EXPECT_TRUE(window->isWindowModified());
    // Update: acknowledged, so no longer marked.
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    EXPECT_FALSE(edited(vne));
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 170);

    // Revert puts back what the unit holds, with no exchange.
    vne->setValue(180);
    vs0->setValue(44);
    const std::size_t before = requestCount();
    w<QAction>("actionRevertEdits")->trigger();
    EXPECT_EQ(requestCount(), before);
    EXPECT_EQ(vne->value(), 170);
    EXPECT_EQ(vs0->value(), 45);
    EXPECT_FALSE(edited(vne));
    EXPECT_FALSE(edited(vs0));
    EXPECT_TRUE(window->changedValues().empty());
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    EXPECT_EQ(status(), "No changes to send");
}

TEST_F(WindowTest, TheQuestionBeforeALoadCancelsSavesOrDiscards) {
    open();
    auto *vne = w<QSpinBox>("spinBox_vne");

    // Cancel: nothing happens and nothing is sent.
    vne->setValue(170);
    std::size_t before = requestCount();
    QString text;
    whenModal<QMessageBox>([&](QMessageBox *box) {
        EXPECT_EQ(box->objectName(), "unsentEditsBox");
        text = box->text();
        box->button(QMessageBox::Cancel)->click();
    });
    run([&] { w<QPushButton>("pushButton_load")->click(); });
    EXPECT_TRUE(text.startsWith("1 field(s) of the form are edited")) << text.toStdString();
    EXPECT_EQ(requestCount(), before);
    EXPECT_EQ(vne->value(), 170);
    EXPECT_TRUE(edited(vne));

    // Save: the edit is sent and stored, then the load runs.
    answerEditsQuestion(QMessageBox::Save);
    run([&] { w<QPushButton>("pushButton_load")->click(); });
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 170);
    EXPECT_EQ(status(), "Configuration successfully loaded from device");
    EXPECT_EQ(vne->value(), 170);

    // Discard: the load puts the unit's value back.
    vne->setValue(180);
    answerEditsQuestion(QMessageBox::Discard);
    run([&] { w<QPushButton>("pushButton_load")->click(); });
    EXPECT_EQ(vne->value(), 170);
    EXPECT_FALSE(edited(vne));
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 170);
}

TEST_F(WindowTest, CloseAndRebootAskWhileTheUnitHoldsValuesItHasNotStored) {
    open();
    window->show();
    w<QSpinBox>("spinBox_vne")->setValue(170);
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    // A load reads back what the unit took, which it still has not stored: still said and asked.
    run([&] { w<QPushButton>("pushButton_load")->click(); });
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 170);
    EXPECT_EQ(w<QLabel>("unstoredValuesNote")->text(),
              "1 value(s) sent, not saved - Save stores them");
    EXPECT_FALSE(w<QLabel>("unstoredValuesNote")->isHidden());

    answerEditsQuestion(QMessageBox::Cancel, "unstoredValuesBox");
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());

    const std::size_t before = requestCount();
    answerEditsQuestion(QMessageBox::Cancel, "unstoredValuesBox");
    run([&] { w<QPushButton>("pushButton_reboot")->click(); });
    EXPECT_TRUE(requests(CANMSG_ENTER_BL, before).empty());

    // Save stores them; then the window closes without a question.
    answerEditsQuestion(QMessageBox::Save, "unstoredValuesBox");
    run([&] { EXPECT_TRUE(window->close()); });
    EXPECT_EQ(requests(CANMSG_SAVE_USER_SETTINGS, before).size(), 1u);
}

TEST_F(WindowTest, ContradictingSettingsAreWarnedOfBeforeAnyRequest) {
    open();
    w<QSpinBox>("spinBox_vne")->setValue(100); // below Vn0 120
    const std::size_t before = requestCount();
    QString listed;
    whenModal<QMessageBox>([&](QMessageBox *box) {
        EXPECT_EQ(box->objectName(), "settingsWarningsBox");
        listed = box->informativeText();
        box->button(QMessageBox::Cancel)->click();
    });
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    EXPECT_EQ(listed, "Vne (100) is below Vn0 (120): the yellow arc would run backwards");
    EXPECT_EQ(requestCount(), before);
    EXPECT_EQ(status(), "Update cancelled: nothing sent");

    whenModal<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Cancel)->click(); });
    run([&] { w<QPushButton>("pushButton_save")->click(); });
    EXPECT_EQ(requestCount(), before);

    // Yes sends anyway.
    whenModal<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    EXPECT_EQ(sim::unit().settings().vspeeds.Vne, 100);
}

TEST_F(WindowTest, ARegistrationOutsideThePrefixTableIsKeptAsStored) {
    std::memcpy(sim::unit().settings().registration, "OO-ABC\0\0\0\0\0\0", 12);
    sealUnitRecord();
    open();
    auto *prefix = w<QComboBox>("comboBox_reg_prefix");
    auto *number = w<QPlainTextEdit>("text_registration_num");
    EXPECT_EQ(prefix->currentIndex(), -1);
    EXPECT_EQ(number->toPlainText(), "OO-ABC");

    // A Save with another edit writes it back unchanged, and the next load shows it the same.
    w<QSpinBox>("spinBox_vne")->setValue(160);
    run([&] { w<QPushButton>("pushButton_save")->click(); });
    EXPECT_EQ(status(), "Configuration saved to EEPROM successfully");
    EXPECT_EQ(std::string(sim::unit().settings().registration), "OO-ABC");
    run([&] { w<QPushButton>("pushButton_load")->click(); });
    EXPECT_EQ(prefix->currentIndex(), -1);
    EXPECT_EQ(number->toPlainText(), "OO-ABC");

    // Choosing a prefix then is an edit.
    prefix->setCurrentIndex(0);
    EXPECT_TRUE(edited(prefix));
    run([&] { w<QPushButton>("pushButton_update")->click(); });
    EXPECT_EQ(std::string(sim::unit().settings().registration), "NOO-ABC");
}

TEST_F(WindowTest, TheNumberBoxHoldsOneLineOfPrintableUpperCaseCharacters) {
    open(false);
    window->show();
    // With no record read from a unit there is nothing to export, and the tool tip says why.
    EXPECT_FALSE(w<QAction>("actionExportSettings")->isEnabled());
    EXPECT_TRUE(w<QAction>("actionExportSettings")->toolTip().startsWith("Load the settings"));
    auto *prefix = w<QComboBox>("comboBox_reg_prefix");
    auto *number = w<QPlainTextEdit>("text_registration_num");
    prefix->setCurrentIndex(2); // "G"
    number->setFocus();
    QApplication::processEvents();
    QTest::keyClicks(number, "abc");
    QTest::keyClick(number, Qt::Key_Return);
    QTest::keyClicks(number, "defghijklmnop");
    EXPECT_EQ(number->toPlainText(), "ABCDEFGHIJ");
    EXPECT_EQ(std::string(peer().record().registration, 11), "GABCDEFGHIJ");
    // Tab leaves the box and enters nothing; a pasted tab is dropped too.
    QTest::keyClick(number, Qt::Key_Tab);
    EXPECT_FALSE(number->hasFocus());
    number->setPlainText("X\tY\nZ");
    EXPECT_EQ(number->toPlainText(), "XYZ");
    EXPECT_FALSE(number->toolTip().isEmpty());
}

TEST_F(WindowTest, AtSevenHundredByFourHundredEightyEveryControlCanBeReached) {
    open();
    window->resize(700, 480);
    window->show();
    QApplication::processEvents();
    EXPECT_LE(window->width(), 700);
    EXPECT_LE(window->height(), 480);
    auto *scroll = w<QScrollArea>("formScrollArea");
    // Load, Update and Save stay in view below the scrolling form.
    for (const char *name : {"pushButton_load", "pushButton_update", "pushButton_save"}) {
        QWidget *button = w<QWidget>(name);
        EXPECT_TRUE(button->isVisible()) << name;
        EXPECT_FALSE(scroll->isAncestorOf(button)) << name;
        const QRect shown(button->mapTo(window.get(), QPoint(0, 0)), button->size());
        EXPECT_TRUE(window->rect().contains(shown)) << name;
    }
    // Every other control of the settings tab can be scrolled into view, and Tab reaches it.
    for (const char *name : {"color_picker_red", "backlight_slider"}) {
        QWidget *control = w<QWidget>(name);
        scroll->ensureWidgetVisible(control);
        QApplication::processEvents();
        const QRect shown(control->mapTo(scroll->viewport(), QPoint(0, 0)), control->size());
        EXPECT_TRUE(scroll->viewport()->rect().contains(shown)) << name;
    }
    QWidget *focus = w<QWidget>("comboBox_reg_prefix");
    std::set<std::string> reached;
    for (int i = 0; i < 60; ++i) {
        reached.insert(focus->objectName().toStdString());
        focus = focus->nextInFocusChain();
        while (focus->focusPolicy() == Qt::NoFocus || !focus->isEnabled()) {
            focus = focus->nextInFocusChain();
        }
    }
    for (const char *name : {"radioButton_knots", "radioButton_degC", "pushButton_load",
                             "pushButton_update", "pushButton_save", "text_registration_num"}) {
        EXPECT_EQ(reached.count(name), 1u) << name;
    }
}
