#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <memory>
#include <set>

#include "comms.h"
#include "edit_guard.h"
#include "settings_session.h"
#include "settings_types.h"

class DeviceMenu;
class FittingForm;
class FormValuesNote;
class FormBinder;
class PreviewDock;
class QCloseEvent;
class SettingsFileActions;
class UnitConnection;
class UpdatePage;

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
QT_END_NAMESPACE

// Turns every Qt message into one line on standard error with its level, text
// and source context, flushed at once; a fatal message aborts the process.
void customMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

// Stores the unit's settings in its non-volatile memory under crc: the store
// command, then the erase status and the acknowledgement. 0 when confirmed, -1
// for every failure.
int store_settings(CommsManager *comms, uint32_t crc);

class MainWindowTestPeer;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void updateFirmwareProgress(uint32_t current, uint32_t total, int phase);

    // Fields edited since the last load, update or save, in ascending order.
    const std::set<settings_struct_index> &changedValues() const { return session.edits(); }

    // What a person is about to do that would lose the form's edits (or, for a restart, the
    // values the unit took but has not stored).
    using EditLoss = EditGuard::Loss;

protected:
    // While a firmware update runs the window stays open: closing it would delete the comms
    // manager under the transfer.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void onSaveClicked();
    void onLoadClicked();
    void onBrowseClicked();
    void onStartUpdateClicked();
    void onSkyColorPickerClicked();
    void onSkyColor1PickerClicked();
    void onGroundColorPickerClicked();
    void onGroundColor1PickerClicked();
    void onApproachIndiColorPickerClicked();
    void onAirplaneColorPickerClicked();
    void onGreenArcColorPickerClicked();
    void onYellowArcColorPickerClicked();
    void onRedArcColorPickerClicked();
    void onGearIndiColorPickerClicked();
    void onUnitsChanged();
    void onVminChanged(int value);
    void onVs0Changed(int value);
    void onVs1Changed(int value);
    void onVfeChanged(int value);
    void onVn0Changed(int value);
    void onVneChanged(int value);
    void onVrefChanged(int value);
    void onVloChanged(int value);
    void onMinVoltChanged(double value);
    void onMaxVoltChanged(double value);
    void onMinVoltAlertChanged(double value);
    void onMaxVoltAlertChanged(double value);
    void onRegistrationChanged();
    void onSkyColor0Changed();
    void onSkyColor1Changed();
    void onGroundColor0Changed();
    void onGroundColor1Changed();
    void onApproachIndiColorChanged();
    void onAirplaneColorChanged();
    void onGreenArcColorChanged();
    void onYellowArcColorChanged();
    void onRedArcColorChanged();
    void onGearIndiColorChanged();
    void onBacklightBrightnessChanged(int value);
    void onTextBgAlphaChanged(int value);
    void onRollCorrectionChanged(double value);
    void onPitchCorrectionChanged(double value);
    void onUpdateClicked();
    void onRebootClicked();

private:
    friend class MainWindowTestPeer; // the window tests reach the private steps

    void updateUIFromConfig();
    // The window's parts: the edit guard (marks, title, Revert, the questions before edits are
    // lost or contradicting settings are sent), the settings files, the preview. These ask them.
    void refreshEditState();
    bool mayLoseEdits(EditLoss loss);
    // Refreshes the edit state when a flow ends, by whichever return.
    struct EditStateRefresh {
        MainWindow *window;
        ~EditStateRefresh() { window->refreshEditState(); }
    };
    // A flow's outcome on the status bar; an empty text leaves the bar as it is.
    void showStatus(const QString &text);
    // The Device menu (gui/device_menu) over the unit's connection: connect, choose, the poll
    // while no unit is connected, Unit Information.
    void setUpDeviceMenu();
    // The display preview draws the form's values again after an edit or a fill of the form.
    void refreshPreview();
    // The form's values as a record; the session's record stays as it is.
    Settings_t formRecord();
    // The firmware page (gui/update_page): the image, the backup, the transfer, and after it
    // the reboot offered, the wait for the same unit and the restore of its settings. The
    // window lends it its flows: the load, the reboot, the progress and the restore's Save.
    void setUpUpdatePage();
    // Shows `record` in the form as edits: each widget it changes goes through its edit
    // handler, which marks the field.
    void showAsEdits(const Settings_t &record);
    void updateConfigFromUI();
    void loadConfigFromDevice();
    void updateConfigValueLocal(settings_struct_index index, uint32_t value);
    // Opens the colour dialog for a colour field; a colour chosen goes to its colour handler.
    void pickColour(settings_struct_index index, void (MainWindow::*handler)());
    // Sets a colour field from the colour its button holds.
    void takeColour(settings_struct_index index);
    bool registrationShownUnread() const;

    Ui::MainWindow *ui;
    // The settings tab's widgets bound to the record's fields.
    std::unique_ptr<FormBinder> form;
    QString firmwareFilePath;
    // The connection's comms manager (UnitConnection owns it), the same for the window's life.
    CommsManager *comms;
    // What the unit holds, what is edited over it, what it took but has not stored, and what
    // could not be read (and whether the last load's checksum matched).
    SettingsSession session;
    // While showAsEdits runs: the record as it stood before.
    const Settings_t *previous_record = nullptr;

    // The window's parts, children of the window.
    FittingForm *fitting_form = nullptr;
    EditGuard *edit_guard = nullptr;
    SettingsFileActions *file_actions = nullptr;
    PreviewDock *preview_dock = nullptr;
    // Owns the comms manager (`comms` points to it for the window's life), the poll and the
    // connection's state.
    UnitConnection *connection = nullptr;
    DeviceMenu *device_menu = nullptr;
    UpdatePage *update_page = nullptr;
    // Says above the form when its values are not the connected unit's.
    FormValuesNote *values_note = nullptr;
};

#endif // MAINWINDOW_H
