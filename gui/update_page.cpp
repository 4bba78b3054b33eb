#include "update_page.h"

#include "differences_dialog.h"

#include "ui_mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QDebug>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "backup_file.h"
#include "settings_file.h"

namespace {

// During a transfer: the longest the event loop waits between two passes.
constexpr qint64 EVENTS_INTERVAL_MS = 50;
const char *const FILE_FILTER = "EFIS settings (*.json);;All Files (*)";

// Byte counts as a person reads them, whatever the desktop's language: "26,240".
QString bytesText(uint32_t bytes) {
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(bytes);
}

QString serialText(uint32_t serial) {
    return settings_file::hexWord(serial);
}

// While it lives, no click, key or wheel reaches any widget but those `taken` accepts: what the
// user does during a firmware update is dropped, not run during the transfer nor after it.
class InputBlocker : public QObject {
public:
    explicit InputBlocker(std::function<bool(const QObject *)> taken) : taken_(std::move(taken)) {
        qApp->installEventFilter(this);
    }
    ~InputBlocker() override { qApp->removeEventFilter(this); }
    InputBlocker(const InputBlocker &) = delete;
    InputBlocker &operator=(const InputBlocker &) = delete;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::ContextMenu:
            return !taken_(watched);
        default:
            return false;
        }
    }

private:
    std::function<bool(const QObject *)> taken_;
};

} // namespace

UpdatePage::UpdatePage(const Window &window, QObject *parent) : QObject(parent), w(window) {
    note = new QLabel(w.widget);
    note->setObjectName("updateNoteLabel");
    w.ui->statusbar->addPermanentWidget(note);
    note->hide();

    connect(w.ui->pushButton_cancel_update, &QPushButton::clicked, this, [this] { cancel(); });
    // A unit updated and not restarted since that leaves the bus restarts into its new firmware
    // (power cycled, or restarted by itself): it is compared when it is back, as after a reboot.
    connect(w.connection, &UnitConnection::lost, this, [this] {
        if (pending_ && !running_ && w.connection->lastSerialNumber() == pending_->serial) {
            awaitReturn();
        }
    });

    return_timer = new QTimer(this);
    return_timer->setObjectName("afterUpdateReturnTimer");
    return_timer->setSingleShot(true);
    return_timer->setInterval(
        std::chrono::duration_cast<std::chrono::milliseconds>(unit_locator::RETURN_TIMEOUT));
    connect(return_timer, &QTimer::timeout, this, [this] {
        if (!awaiting_) {
            return;
        }
        const outcome::Words words = outcome::words(
            outcome::Result::UnitNotBack, {QString::number(unit_locator::RETURN_TIMEOUT.count())});
        qDebug().noquote() << words.log;
        showStatus(words.status);
    });
}

void UpdatePage::showStatus(const QString &text) {
    w.ui->statusbar->showMessage(text, 0);
}

QString UpdatePage::chooseImage() {
    const QString path =
        QFileDialog::getOpenFileName(w.widget, tr("Select Firmware File"), QString(),
                                     tr("Firmware Files (*.bin);;All Files (*)"));
    if (path.isEmpty()) {
        return path;
    }
    // The whole path: the file written is the one the box shows.
    w.ui->text_firmware_file->setPlainText(path);
    w.ui->text_firmware_file->setEnabled(true);
    const update_job::ImageStep image = update_job::checkImage(path);
    // The label says why; the status waits for Start Update.
    w.ui->label_firmware_version->setText(image.ok() ? tr("Image version %1").arg(image.version)
                                                     : tr("This file %1").arg(image.problem));
    w.ui->pushButton_start_update->setEnabled(true);
    w.ui->progressBar_firmware->setEnabled(true);
    return path;
}

outcome::Words UpdatePage::prepare(const QString &path, outcome::Result *result) {
    const auto said = [result](outcome::Result r, const QStringList &status_args = {},
                               const QStringList &log_args = {}) {
        *result = r;
        return outcome::words(r, status_args, log_args);
    };
    if (path.isEmpty()) {
        return said(outcome::Result::NoFileChosen);
    }
    if (!w.connection->isConnected()) {
        return said(outcome::Result::NotConnected);
    }
    // Read once, whole: the transfer sends these bytes, whatever happens to the file meanwhile.
    image_ = update_job::checkImage(path);
    const update_job::ImageStep &image = image_;
    if (!image.ok()) {
        w.ui->label_firmware_version->setText(tr("This file %1").arg(image.problem));
        return said(outcome::Result::ImageRefused, {path, image.problem},
                    {outcome::quoted(path), outcome::quoted(image.problem)});
    }
    w.ui->label_firmware_version->setText(tr("Image version %1").arg(image.version));
    if (!confirmWrite(image) || (w.mayStart && !w.mayStart()) || !backUpFirst()) {
        return said(outcome::Result::UpdateNotStarted);
    }
    w.ui->pushButton_browse->setEnabled(false);
    w.ui->pushButton_start_update->setEnabled(false);
    w.ui->text_firmware_file->setEnabled(false);
    w.ui->progressBar_firmware->setValue(0);
    note->hide();
    return said(outcome::Result::UpdateStarted, {}, {outcome::quoted(path)});
}

bool UpdatePage::confirmWrite(const update_job::ImageStep &image) {
    const uint32_t serial = w.connection->serialNumber();
    const QString unit = serial != update_job::NO_SERIAL ? tr("EFIS %1").arg(serialText(serial))
                                                         : tr("the connected EFIS");
    // What goes into the unit's flash: the header and the payload it announces.
    const uint32_t bytes = FW_HEADER_SIZE + image.check().header.encrypted_size;
    QMessageBox box(
        QMessageBox::Question, tr("Start Update"),
        tr("Write image version %1 (%2 bytes) into %3?").arg(image.version, bytesText(bytes), unit),
        QMessageBox::Ok | QMessageBox::Cancel, w.widget);
    box.setObjectName("confirmUpdateBox");
    box.setInformativeText(tr("The firmware in the unit's flash is erased first; until the new "
                              "image is written whole, the unit may not start."));
    box.button(QMessageBox::Ok)->setText(tr("Write Firmware"));
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

bool UpdatePage::backUpFirst() {
    before_ = update_job::Before{};
    before_->serial = w.connection->serialNumber();
    const SettingsSession &session = *w.session;
    before_->unstored = session.unstoredValues();
    // Only a record read from the unit is worth keeping.
    if (session.allUnknownOnUnit()) {
        return true;
    }
    QStringList unread;
    for (const settings_struct_index index : allSettingsFields()) {
        if (session.unknownOnUnit(index)) {
            unread << QString::number(static_cast<int>(index));
        }
    }
    if (!unread.isEmpty()) {
        // A backup holds every field; one that could not be read would come back as 0.
        QMessageBox box(QMessageBox::Question, tr("Back Up Settings"),
                        tr("Field(s) %1 of the unit's settings could not be read, so no backup "
                           "can be made. Update the firmware without a backup?")
                            .arg(unread.join(", ")),
                        QMessageBox::Yes | QMessageBox::No, w.widget);
        box.setObjectName("updateWithoutBackupBox");
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }
    QMessageBox box(QMessageBox::Question, tr("Back Up Settings"),
                    tr("Export a backup of the unit's settings before updating its firmware?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, w.widget);
    box.setObjectName("backupBeforeUpdateBox");
    // Both other answers go on to erase the unit's flash: Enter starts nothing.
    box.setDefaultButton(QMessageBox::Cancel);
    const int answer = box.exec();
    if (answer == QMessageBox::No) {
        return true;
    }
    if (answer != QMessageBox::Yes) {
        return false;
    }
    // The unit's own values, not the edits over them: what the update may change.
    before_->settings = session.unitRecord();
    const QString proposed = backup_file::freeName(
        backup_file::defaultName(before_->settings, before_->serial, QDate::currentDate()));
    const QString path =
        QFileDialog::getSaveFileName(w.widget, tr("Export Settings"), proposed, tr(FILE_FILTER));
    if (path.isEmpty()) {
        return false;
    }
    const backup_file::Written written = backup_file::writeChosen(
        path, proposed, backup_file::fileText(before_->settings, before_->serial));
    before_->backup_path = written.ok() ? written.path : QString();
    if (!written.ok()) {
        const outcome::Words words =
            outcome::words(outcome::Result::BackupNotWritten, {written.path, written.problem},
                           {outcome::quoted(written.path), outcome::quoted(written.problem)});
        qDebug().noquote() << words.log;
        showStatus(words.status);
        return false;
    }
    before_->has_settings = true;
    showStatus(QString("Settings exported to %1").arg(written.path));
    return true;
}

outcome::Words UpdatePage::runTransfer(outcome::Result *result) {
    update_job::Transfer done;
    {
        const InputBlocker blocker(
            [this](const QObject *target) { return takenDuringTransfer(target); });
        running_ = true;
        w.connection->setBusy(true);
        cancel_requested = false;
        close_after = false;
        w.ui->pushButton_cancel_update->setEnabled(true);
        if (auto *reconnect = w.widget->findChild<QAction *>("actionReconnect")) {
            reconnect->setEnabled(false);
        }
        clock.start();
        last_events_ms = 0;
        meter = TransferMeter();
        done = update_job::transfer(w.connection->comms(), image_.image, w.progress,
                                    &cancel_requested);
        w.ui->pushButton_cancel_update->setEnabled(false);
        // The input held back during the transfer is delivered now, into the blocker.
        QCoreApplication::processEvents();
        running_ = false;
    }
    image_ = update_job::ImageStep(); // the image's bytes are not kept past the transfer
    if (auto *reconnect = w.widget->findChild<QAction *>("actionReconnect")) {
        reconnect->setEnabled(true);
    }
    note->hide();
    w.ui->progressBar_firmware->resetFormat();
    w.ui->pushButton_browse->setEnabled(true);
    w.ui->pushButton_start_update->setEnabled(true);
    w.ui->text_firmware_file->setEnabled(true);
    if (close_question != nullptr) {
        close_question->close();
        close_question->deleteLater();
        close_question = nullptr;
    }
    if (done.leftIncomplete()) {
        incomplete_ = before_ ? before_->serial : update_job::NO_SERIAL;
    } else if (done.result.end == FwTransferEnd::Completed) {
        incomplete_.reset();
    }
    switch (done.result.end) {
    case FwTransferEnd::Completed:
        *result = outcome::Result::UpdateCompleted;
        return outcome::words(*result);
    case FwTransferEnd::Failed:
        // The specified status stays as it is; the reason stands beside it.
        note->setText(done.reasonText());
        note->show();
        *result = outcome::Result::UpdateFailed;
        return outcome::words(*result, {done.reasonText()});
    case FwTransferEnd::Cancelled:
        break;
    }
    *result = outcome::Result::UpdateCancelled;
    return outcome::words(
        *result, {bytesText(done.result.bytes_confirmed), bytesText(done.result.bytes_total)},
        {QString::number(done.result.bytes_confirmed), QString::number(done.result.bytes_total)});
}

bool UpdatePage::finish(outcome::Result result) {
    w.connection->setBusy(false); // a unit lost during the update shows as lost from here
    if (close_after) {
        return true;
    }
    if (result == outcome::Result::UpdateCompleted && w.connection->isConnected()) {
        // Compared whenever the unit restarts into the new firmware during this session.
        pending_ = before_.value_or(update_job::Before{});
        pending_->serial = w.connection->serialNumber();
        // Where it is reached and which other units are present, while it is still there.
        target_ = update_job::returnTarget(w.connection->comms());
        offerReboot();
    }
    return false;
}

void UpdatePage::follow(uint32_t current, uint32_t total, int phase) {
    const qint64 now = clock.elapsed();
    const TransferMeter::Reading reading = meter.update(current, total, phase, now);
    if (now - last_events_ms < EVENTS_INTERVAL_MS) {
        return;
    }
    last_events_ms = now;
    if (reading.has_rate) {
        w.ui->progressBar_firmware->setFormat(QStringLiteral("%p% - ") + reading.rateText());
    }
    // Repaints, timers, the desktop's pings, and the input the blocker lets through (the cancel);
    // every other click or key is dropped.
    QCoreApplication::processEvents();
}

bool UpdatePage::takenDuringTransfer(const QObject *target) const {
    // A window hands its input on to the widget it is for, which is judged then.
    if (target->isWindowType()) {
        return true;
    }
    if (target == w.ui->pushButton_cancel_update) {
        return true;
    }
    const auto *widget = qobject_cast<const QWidget *>(target);
    return close_question != nullptr && widget != nullptr &&
           (widget == close_question || close_question->isAncestorOf(widget));
}

void UpdatePage::cancel() {
    if (!running_ || cancel_requested) {
        return;
    }
    cancel_requested = true;
    w.ui->pushButton_cancel_update->setEnabled(false);
    qDebug() << "Firmware update cancel requested";
    note->setText(tr("Cancelling the firmware update: the write in flight is confirmed first"));
    note->show();
}

bool UpdatePage::mayReboot() {
    if (!incomplete_) {
        return true;
    }
    const uint32_t serial = w.connection->serialNumber();
    if (*incomplete_ != update_job::NO_SERIAL && serial != update_job::NO_SERIAL &&
        serial != *incomplete_) {
        return true; // another unit: its image was not touched
    }
    QMessageBox box(QMessageBox::Warning, tr("Reboot EFIS"),
                    tr("The firmware image in the unit is incomplete: it may not start. Reboot "
                       "it anyway?"),
                    QMessageBox::Yes | QMessageBox::Cancel, w.widget);
    box.setObjectName("rebootIncompleteImageBox");
    box.setInformativeText(tr("Run the firmware update again until it completes, then reboot."));
    box.button(QMessageBox::Yes)->setText(tr("Reboot Anyway"));
    box.setDefaultButton(QMessageBox::Cancel);
    if (box.exec() == QMessageBox::Yes) {
        return true;
    }
    showStatus(tr("Reboot cancelled: the firmware image in the unit is incomplete"));
    return false;
}

void UpdatePage::closeRefused() {
    // Next to the messages, which the transfer's progress keeps replacing.
    note->setText(tr("The firmware update is running: the window closes only after it has ended"));
    note->show();
    if (close_question == nullptr) {
        close_question = new QMessageBox(
            QMessageBox::Question, tr("Firmware Update Running"),
            tr("The firmware update is still running. Cancel it and close the window?"),
            QMessageBox::NoButton, w.widget);
        close_question->setObjectName("cancelUpdateOnCloseBox");
        close_question->setInformativeText(
            tr("The update stops after the write in flight. The image in the unit is then "
               "incomplete: update it again before rebooting it."));
        QPushButton *stop =
            close_question->addButton(tr("Cancel Update and Close"), QMessageBox::AcceptRole);
        close_question->addButton(tr("Continue Update"), QMessageBox::RejectRole);
        close_question->setWindowModality(Qt::NonModal);
        connect(stop, &QPushButton::clicked, this, [this] {
            close_after = true;
            cancel();
        });
    }
    close_question->show();
    close_question->raise();
}

void UpdatePage::offerReboot() {
    const bool backed_up = before_ && before_->has_settings;
    QMessageBox box(QMessageBox::Question, tr("Reboot EFIS"),
                    tr("Firmware update completed. Reboot the EFIS now to start the new firmware?"),
                    QMessageBox::Yes | QMessageBox::No, w.widget);
    box.setObjectName("rebootAfterUpdateBox");
    box.setInformativeText((backed_up ? tr("The window then waits for the EFIS to come back "
                                           "and compares its settings with the backup.")
                                      : tr("The window then waits for the EFIS to come back "
                                           "and loads its settings.")) +
                           QLatin1Char(' ') +
                           tr("Later: the same happens when the EFIS next restarts while the "
                              "window is open."));
    box.button(QMessageBox::Yes)->setText(tr("Reboot Now"));
    box.button(QMessageBox::No)->setText(tr("Later"));
    // Enter and Escape are Later: a reboot ends what the unit holds unsaved, so it takes a click.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    // Later: the comparison waits for the unit's restart (see rebootSent and the lost unit).
    if (box.exec() == QMessageBox::Yes) {
        w.reboot();
    }
}

void UpdatePage::rebootSent() {
    // Another unit chosen since and rebooted: the unit updated has not restarted.
    if (!pending_ || w.connection->serialNumber() != pending_->serial) {
        return;
    }
    awaitReturn();
    return_timer->start();
    showStatus(tr("Reboot command sent - waiting for the EFIS to come back with its new firmware"));
}

void UpdatePage::awaitReturn() {
    update_job::Before before = *pending_;
    pending_.reset();
    // What the unit took since the update and has not stored is lost by this restart as well.
    for (const auto &[index, word] : w.session->unstoredValues()) {
        before.unstored[index] = word;
    }
    awaiting_ = before;
}

unit_locator::Look UpdatePage::lookForReturn() const {
    return unit_locator::find(target_);
}

void UpdatePage::unitBack(const unit_locator::Look &look) {
    const update_job::Before before = *awaiting_;
    awaiting_.reset();
    return_timer->stop();
    const SettingsSession &session = *w.session;
    if (look.kind != unit_locator::Return::Same) {
        const bool silent = look.serial == unit_locator::NO_SERIAL;
        const outcome::Words words =
            silent ? outcome::words(outcome::Result::UnitBackSilent)
                   : outcome::words(outcome::Result::OtherUnitBack,
                                    {serialText(look.serial), serialText(before.serial)},
                                    {outcome::quoted(serialText(look.serial)),
                                     outcome::quoted(serialText(before.serial))});
        qDebug().noquote() << words.log;
        if (!session.hasUnsentEdits()) {
            w.load();
        }
        showStatus(words.status);
        return;
    }
    qDebug() << "The EFIS is back after its firmware update";
    if (session.hasUnsentEdits()) {
        showStatus(tr("The EFIS is back after its update; your %n edit(s) are kept, so its "
                      "settings were not loaded or compared",
                      nullptr, session.editedFieldCount()));
        return;
    }
    w.load();
    const FieldSet all = allSettingsFields();
    if (std::any_of(all.begin(), all.end(),
                    [&session](settings_struct_index i) { return session.unknownOnUnit(i); })) {
        return; // the load's own status says what it could not read
    }
    const update_job::Comparison comparison = update_job::compare(before, session.record());
    if (!before.has_settings && comparison.empty()) {
        showStatus(tr("The EFIS is back after its update - settings loaded; no backup was "
                      "exported to compare them with"));
        return;
    }
    showChanges(before, comparison);
}

void UpdatePage::showChanges(const update_job::Before &before,
                             const update_job::Comparison &comparison) {
    if (comparison.empty()) {
        const outcome::Words words = outcome::words(outcome::Result::SettingsUnchanged);
        qDebug().noquote() << words.log;
        showStatus(words.status);
        return;
    }
    if (!comparison.changed.empty()) {
        qDebug().noquote() << outcome::words(outcome::Result::SettingsChanged,
                                             {QString::number(comparison.changed.size())})
                                  .log;
    }
    if (!comparison.unsaved.empty()) {
        qDebug().noquote() << QStringLiteral("Sent but not saved before the update: %1")
                                  .arg(comparison.unsaved.size());
    }
    DifferencesDialog::Wording wording;
    wording.dialog_name = "settingsChangedByUpdateDialog";
    const QString not_saved = tr("sent but not saved before the update");
    if (comparison.changed.empty()) {
        // The unit restarted with what it had stored, as every restart does: not the update's
        // doing.
        wording.title = tr("Values Not Saved before the Update");
        wording.intro = tr("The EFIS restarted with the settings it had stored: the values below "
                           "were sent to it but not saved before the update. Restore puts them "
                           "into the form as edits, which Save stores; Keep leaves the unit as it "
                           "is now.");
    } else {
        wording.title = tr("Settings Changed by the Update");
        wording.intro = tr("The EFIS holds other settings than before its update. Restore puts the "
                           "backup's values into the form as edits, which Save stores; Keep leaves "
                           "the unit as it is now.");
        if (!comparison.unsaved.empty()) {
            wording.intro +=
                QLatin1Char(' ') + tr("The values marked \"%1\" were never stored in the unit: its "
                                      "restart lost them, not the update.")
                                       .arg(not_saved);
        }
    }
    for (const settings_file::Difference &row : comparison.unsaved) {
        wording.marked.insert(row.index);
    }
    wording.marked_note = not_saved;
    std::vector<settings_file::Difference> changes = comparison.changed;
    changes.insert(changes.end(), comparison.unsaved.begin(), comparison.unsaved.end());
    wording.table_name = "tableWidget_updateDifferences";
    wording.current_heading = tr("Before the update");
    wording.other_heading = tr("Now");
    wording.take_text = tr("Restore");
    wording.take_name = "pushButton_restoreSettings";
    wording.keep_text = tr("Keep");
    wording.keep_name = "pushButton_keepSettings";
    if (!DifferencesDialog::ask(wording, changes, {}, w.widget)) {
        showStatus(tr("Settings kept as the EFIS holds them after the update"));
        return;
    }
    // Edits only: the person's Save stores them, as every other edit.
    w.restore(comparison.plan);
    const int restored = formFieldCount(comparison.plan.fields);
    showStatus(before.has_settings
                   ? tr("%n value(s) of the backup are edits now - Update sends them, Save "
                        "stores them",
                        nullptr, restored)
                   : tr("%n value(s) sent before the update are edits now - Update sends them, "
                        "Save stores them",
                        nullptr, restored));
}
