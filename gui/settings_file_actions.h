#ifndef SETTINGS_FILE_ACTIONS_H
#define SETTINGS_FILE_ACTIONS_H

// The window's settings files: File → Export Settings… writes the form's settings with the
// unit's header; File → Import Settings… reads a file, shows what it would change (and what
// the form cannot show exactly, whose file it is, what contradicts) and lays it over the form
// as edits. (The backup before a firmware update is the firmware page's.)

#include <QObject>

#include <functional>
#include <optional>

#include "settings_file.h"
#include "settings_session.h"
#include "settings_types.h"

class EditGuard;
class QAbstractButton;
class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;
class UnitConnection;

class SettingsFileActions : public QObject {
    Q_OBJECT

public:
    // The form as the window binds it: its values as a record, and a record shown as edits.
    struct Form {
        std::function<Settings_t()> record;
        std::function<void(const Settings_t &)> show_as_edits;
    };

    SettingsFileActions(QMainWindow *window, const SettingsSession &session, EditGuard *guard,
                        Form form);

    // The form's buttons that the File menu's keys press, as a person would.
    struct Buttons {
        QAbstractButton *load;
        QAbstractButton *update;
        QAbstractButton *save;
    };
    // Adds the File menu to `bar`: Load (F5), Update (Ctrl+U) and Save (Ctrl+S) press the
    // form's buttons; Import (Ctrl+O), Export (Ctrl+E); Quit (Ctrl+Q) closes the window, which
    // asks as closing does.
    QMenu *addMenu(QMenuBar *bar, const Buttons &buttons);
    // The unit the files' header names; none until the window has its connection.
    void setConnection(UnitConnection *connection) { connection_ = connection; }

    // Export is offered once the form holds a unit's settings.
    void refresh();

    // Asks for a file and writes the form's settings to it whole: true when written.
    bool exportSettings();
    // Asks for a file, shows its differences from the form and takes them as edits.
    void importSettings();

private:
    // What the import preview says beyond the differences: a file from another unit, values the
    // form cannot show exactly, and settings that contradict each other.
    QStringList importNotes(const Settings_t &from_file, const settings_file::UnitHeader &header);
    void showStatus(const QString &text);

    QMainWindow *window_;
    const SettingsSession &session_;
    EditGuard *guard_;
    Form form_;
    UnitConnection *connection_ = nullptr;
    QAction *export_ = nullptr;
};

#endif // SETTINGS_FILE_ACTIONS_H
