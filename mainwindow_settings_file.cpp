// The window's settings files: export the form's settings, import a file as edits after
// showing what it changes, and offer a backup before a firmware update.
#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QDate>
#include <QDebug>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

#include "form_binder.h"
#include "settings_file.h"
#include "settings_rules.h"

namespace {

const char *const FILE_FILTER = "EFIS settings (*.json);;All Files (*)";

} // namespace

void MainWindow::setUpFileMenu() {
    QMenu *file = ui->menubar->addMenu(tr("&File"));
    file->setObjectName("menuFile");
    export_action = file->addAction(tr("Export Settings…"));
    export_action->setObjectName("actionExportSettings");
    QAction *import_action = file->addAction(tr("Import Settings…"));
    import_action->setObjectName("actionImportSettings");
    connect(export_action, &QAction::triggered, this, [this] { exportSettings(); });
    connect(import_action, &QAction::triggered, this, [this] { importSettings(); });
}

Settings_t MainWindow::formRecord() {
    return form->readBack(session.record());
}

bool MainWindow::exportSettings() {
    const Settings_t record = formRecord();
    // A default name from the registration and the date, in characters every file system takes.
    QString registration;
    for (const settings_file::Entry &entry : settings_file::entries(record)) {
        if (entry.index == REGISTRATION_1_INDEX) {
            registration = entry.text;
        }
    }
    registration.remove(QRegularExpression("[^A-Za-z0-9_-]"));
    const QString name =
        QStringLiteral("%1-%2.json")
            .arg(registration.isEmpty() ? QStringLiteral("efis-settings") : registration,
                 QDate::currentDate().toString(Qt::ISODate));
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Export Settings"), name, tr(FILE_FILTER));
    if (path.isEmpty()) {
        return false;
    }

    settings_file::UnitHeader unit;
    unit.magic = session.record().magic;
    unit.version = session.record().version;
    unit.num_elements = session.record().num_elements;
    if (comms != nullptr && comms->isConnected()) {
        unit.serial = get_serialnumber(comms, comms->getActiveInterface());
        unit.has_serial = unit.serial != 0xFFFFFFFFu;
    }

    // Written whole or not at all: a half-written backup is worse than none.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(settings_file::write(record, unit)) < 0 ||
        !out.commit()) {
        qDebug() << "Could not write settings file" << path << ":" << out.errorString();
        ui->statusbar->showMessage(
            QString("Error: Could not write %1: %2").arg(path, out.errorString()), 0);
        return false;
    }
    ui->statusbar->showMessage(QString("Settings exported to %1").arg(path), 0);
    return true;
}

void MainWindow::importSettings() {
    if (!mayLoseEdits(EditLoss::Import)) {
        return;
    }
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Import Settings"), QString(), tr(FILE_FILTER));
    if (path.isEmpty()) {
        return;
    }
    const QString name = QFileInfo(path).fileName();
    const Settings_t current = formRecord();
    Settings_t from_file = current;
    settings_file::UnitHeader header;
    const settings_file::FileResult read = settings_file::readFile(path, &from_file, &header);
    if (read.outcome == settings_file::FileOutcome::Unreadable) {
        ui->statusbar->showMessage(QString("Error: Could not read %1: %2").arg(path, read.problem),
                                   0);
        return;
    }
    if (read.outcome == settings_file::FileOutcome::Refused) {
        qDebug() << "Settings file refused:" << path << read.problem;
        ui->statusbar->showMessage(QString("Error: %1 refused: %2").arg(name, read.problem), 0);
        return;
    }
    const std::vector<settings_file::Difference> differences =
        settings_file::differences(current, from_file);
    if (differences.empty()) {
        ui->statusbar->showMessage(
            QString("%1 holds the settings the form shows: nothing to change").arg(name), 0);
        return;
    }
    if (!confirmImport(differences, importNotes(from_file, header), name)) {
        ui->statusbar->showMessage("Import cancelled: nothing changed", 0);
        return;
    }
    showAsEdits(from_file);
    ui->statusbar->showMessage(
        QString("%1 setting(s) taken from %2: click Update or Save to send them to the unit")
            .arg(differences.size())
            .arg(name),
        0);
}

QStringList MainWindow::importNotes(const Settings_t &from_file,
                                    const settings_file::UnitHeader &header) {
    QStringList notes;
    if (header.has_serial && comms != nullptr && comms->isConnected() &&
        header.serial != connection->serialNumber()) {
        notes << tr("This file was taken from the unit %1, not from the connected unit %2.")
                     .arg(settings_file::hexWord(header.serial),
                          settings_file::hexWord(connection->serialNumber()));
    }
    for (const settings_file::Difference &d :
         settings_file::differences(from_file, form_binding::asTheFormHoldsIt(from_file))) {
        notes << tr("%1: the form cannot show %2 exactly; %3 will be stored.")
                     .arg(form_binding::labelOf(d.key), d.current, d.other);
    }
    for (const SettingsProblem &problem : checkSettings(session.withoutUnknown(from_file))) {
        notes << QString::fromStdString(problem.text);
    }
    return notes;
}

bool MainWindow::confirmImport(const std::vector<settings_file::Difference> &differences,
                               const QStringList &notes, const QString &file_name) {
    QDialog dialog(this);
    dialog.setObjectName("importSettingsDialog");
    dialog.setWindowTitle(tr("Import Settings"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *label = new QLabel(tr("These settings in %1 differ from the form. Applying them changes "
                                "the form only: nothing is sent until you click Update or Save.")
                                 .arg(file_name),
                             &dialog);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto *table = new QTableWidget(static_cast<int>(differences.size()), 3, &dialog);
    table->setObjectName("tableWidget_importDifferences");
    table->setHorizontalHeaderLabels({tr("Setting"), tr("In the form"), tr("In the file")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    for (std::size_t row = 0; row < differences.size(); ++row) {
        const settings_file::Difference &d = differences[row];
        const QString cells[] = {form_binding::labelOf(d.key), d.current, d.other};
        for (int column = 0; column < 3; ++column) {
            table->setItem(static_cast<int>(row), column, new QTableWidgetItem(cells[column]));
        }
    }
    table->resizeColumnsToContents();
    layout->addWidget(table);
    if (!notes.isEmpty()) {
        auto *list = new QLabel(notes.join('\n'), &dialog);
        list->setObjectName("label_importNotes");
        list->setWordWrap(true);
        layout->addWidget(list);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Apply to Form"));
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(560, 360);
    return dialog.exec() == QDialog::Accepted;
}

bool MainWindow::backupBeforeUpdate() {
    update_backup.reset();
    // Only a record read from the unit is worth keeping.
    if (session.allUnknownOnUnit()) {
        return true;
    }
    QMessageBox box(QMessageBox::Question, tr("Back Up Settings"),
                    tr("Export a backup of the unit's settings before updating its firmware?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.setObjectName("backupBeforeUpdateBox");
    box.setDefaultButton(QMessageBox::Yes);
    const int answer = box.exec();
    if (answer == QMessageBox::No) {
        return true;
    }
    if (answer == QMessageBox::Yes && exportSettings()) {
        update_backup = formRecord(); // what the file holds, for the comparison after the update
        return true;
    }
    ui->statusbar->showMessage("Firmware update not started", 0);
    return false;
}
