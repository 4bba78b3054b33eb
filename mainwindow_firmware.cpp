// The window's firmware tab beyond the transfer: the chosen file's check, the cancel, and what
// follows a completed update (the reboot offered, the wait for the same unit, the comparison of
// its settings with the backup exported before the update).
#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QDebug>

#include <algorithm>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "firmware_image.h"
#include "get_set.h"

namespace {

// Byte counts as a person reads them, whatever the desktop's language: "26,240".
QString bytesText(uint32_t bytes) {
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(bytes);
}

bool isConnected(const CommsManager *comms) {
    return comms != nullptr && comms->isConnected();
}

QString serialText(uint32_t serial) {
    return settings_file::hexWord(serial);
}

} // namespace

void MainWindow::setUpAfterUpdate() {
    return_timer = new QTimer(this);
    return_timer->setObjectName("afterUpdateReturnTimer");
    return_timer->setSingleShot(true);
    return_timer->setInterval(
        std::chrono::duration_cast<std::chrono::milliseconds>(after_update::RETURN_TIMEOUT));
    connect(return_timer, &QTimer::timeout, this, [this] {
        if (!awaiting_return) {
            return;
        }
        qDebug() << "The EFIS has not come back within" << after_update::RETURN_TIMEOUT.count()
                 << "s of its reboot";
        ui->statusbar->showMessage(tr("The EFIS has not come back within %1 s of its reboot - "
                                      "check its power and cable; the window keeps looking for it")
                                       .arg(after_update::RETURN_TIMEOUT.count()),
                                   0);
    });
}

bool MainWindow::checkFirmwareFile(bool starting, FirmwareImage *image) {
    const QByteArray path = firmwareFilePath.toLocal8Bit();
    FirmwareImage read = read_firmware_image(path.constData());
    const ImageCheck check = read.check;
    if (image != nullptr) {
        *image = std::move(read);
    }
    if (check.ok()) {
        ui->label_firmware_version->setText(
            tr("Image version %1").arg(QString::fromStdString(image_version_text(check.header))));
        return true;
    }
    const QString reason = QString::fromStdString(image_problem_text(check));
    ui->label_firmware_version->setText(tr("This file %1").arg(reason));
    if (!starting) {
        return false; // the label says why; the status waits for Start Update
    }
    qDebug() << "Firmware file refused:" << firmwareFilePath << reason;
    ui->statusbar->showMessage(QString("Error: Firmware file %1 %2; the update was not started")
                                   .arg(firmwareFilePath, reason),
                               0);
    return false;
}

bool MainWindow::takenDuringTransfer(const QObject *target) const {
    // A window hands its input on to the widget it is for, which is judged then.
    if (target->isWindowType()) {
        return true;
    }
    if (target == ui->pushButton_cancel_update) {
        return true;
    }
    const auto *widget = qobject_cast<const QWidget *>(target);
    return close_question != nullptr && widget != nullptr &&
           (widget == close_question || close_question->isAncestorOf(widget));
}

void MainWindow::onCancelUpdateClicked() {
    if (!update_running || cancel_update) {
        return;
    }
    cancel_update = true;
    ui->pushButton_cancel_update->setEnabled(false);
    qDebug() << "Firmware update cancel requested";
    update_note->setText(tr("Cancelling the firmware update: the write in flight is confirmed "
                            "first"));
    update_note->show();
}

void MainWindow::askToCancelOnClose() {
    if (close_question == nullptr) {
        close_question = new QMessageBox(
            QMessageBox::Question, tr("Firmware Update Running"),
            tr("The firmware update is still running. Cancel it and close the window?"),
            QMessageBox::NoButton, this);
        close_question->setObjectName("cancelUpdateOnCloseBox");
        close_question->setInformativeText(
            tr("The update stops after the write in flight. The image in the unit is then "
               "incomplete: update it again before rebooting it."));
        QPushButton *stop =
            close_question->addButton(tr("Cancel Update and Close"), QMessageBox::AcceptRole);
        close_question->addButton(tr("Continue Update"), QMessageBox::RejectRole);
        close_question->setWindowModality(Qt::NonModal);
        connect(stop, &QPushButton::clicked, this, [this] {
            close_after_update = true;
            onCancelUpdateClicked();
        });
    }
    close_question->show();
    close_question->raise();
}

void MainWindow::endTransfer(const FwTransferResult &result) {
    if (close_question != nullptr) {
        close_question->close();
        close_question->deleteLater();
        close_question = nullptr;
    }
    if (result.end != FwTransferEnd::Cancelled) {
        return;
    }
    qDebug() << "Firmware update cancelled at" << result.bytes_confirmed << "of"
             << result.bytes_total << "bytes";
    ui->statusbar->showMessage(
        QString("Firmware update cancelled at %1 of %2 bytes - the image in "
                "the unit is incomplete; update again before rebooting it")
            .arg(bytesText(result.bytes_confirmed), bytesText(result.bytes_total)),
        0);
}

void MainWindow::offerRebootAfterUpdate() {
    if (!isConnected(comms)) {
        return;
    }
    QMessageBox box(QMessageBox::Question, tr("Reboot EFIS"),
                    tr("Firmware update completed. Reboot the EFIS now to start the new firmware?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName("rebootAfterUpdateBox");
    box.setInformativeText(update_backup ? tr("The window then waits for the EFIS to come back "
                                              "and compares its settings with the backup.")
                                         : tr("The window then waits for the EFIS to come back "
                                              "and loads its settings."));
    box.button(QMessageBox::Yes)->setText(tr("Reboot Now"));
    box.button(QMessageBox::No)->setText(tr("Later"));
    box.setDefaultButton(QMessageBox::Yes);
    if (box.exec() != QMessageBox::Yes) {
        return;
    }
    after_update::Before before;
    before.serial = connection->serialNumber();
    if (update_backup) {
        before.has_settings = true;
        before.settings = *update_backup;
    }
    onRebootClicked();
    if (isConnected(comms)) {
        return; // not sent: the reboot's own status says so
    }
    awaiting_return = before;
    return_timer->start();
    ui->statusbar->showMessage(
        tr("Reboot command sent - waiting for the EFIS to come back with its new firmware"), 0);
}

void MainWindow::unitBackAfterUpdate() {
    const after_update::Before before = *awaiting_return;
    awaiting_return.reset();
    return_timer->stop();
    after_update::Look look;
    look.serial = connection->serialNumber();
    if (look.serial != after_update::NO_SERIAL) {
        look.kind = look.serial == before.serial || before.serial == after_update::NO_SERIAL
                        ? after_update::Return::Same
                        : after_update::Return::Other;
    }
    if (look.kind != after_update::Return::Same) {
        qDebug() << "After the firmware update another EFIS answered:" << serialText(look.serial)
                 << "not" << serialText(before.serial);
        if (!session.hasUnsentEdits()) {
            loadConfigFromDevice();
        }
        ui->statusbar->showMessage(
            look.kind == after_update::Return::Other
                ? tr("Another EFIS answered (serial number %1), not the one updated (%2): its "
                     "settings are not compared with the backup")
                      .arg(serialText(look.serial), serialText(before.serial))
                : tr("The EFIS that answered did not give its serial number: its settings are not "
                     "compared with the backup"),
            0);
        return;
    }
    qDebug() << "The EFIS is back after its firmware update";
    if (session.hasUnsentEdits()) {
        ui->statusbar->showMessage(
            tr("The EFIS is back after its update; your %n edit(s) are kept, so its settings were "
               "not loaded or compared",
               nullptr, session.editedFieldCount()),
            0);
        return;
    }
    loadConfigFromDevice();
    const FieldSet all = allSettingsFields();
    if (std::any_of(all.begin(), all.end(),
                    [this](settings_struct_index i) { return session.unknownOnUnit(i); })) {
        return; // the load's own status says what it could not read
    }
    if (!before.has_settings) {
        ui->statusbar->showMessage(tr("The EFIS is back after its update - settings loaded; no "
                                      "backup was exported to compare them with"),
                                   0);
        return;
    }
    showChangesByUpdate(before);
}

void MainWindow::showChangesByUpdate(const after_update::Before &before) {
    const std::vector<settings_file::Difference> changes =
        after_update::changes(before, session.record());
    if (changes.empty()) {
        qDebug() << "Settings unchanged by the update";
        ui->statusbar->showMessage(tr("Settings unchanged by the update"), 0);
        return;
    }
    qDebug() << "Settings changed by the update:" << changes.size();
    QDialog dialog(this);
    dialog.setObjectName("settingsChangedByUpdateDialog");
    dialog.setWindowTitle(tr("Settings Changed by the Update"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *label = new QLabel(tr("The EFIS holds other settings than before its update. Restore "
                                "puts the backup's values into the form and saves them to the "
                                "unit; Keep leaves the unit as it is now."),
                             &dialog);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto *table = new QTableWidget(static_cast<int>(changes.size()), 3, &dialog);
    table->setObjectName("tableWidget_updateDifferences");
    table->setHorizontalHeaderLabels({tr("Setting"), tr("Before the update"), tr("Now")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    for (std::size_t row = 0; row < changes.size(); ++row) {
        const QString cells[] = {changes[row].key, changes[row].current, changes[row].other};
        for (int column = 0; column < 3; ++column) {
            table->setItem(static_cast<int>(row), column, new QTableWidgetItem(cells[column]));
        }
    }
    table->resizeColumnsToContents();
    layout->addWidget(table);
    auto *buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(tr("Restore"), QDialogButtonBox::AcceptRole)
        ->setObjectName("pushButton_restoreSettings");
    buttons->addButton(tr("Keep"), QDialogButtonBox::RejectRole)
        ->setObjectName("pushButton_keepSettings");
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(560, 360);
    if (dialog.exec() != QDialog::Accepted) {
        ui->statusbar->showMessage(tr("Settings kept as the EFIS holds them after the update"), 0);
        return;
    }
    // The backup's user fields over the record the unit holds now, as edits; then the usual save.
    Settings_t restored = session.record();
    for (const settings_struct_index index : allSettingsFields()) {
        const uint32_t value = settings_get_value(&before.settings, index);
        settings_set_value(&restored, index, &value);
    }
    showAsEdits(restored);
    onSaveClicked();
}
