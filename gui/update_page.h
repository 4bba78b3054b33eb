#ifndef UPDATE_PAGE_H
#define UPDATE_PAGE_H

// The window's firmware page over the update job: the image chosen and checked, the backup
// offered, the transfer followed from the event loop (the bar, the meter, the cancel; every other
// input held back), then the reboot offered, the wait for the same unit where it was reached, the
// comparison of its settings with the backup and their restore. MainWindow's firmware slots call
// it and say, in their own log lines, what it returns.

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include "firmware_ops.h"
#include "outcome.h"
#include "settings_session.h"
#include "transfer_meter.h"
#include "unit_connection.h"
#include "unit_locator.h"
#include "update_job.h"

class QLabel;
class QMessageBox;
class QTimer;
class QWidget;

namespace Ui {
class MainWindow;
}

class UpdatePage : public QObject {
    Q_OBJECT

public:
    // What the page asks of the window: the window's own flows, run as a click would run them.
    struct Window {
        QWidget *widget = nullptr;
        Ui::MainWindow *ui = nullptr;
        UnitConnection *connection = nullptr;
        const SettingsSession *session = nullptr;
        std::function<void()> load;   // the load of the unit's settings into the form
        std::function<void()> reboot; // the reboot slot
        // The window's question before an update (values sent but not stored): false stops it.
        std::function<bool()> mayStart;
        // Each progress report of the transfer, for the window's bar and status.
        std::function<void(uint32_t current, uint32_t total, int phase)> progress;
        // The restore plan's values put into the form as edits, then Save.
        std::function<void(const update_job::RestorePlan &)> restore;
    };

    UpdatePage(const Window &window, QObject *parent);

    // Browse: the file dialog; the chosen path (shown, checked, the page made ready), or empty
    // when cancelled (nothing changes).
    QString chooseImage();

    // Start Update, up to the transfer: UpdateStarted in `result` when the transfer may begin
    // (the page's widgets are then set for it), else why not (nothing was sent). The words are
    // the caller's to show and log.
    outcome::Words prepare(const QString &path, outcome::Result *result);
    // The transfer, followed until it ends; the widgets are given back. UpdateCompleted,
    // UpdateFailed (its reason in the log line, and beside the status) or UpdateCancelled.
    // The image sent is the one prepare() read and checked.
    outcome::Words runTransfer(outcome::Result *result);
    // After "Firmware update process finished": the window closes when that was asked during
    // the transfer (true), else a completed update offers the reboot.
    bool finish(outcome::Result result);

    // While a transfer runs.
    bool running() const { return running_; }
    // A progress report of the transfer: the meter in the bar, and a pass of the event loop.
    void follow(uint32_t current, uint32_t total, int phase);
    // A close request during the transfer: the note and the question that offers the cancel.
    void closeRefused();

    // The reboot command went out (the Reboot button, or the reboot offered after the update):
    // after a completed update whose unit has not restarted since, the window now waits for it
    // to come back and compares its settings. Called before the session forgets what the unit
    // had not stored.
    void rebootSent();

    // True from the restart after an update until the unit has come back.
    bool awaitingReturn() const { return awaiting_.has_value(); }
    // One look for the updated unit while it is away: the window connects only where it
    // answered (Same or Other); NotYet leaves the poll looking.
    unit_locator::Look lookForReturn() const;
    // The unit the window connected to after the reboot: compared, loaded, restored.
    void unitBack(const unit_locator::Look &look);

    // The cancel button's slot.
    void cancel();

    // Before the reboot command: after a transfer of this session that began and did not
    // complete, the unit's image is incomplete and it may not start; the person is asked (Cancel
    // the default). True when the reboot may go out.
    bool mayReboot();

private:
    bool takenDuringTransfer(const QObject *target) const;
    bool confirmWrite(const update_job::ImageStep &image);
    bool backUpFirst();
    void offerReboot();
    // The completed update's unit restarts now: the window waits for it.
    void awaitReturn();
    void showChanges(const update_job::Before &before, const update_job::Comparison &comparison);
    void showStatus(const QString &text);

    Window w;
    QLabel *note = nullptr;
    bool running_ = false;
    QElapsedTimer clock;
    qint64 last_events_ms = 0;
    TransferMeter meter;
    // The image prepare() read and checked, until its transfer has ended.
    update_job::ImageStep image_;
    FwCancelFlag cancel_requested{false};
    bool close_after = false;
    QMessageBox *close_question = nullptr;
    // The unit and its settings before the running or last update, for the comparison after.
    std::optional<update_job::Before> before_;
    // Set when an update completed, until its unit restarts ("Later" leaves it set): by the
    // reboot command, or by itself (it leaves the bus and comes back).
    std::optional<update_job::Before> pending_;
    // Set from the restart after an update until the unit has come back.
    std::optional<update_job::Before> awaiting_;
    unit_locator::Target target_;
    QTimer *return_timer = nullptr;
    // The unit (its serial number, or NO_SERIAL) a transfer left with an incomplete image, until
    // a transfer into it completes.
    std::optional<uint32_t> incomplete_;
};

#endif // UPDATE_PAGE_H
