// The window's settings files: export the form's settings, import a file as edits after
// showing what it changes.
#include "settings_file_actions.h"

#include "backup_file.h"

#include <QAbstractButton>
#include <QAction>
#include <QDate>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStatusBar>

#include "differences_dialog.h"
#include "edit_guard.h"
#include "form_binder.h"
#include "settings_rules.h"
#include "unit_connection.h"

namespace {

const char *const FILE_FILTER = "EFIS settings (*.json);;All Files (*)";

} // namespace

SettingsFileActions::SettingsFileActions(QMainWindow *window, const SettingsSession &session,
                                         EditGuard *guard, Form form)
    : QObject(window), window_(window), session_(session), guard_(guard), form_(std::move(form)) {
    setObjectName("settingsFileActions");
}

QMenu *SettingsFileActions::addMenu(QMenuBar *bar, const Buttons &buttons) {
    QMenu *file = bar->addMenu(tr("&File"));
    file->setObjectName("menuFile");
    const auto press = [this, file](const QString &text, const char *name, const QKeySequence &keys,
                                    QAbstractButton *button) {
        QAction *action = file->addAction(text);
        action->setObjectName(name);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, button, &QAbstractButton::click);
    };
    press(tr("&Load Settings from EFIS"), "actionLoadSettings", QKeySequence(Qt::Key_F5),
          buttons.load);
    press(tr("&Update Settings on EFIS"), "actionUpdateSettings",
          QKeySequence(Qt::CTRL | Qt::Key_U), buttons.update);
    press(tr("&Save Settings to EFIS"), "actionSaveSettings", QKeySequence(Qt::CTRL | Qt::Key_S),
          buttons.save);
    file->addSeparator();
    QAction *import_action = file->addAction(tr("Import Settings…"));
    import_action->setObjectName("actionImportSettings");
    import_action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    export_ = file->addAction(tr("Export Settings…"));
    export_->setObjectName("actionExportSettings");
    export_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    connect(export_, &QAction::triggered, this, [this] { exportSettings(); });
    connect(import_action, &QAction::triggered, this, [this] { importSettings(); });
    file->addSeparator();
    QAction *quit = file->addAction(tr("&Quit"));
    quit->setObjectName("actionQuit");
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, window_, &QWidget::close);
    return file;
}

void SettingsFileActions::refresh() {
    if (export_ == nullptr) {
        return;
    }
    export_->setEnabled(session_.recordRead());
    export_->setToolTip(session_.recordRead()
                            ? tr("Write the form's settings to a settings file")
                            : tr("Load the settings from a unit first: until then the form "
                                 "holds no unit's settings to export"));
}

void SettingsFileActions::showStatus(const QString &text) {
    window_->statusBar()->showMessage(text, 0);
}

bool SettingsFileActions::exportSettings() {
    const Settings_t record = form_.record();
    const uint32_t serial =
        connection_ != nullptr ? connection_->serialNumber() : backup_file::NO_SERIAL;
    // The tool's one backup name, never over a file that is there.
    const QString proposed =
        backup_file::freeName(backup_file::defaultName(record, serial, QDate::currentDate()));
    const QString path =
        QFileDialog::getSaveFileName(window_, tr("Export Settings"), proposed, tr(FILE_FILTER));
    if (path.isEmpty()) {
        return false;
    }

    // Written whole or not at all, and never through a link planted at the name.
    const backup_file::Written written =
        backup_file::writeChosen(path, proposed, backup_file::fileText(record, serial));
    if (!written.ok()) {
        qDebug() << "Could not write settings file" << path << ":" << written.problem;
        showStatus(QString("Error: Could not write %1: %2").arg(path, written.problem));
        return false;
    }
    showStatus(QString("Settings exported to %1").arg(written.path));
    return true;
}

void SettingsFileActions::importSettings() {
    if (!guard_->mayLose(EditGuard::Loss::Import)) {
        return;
    }
    const QString path =
        QFileDialog::getOpenFileName(window_, tr("Import Settings"), QString(), tr(FILE_FILTER));
    if (path.isEmpty()) {
        return;
    }
    const QString name = QFileInfo(path).fileName();
    const Settings_t current = form_.record();
    Settings_t from_file = current;
    settings_file::UnitHeader header;
    const settings_file::FileResult read = settings_file::readFile(path, &from_file, &header);
    if (read.outcome == settings_file::FileOutcome::Unreadable) {
        showStatus(QString("Error: Could not read %1: %2").arg(path, read.problem));
        return;
    }
    if (read.outcome == settings_file::FileOutcome::Refused) {
        qDebug() << "Settings file refused:" << path << read.problem;
        showStatus(QString("Error: %1 refused: %2").arg(name, read.problem));
        return;
    }
    const std::vector<settings_file::Difference> differences =
        settings_file::differences(current, from_file);
    if (differences.empty()) {
        showStatus(QString("%1 holds the settings the form shows: nothing to change").arg(name));
        return;
    }
    DifferencesDialog::Wording wording;
    wording.dialog_name = "importSettingsDialog";
    wording.title = tr("Import Settings");
    wording.intro = tr("These settings in %1 differ from the form. Applying them changes the "
                       "form only: nothing is sent until you click Update or Save.")
                        .arg(name);
    wording.table_name = "tableWidget_importDifferences";
    wording.current_heading = tr("In the form");
    wording.other_heading = tr("In the file");
    wording.take_text = tr("Apply to Form");
    wording.take_name = "pushButton_applyImport";
    wording.keep_text = tr("Cancel");
    wording.keep_name = "pushButton_cancelImport";
    if (!DifferencesDialog::ask(wording, differences, importNotes(from_file, header), window_)) {
        showStatus("Import cancelled: nothing changed");
        return;
    }
    form_.show_as_edits(from_file);
    showStatus(QString("%1 setting(s) taken from %2: click Update or Save to send them to the unit")
                   .arg(differences.size())
                   .arg(name));
}

QStringList SettingsFileActions::importNotes(const Settings_t &from_file,
                                             const settings_file::UnitHeader &header) {
    QStringList notes;
    if (header.has_serial && connection_ != nullptr && connection_->isConnected() &&
        header.serial != connection_->serialNumber()) {
        notes << tr("This file was taken from the unit %1, not from the connected unit %2.")
                     .arg(settings_file::hexWord(header.serial),
                          settings_file::hexWord(connection_->serialNumber()));
    }
    for (const settings_file::Difference &d :
         settings_file::differences(from_file, form_binding::asTheFormHoldsIt(from_file))) {
        notes << tr("%1: the form cannot show %2 exactly; %3 will be stored.")
                     .arg(form_binding::labelOf(d.key), d.current, d.other);
    }
    for (const SettingsProblem &problem : checkSettings(session_.withoutUnknown(from_file))) {
        notes << QString::fromStdString(problem.text);
    }
    return notes;
}
