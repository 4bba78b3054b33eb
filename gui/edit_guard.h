#ifndef EDIT_GUARD_H
#define EDIT_GUARD_H

// The window's guard over the edits: the Edit menu (Revert Edits), the marks on the edited
// fields and the title's marker, the question before anything that would lose edits or values
// the unit took but has not stored, and the warning before settings that contradict each other
// are sent. It reads and reverts the settings session; the window fills the form and saves.

#include <QObject>

#include "settings_session.h"
#include "settings_types.h"

class QAction;
class QMainWindow;
class QMenuBar;
class QWidget;

class EditGuard : public QObject {
    Q_OBJECT

public:
    // What a person is about to do that would lose the form's edits (or, for a restart, the
    // values the unit took but has not stored).
    enum class Loss { Close, Load, Import, Reboot, Reconnect, OtherUnit };

    // `form` holds the widgets that are marked; the window carries the title's marker and is
    // the questions' parent.
    EditGuard(QMainWindow *window, QWidget *form, SettingsSession &session);

    // Adds the Edit menu to `bar`.
    void addMenu(QMenuBar *bar);

    // The marks, the title's marker and Revert follow the session.
    void refresh();

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

    QMainWindow *window_;
    QWidget *form_;
    SettingsSession &session_;
    QAction *revert_ = nullptr;
};

#endif // EDIT_GUARD_H
