#ifndef FORM_VALUES_NOTE_H
#define FORM_VALUES_NOTE_H

// The note above the settings form that says whose values it shows when that is not plain:
// before a load or an import the form holds the tool's starting values (V-speeds 0, volts
// 11.5/15.5), which look like a unit's and are not; after the unit went away it holds the
// values last read from it. Hidden while a connected unit's values or a file's are shown.

#include <QObject>

class QLabel;
class QTabWidget;
class QVBoxLayout;
class QWidget;
class SettingsSession;
class UnitConnection;

class FormValuesNote : public QObject {
    Q_OBJECT

public:
    // Puts the note at the top of `column` (above the scrolling form), shown with the settings
    // tab `settings` of `tabs` only; follows `session` and `connection` by itself.
    FormValuesNote(QWidget *body, QVBoxLayout *column, QTabWidget *tabs, QWidget *settings,
                   SettingsSession &session, UnitConnection *connection);

    // The form now shows a settings file's values (an import), until its edits are all gone.
    void fileShown();

private:
    void refresh();

    QLabel *label_;
    QTabWidget *tabs_;
    QWidget *settings_;
    SettingsSession &session_;
    UnitConnection *connection_;
    bool file_shown_ = false;
    bool unit_values_shown_ = false;
};

#endif // FORM_VALUES_NOTE_H
