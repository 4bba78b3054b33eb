// The window beside another program of the tool on the same unit: refused before anything is
// sent, the unit shown as in use, and taken by the poll as soon as the other program lets go.
#include <QAction>
#include <QPushButton>
#include <QMenu>
#include <QMessageBox>
#include <QSpinBox>
#include <QTimer>

#include <cstring>
#include <memory>

#include "gui_window.h"

using namespace gui_test;

TEST_F(WindowTest, AUnitHeldByAnotherProgramIsShownInUseAndTakenWhenFree) {
    auto other = std::make_unique<CommsManager>(); // efis-cli, say, in the middle of a command
    run([&] { ASSERT_TRUE(other->establish_connection()); });
    const std::size_t requests = sim::unit().received().size();

    open();
    EXPECT_EQ(sim::unit().received().size(), requests) << "the window sent something";
    EXPECT_TRUE(status().startsWith(
        "EFIS 0x12345678 at sim:efis-display-unit is in use by another program ("))
        << status().toStdString();
    QMenu *menu = w<QMenu>("menuDevice");
    run([&] { emit menu->aboutToShow(); });
    EXPECT_TRUE(w<QAction>("actionUnit0")->text().contains(" - in use by "))
        << w<QAction>("actionUnit0")->text().toStdString();
    EXPECT_EQ(sim::unit().received().size(), requests);

    // Still held: the poll only asks the lock.
    run([&] { peer().pollForUnit(); });
    EXPECT_EQ(sim::unit().received().size(), requests);
    EXPECT_FALSE(peer().comms()->isConnected());

    other.reset();
    run([&] { peer().pollForUnit(); });
    EXPECT_TRUE(peer().comms()->isConnected());
    EXPECT_EQ(status(), "Configuration successfully loaded from device");
    EXPECT_EQ(w<QSpinBox>("spinBox_vne")->value(), 150);

    // Now the window holds it, and another program is refused.
    CommsManager second;
    run([&] { EXPECT_FALSE(second.establish_connection()); });
    EXPECT_TRUE(second.unitInUse());
}

TEST_F(WindowTest, AnErasedRecordSaysSoAndSaveWritesANewOne) {
    Settings_t erased;
    std::memset(&erased, 0xFF, sizeof(erased));
    sim::unit().settings() = erased;
    sim::unit().storedSettings() = erased;
    open();
    EXPECT_EQ(status(), "the unit's settings record is erased; Save writes a new one");

    // The form shows what the erased words give, which contradict each other: sent anyway.
    whenModal<QMessageBox>([](QMessageBox *box) {
        EXPECT_EQ(box->objectName(), "settingsWarningsBox");
        box->button(QMessageBox::Yes)->click();
    });
    run([&] { w<QPushButton>("pushButton_save")->click(); });
    ASSERT_EQ(sim::unit().stores().size(), 1u);
    EXPECT_FALSE(sim::unit().stores().back().corrupt);
    run([&] { w<QPushButton>("pushButton_load")->click(); });
    EXPECT_EQ(status(), "Configuration successfully loaded from device");
}
