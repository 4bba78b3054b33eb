#ifndef DEVICE_MENU_H
#define DEVICE_MENU_H

// The window's Device menu over the unit locator and the connection owner: Connect, the units
// present (listed each time the menu opens; one chosen), Unit Information…, the note when more
// than one unit is present, and what the window does when a unit turns up, goes, or comes back
// after an update's reboot (then only the unit updated, where it was reached).

#include <QObject>

#include <functional>

#include "discovery.h"
#include "settings_session.h"
#include "unit_connection.h"
#include "unit_info.h"
#include "unit_locator.h"

class QAction;
class QLabel;
class QMainWindow;
class QMenu;

namespace Ui {
class MainWindow;
}

class DeviceMenu : public QObject {
    Q_OBJECT

public:
    // What the menu asks of the window.
    struct Window {
        QMainWindow *widget = nullptr;
        Ui::MainWindow *ui = nullptr;
        std::function<bool()> updateRunning;
        // The question before the form's edits are lost to another unit, or to a reconnect that
        // loads (true: go on).
        std::function<bool()> mayLoseEditsToOtherUnit;
        std::function<bool()> mayLoseEditsToReconnect;
        // What is edited over the unit's values and what the last load read of the record: the
        // session says it, nothing is copied.
        const SettingsSession *session = nullptr;
        std::function<void()> load;
        // After an update's reboot: whether the window waits for the unit, one look for it, and
        // the unit connected after it.
        std::function<bool()> awaitingReturn;
        std::function<unit_locator::Look()> lookForReturn;
        std::function<void(const unit_locator::Look &)> unitBack;
    };

    DeviceMenu(const Window &window, QObject *parent);

    // Never null, and the same for the window's life.
    UnitConnection *connection() const { return connection_; }

    // Closes any open interface and connects as at start-up; true when the unit confirmed itself.
    bool open();
    // The outcome of a connect in the status bar, in start-up's words.
    void showConnection(bool connected);
    // Connects on the person's (Connect) or the poll's behalf, and loads the unit's settings
    // unless edits are pending; after an update's reboot, only to the unit updated.
    void connectAndLoad(bool found_by_poll);
    // Starts the poll (no unit) or the presence check (a unit).
    void watch();
    void pollForUnit();

private:
    void loadAfterConnecting(bool ask);
    void listUnits();
    void chooseUnit(const UnitInterface &unit);
    void showUnitCount();
    void onUnitLost();
    void showUnitInformation();
    void showStatus(const QString &text);

    Window w;
    UnitConnection *connection_ = nullptr;
    QMenu *menu = nullptr;
    QAction *reconnect = nullptr;
    QAction *units_end = nullptr; // the units are listed before it
    QLabel *unit_count_note = nullptr;
};

#endif // DEVICE_MENU_H
