#ifndef DIFFERENCES_DIALOG_H
#define DIFFERENCES_DIALOG_H

// The one dialog that shows how two sets of settings differ, setting by setting under the
// form's labels, and asks whether to take the other values: the import of a settings file asks
// it, and so does the comparison with the backup after a firmware update.

#include <QDialog>
#include <QString>
#include <QStringList>

#include <vector>

#include "settings_file.h"
#include "settings_flows.h"

class DifferencesDialog : public QDialog {
    Q_OBJECT

public:
    // The words of one use: what the dialog is for, the two columns' headings and the two
    // answers. The object names let a person's tools (and the tests) find each part.
    struct Wording {
        QString dialog_name;
        QString title;
        QString intro;
        QString table_name;
        QString current_heading;
        QString other_heading;
        QString take_text; // the answer that takes the other values
        QString take_name;
        QString keep_text; // the answer that leaves everything as it is
        QString keep_name;
        // Rows of these fields carry the note after the setting's name: why they differ.
        FieldSet marked;
        QString marked_note;
    };

    // `differences` holds each differing setting's current and other value; `notes`, when
    // not empty, are shown under the table.
    DifferencesDialog(const Wording &wording,
                      const std::vector<settings_file::Difference> &differences,
                      const QStringList &notes, QWidget *parent);

    // Shows the dialog modally: true when the person chose to take the other values.
    static bool ask(const Wording &wording,
                    const std::vector<settings_file::Difference> &differences,
                    const QStringList &notes, QWidget *parent);
};

#endif // DIFFERENCES_DIALOG_H
