#ifndef EDIT_GUARD_H
#define EDIT_GUARD_H

// The window's guard over the edits: the Edit menu (Revert Edits), the marks on the edited
// fields and the title's marker, the question before anything that would lose edits or values
// the unit took but has not stored, and the warning before settings that contradict each other
// are sent. It reads and reverts the settings session; the window fills the form and saves.

#include <QObject>

#include <vector>

#include "settings_session.h"
#include "settings_types.h"

class QAction;
class QLabel;
class QMainWindow;
class QMenuBar;
class QWidget;

class EditGuard : public QObject {
    Q_OBJECT

public:
    // What a person is about to do that would lose the form's edits (or, for a restart, the
    // values the unit took but has not stored).
    enum class Loss { Close, Load, Import, Reboot, Reconnect, OtherUnit, FirmwareUpdate };

    // `form` holds the widgets that are marked; the window carries the title's marker and is
    // the questions' parent.
    EditGuard(QMainWindow *window, QWidget *form, SettingsSession &session);

    // Adds the Edit menu to `bar`: Undo (Ctrl+Z), Redo (Ctrl+Shift+Z), Revert Edits.
    void addMenu(QMenuBar *bar);

    // The marks, the title's marker, Revert, Undo and Redo follow the session, and so does the
    // note beside the status bar that names the values sent but not stored. Called after
    // every edit and every flow: an edit becomes a step that Undo takes back (the edits of one
    // event, such as the three words of a registration, are one step); a flow that changed
    // what the unit holds starts the history anew, since an undo cannot take back what the
    // unit took.
    void refresh();

    // Takes back the last step of edits, or does it again.
    void undo();
    void redo();

    // Asks before `loss` when it would lose something: true to go on. Save in the question has
    // the window save first (saveRequested) and goes on only when nothing is left to lose;
    // Discard drops the edits (and the form shows the unit's values again where what follows
    // would not replace them).
    bool mayLose(Loss loss);

    // Warns when `record` holds settings that contradict each other: true to send anyway (or
    // nothing to warn about).
    bool problemsAccepted(const Settings_t &record);

signals:
    // The person chose Save in the question: the window runs its save, before mayLose returns.
    void saveRequested();
    // The session went back to the unit's values and the form must show them.
    void formReverted();

private:
    void revert();
    // Shows `state` as the session and the form.
    void restore(const SettingsSession &state);

    QMainWindow *window_;
    QWidget *form_;
    SettingsSession &session_;
    QAction *revert_ = nullptr;
    QAction *undo_action_ = nullptr;
    QAction *redo_action_ = nullptr;
    QLabel *unstored_note_ = nullptr;
    // The session as of the last refresh, the steps before it and the steps undone.
    SettingsSession settled_;
    std::vector<SettingsSession> undo_;
    std::vector<SettingsSession> redo_;
    // An edit of this pass of the event loop already opened a step.
    bool step_open_ = false;
    // The values sent but not stored whose loss the person accepted (Discard): a restart that
    // follows (the reboot offered after an update) does not ask about them again.
    FieldWords accepted_unstored_;
};

#endif // EDIT_GUARD_H
