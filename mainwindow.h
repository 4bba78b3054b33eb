#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "comms.h"
#include "discovery.h"
#include "unit_connection.h"
#include "settings_file.h"
#include "settings_flows.h"
#include "settings_types.h"

QT_BEGIN_NAMESPACE
class DisplayPreviewPanel;
class QAction;
class QCloseEvent;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QRadioButton;

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

// The application's one settings record, and the checksum the unit reported for
// its stored record on the last load.
extern Settings_t user_config;
extern uint32_t user_config_chk;

class MainWindowTestPeer;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void updateFirmwareProgress(uint32_t current, uint32_t total, int phase);

    // Fields edited since the last load, update or save, in ascending order.
    const std::set<settings_struct_index> &changedValues() const { return changed_values; }

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
    // The unit's connection. openUnit closes any open interface and connects as at start-up
    // (true when the unit confirmed itself); showConnection puts the outcome in the status bar
    // in start-up's words. connectAndLoad does both on the user's or the poll's behalf and loads
    // the unit's settings unless edits are pending. While the unit is not connected the poll
    // looks for its interface every two seconds and connects when it appears.
    void setUpDeviceMenu();
    bool openUnit();
    void showConnection(bool connected);
    void connectAndLoad(bool found_by_poll);
    // The one place that decides, after a connect, a reconnect or a change of unit, whether
    // the unit's settings are loaded into the form: not while edits are pending.
    void loadAfterConnecting();
    void pollForUnit();
    void watchForUnit();
    // The Device menu's units (mainwindow_device.cpp): the connection owner and its signals,
    // the list of units rebuilt each time the menu opens, a unit chosen from it, Unit
    // Information..., and the note in the status bar when more than one unit is present.
    void setUpUnitMenu(QMenu *device);
    void listUnits();
    void chooseUnit(const UnitInterface &unit);
    void showUnitInformation();
    void showUnitCount();
    void onUnitLost();
    // From the transfer's progress: the time left and the rate in the bar's text, and, at most
    // every 50 ms, a pass of the event loop without user input (repaints, the desktop's
    // liveness pings).
    void followTransfer(uint32_t current, uint32_t total, int phase);
    // Settings files: the File menu, the form's values as a record, export (true when
    // written), import after the user confirmed the differences, and the backup offered before
    // a firmware update (false when the update should not start).
    void setUpFileMenu();
    // The display preview beside the settings, drawn from the form's values; refreshPreview
    // has it drawn again after an edit or a fill of the form.
    void setUpPreview();
    void refreshPreview();
    Settings_t formRecord();
    bool exportSettings();
    void importSettings();
    bool confirmImport(const std::vector<settings_file::Difference> &differences,
                       const QString &file_name);
    bool backupBeforeUpdate();
    // Shows `record` in the form as edits: each widget it changes goes through its edit
    // handler, which marks the field.
    void showAsEdits(const Settings_t &record);
    void updateConfigFromUI();
    void loadConfigFromDevice();
    void updateConfigValueLocal(settings_struct_index index, uint32_t value);
    // The ten colour buttons with the field each one shows, in the record's order.
    std::array<std::pair<QPushButton *, settings_struct_index>, 10> colourButtons() const;
    // `base` with the unit choices the radio buttons show; a group with none checked keeps
    // the bits of `base`.
    units_t unitsFromForm(units_t base) const;
    std::array<QRadioButton *, 9> unitRadioButtons() const;
    // The unit choices the radio buttons show, and which bits of the units word they cover.
    UnitChoices unitChoicesFromForm() const;
    // The window's record and sets, as the settings flows work on them.
    SettingsState settingsState();
    // Sets the colour field at `index` from the colour the button's style sheet shows.
    void takeColourFrom(const QPushButton *button, settings_struct_index index);

    Ui::MainWindow *ui;
    QString firmwareFilePath;
    // The connection's comms manager (UnitConnection owns it), the same for the window's life.
    CommsManager *comms;
    std::set<settings_struct_index> changed_values;
    // Fields whose value on the unit is not known to be the tool's: every field until a load
    // reads it or a send of it is acknowledged. A save reads again those the user has not
    // edited before it stores.
    std::set<settings_struct_index> unknown_on_unit;
    // Fields the last load could not read. While still unknown on the unit, the form shows the
    // registration and the unit choices among them as not read rather than a cut or stale
    // value.
    std::set<settings_struct_index> unread_at_load;
    bool shownUnread(settings_struct_index index) const {
        return unread_at_load.count(index) != 0 && unknown_on_unit.count(index) != 0;
    }
    bool registrationShownUnread() const;
    // While showAsEdits runs: the record as it stood before.
    const Settings_t *previous_record = nullptr;

    DisplayPreviewPanel *display_preview = nullptr;
    // Owns the comms manager (`comms` points to it for the window's life), the poll and the
    // connection's state.
    UnitConnection *connection = nullptr;
    QAction *reconnect_action = nullptr;
    QMenu *units_menu = nullptr;
    QAction *unit_information_action = nullptr;
    QLabel *unit_count_note = nullptr;
    // The checksum check of the last load that read the record: unknown until one did.
    bool record_loaded = false;
    bool record_crc_matches = false;
    bool update_running = false;
    QLabel *update_note = nullptr;
    // The running transfer's clock: its last pass of the event loop, and where the upload's
    // rate is counted from.
    QElapsedTimer transfer_clock;
    qint64 last_events_ms = 0;
    qint64 upload_start_ms = -1;
    uint32_t upload_start_bytes = 0;
};

#endif // MAINWINDOW_H
