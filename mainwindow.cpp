#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QThread>
#include <QTimer>

#include <array>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "codecs.h"
#include "firmware_ops.h"
#include "fitting_form.h"
#include "form_binder.h"
#include "get_set.h"
#include "log_capture.h"
#include "log_panel.h"
#include "preview_dock.h"
#include "registration_prefix.h"
#include "settings_file_actions.h"
#include "settings_flows.h"
#include "transfer_meter.h"
#include "device_menu.h"
#include "update_page.h"

void customMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg) {
    const QByteArray localMsg = msg.toLocal8Bit();
    const char *file = context.file ? context.file : "";
    const char *function = context.function ? context.function : "";
    const unsigned line = static_cast<unsigned>(context.line);
    const char *level = nullptr;
    switch (type) {
    case QtDebugMsg:
        level = "Debug";
        break;
    case QtInfoMsg:
        level = "Info";
        break;
    case QtWarningMsg:
        level = "Warning";
        break;
    case QtCriticalMsg:
        level = "Critical";
        break;
    case QtFatalMsg:
        level = "Fatal";
        break;
    }
    if (level != nullptr) {
        std::fprintf(stderr, "%s: %s (%s:%u, %s)\n", level, localMsg.constData(), file, line,
                     function);
    }
    if (type == QtFatalMsg) {
        std::abort();
    }
    std::fflush(stderr);
}

namespace {

const char *const NOT_CONNECTED_LOG = "No communication interface connected";
const char *const NOT_CONNECTED_STATUS =
    "Error: No communication interface connected (USB HID or CAN FD)";

bool isConnected(const CommsManager *comms) {
    return comms != nullptr && comms->isConnected();
}

// What an unreadable header word logs and shows.
struct HeaderWordText {
    const char *log;
    const char *status;
};
HeaderWordText headerWordText(settings_struct_index index) {
    switch (index) {
    case SETTINGS_CHECKSUM_INDEX:
        return {"Error reading checksum value", "Error: Failed to read checksum from device"};
    case SETTINGS_MAGIC_NUM:
        return {"Error reading magic value", "Error: Failed to read magic number from device"};
    case SETTINGS_VERSION:
        return {"Error reading memory version value",
                "Error: Failed to read memory version from device"};
    default:
        return {"Error reading num_elements value",
                "Error: Failed to read num_elements from device"};
    }
}

// Hands the transfer's progress to the window that started it.
void fw_progress_callback(uint32_t current, uint32_t total, int phase, void *user_data) {
    if (user_data != nullptr) {
        static_cast<MainWindow *>(user_data)->updateFirmwareProgress(current, total, phase);
    }
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), firmwareFilePath(), comms(nullptr), session() {
    LogCapture::installHandler(customMessageHandler);
    ui->setupUi(this);
    ui->statusbar->showMessage("Initializing...", 0);

    // The box's signals are not connected yet, so filling it reaches no slot.
    for (int i = 0; i < NUM_REGISTRATION_PREFIXES; ++i) {
        ui->comboBox_reg_prefix->addItem(QString::fromLatin1(REGISTRATION_PREFIXES[i]));
    }

    // The number box holds one line: Tab and Shift+Tab move on, as in every other field.
    ui->text_registration_num->setTabChangesFocus(true);
    form = std::make_unique<FormBinder>(ui->tab);

    ui->text_firmware_file->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    ui->progressBar_firmware->setEnabled(false);

    connect(ui->pushButton_browse, &QPushButton::clicked, this, &MainWindow::onBrowseClicked);
    connect(ui->pushButton_start_update, &QPushButton::clicked, this,
            &MainWindow::onStartUpdateClicked);
    connect(ui->pushButton_save, &QPushButton::clicked, this, &MainWindow::onSaveClicked);
    connect(ui->pushButton_load, &QPushButton::clicked, this, &MainWindow::onLoadClicked);
    connect(ui->color_picker_sky0, &QPushButton::clicked, this,
            &MainWindow::onSkyColorPickerClicked);
    connect(ui->color_picker_sky1, &QPushButton::clicked, this,
            &MainWindow::onSkyColor1PickerClicked);
    connect(ui->color_picker_ground0, &QPushButton::clicked, this,
            &MainWindow::onGroundColorPickerClicked);
    connect(ui->color_picker_ground1, &QPushButton::clicked, this,
            &MainWindow::onGroundColor1PickerClicked);
    connect(ui->color_picker_app_indi, &QPushButton::clicked, this,
            &MainWindow::onApproachIndiColorPickerClicked);
    connect(ui->color_picker_airplane, &QPushButton::clicked, this,
            &MainWindow::onAirplaneColorPickerClicked);
    connect(ui->color_picker_green, &QPushButton::clicked, this,
            &MainWindow::onGreenArcColorPickerClicked);
    connect(ui->color_picker_yellow, &QPushButton::clicked, this,
            &MainWindow::onYellowArcColorPickerClicked);
    connect(ui->color_picker_red, &QPushButton::clicked, this,
            &MainWindow::onRedArcColorPickerClicked);
    connect(ui->color_picker_gear, &QPushButton::clicked, this,
            &MainWindow::onGearIndiColorPickerClicked);
    connect(ui->radioButton_mph, &QRadioButton::toggled, this, &MainWindow::onUnitsChanged);
    connect(ui->radioButton_kph, &QRadioButton::toggled, this, &MainWindow::onUnitsChanged);
    connect(ui->radioButton_knots, &QRadioButton::toggled, this, &MainWindow::onUnitsChanged);
    connect(ui->radioButton_feet, &QRadioButton::toggled, this, &MainWindow::onUnitsChanged);
    connect(ui->radioButton_meter, &QRadioButton::toggled, this, &MainWindow::onUnitsChanged);
    connect(ui->radioButton_degF, &QRadioButton::toggled, this, &MainWindow::onUnitsChanged);
    connect(ui->radioButton_degC, &QRadioButton::toggled, this, &MainWindow::onUnitsChanged);
    connect(ui->radioButton_inhg, &QRadioButton::toggled, this, &MainWindow::onUnitsChanged);
    connect(ui->radioButton_mbar, &QRadioButton::toggled, this, &MainWindow::onUnitsChanged);
    connect(ui->spinBox_vmin, &QSpinBox::valueChanged, this, &MainWindow::onVminChanged);
    connect(ui->spinBox_vs0, &QSpinBox::valueChanged, this, &MainWindow::onVs0Changed);
    connect(ui->spinBox_vs1, &QSpinBox::valueChanged, this, &MainWindow::onVs1Changed);
    connect(ui->spinBox_vfe, &QSpinBox::valueChanged, this, &MainWindow::onVfeChanged);
    connect(ui->spinBox_vn0, &QSpinBox::valueChanged, this, &MainWindow::onVn0Changed);
    connect(ui->spinBox_vne, &QSpinBox::valueChanged, this, &MainWindow::onVneChanged);
    connect(ui->spinBox_vref, &QSpinBox::valueChanged, this, &MainWindow::onVrefChanged);
    connect(ui->spinBox_vlo, &QSpinBox::valueChanged, this, &MainWindow::onVloChanged);
    connect(ui->min_volt_warn_value, &QDoubleSpinBox::valueChanged, this,
            &MainWindow::onMinVoltChanged);
    connect(ui->max_volt_warn_value, &QDoubleSpinBox::valueChanged, this,
            &MainWindow::onMaxVoltChanged);
    connect(ui->min_volt_alert_value, &QDoubleSpinBox::valueChanged, this,
            &MainWindow::onMinVoltAlertChanged);
    connect(ui->max_volt_alert_value, &QDoubleSpinBox::valueChanged, this,
            &MainWindow::onMaxVoltAlertChanged);
    connect(ui->comboBox_reg_prefix, &QComboBox::currentTextChanged, this,
            &MainWindow::onRegistrationChanged);
    connect(ui->text_registration_num, &QPlainTextEdit::textChanged, this,
            &MainWindow::onRegistrationChanged);
    connect(ui->backlight_slider, &QSlider::valueChanged, this,
            &MainWindow::onBacklightBrightnessChanged);
    connect(ui->text_bg_alpha_slider, &QSlider::valueChanged, this,
            &MainWindow::onTextBgAlphaChanged);
    connect(ui->roll_corr_spinbox, &QDoubleSpinBox::valueChanged, this,
            &MainWindow::onRollCorrectionChanged);
    connect(ui->pitch_corr_spinbox, &QDoubleSpinBox::valueChanged, this,
            &MainWindow::onPitchCorrectionChanged);
    connect(ui->pushButton_update, &QPushButton::clicked, this, &MainWindow::onUpdateClicked);
    connect(ui->pushButton_reboot, &QPushButton::clicked, this, &MainWindow::onRebootClicked);

    fitting_form = new FittingForm(this, *ui);
    edit_guard = new EditGuard(this, ui->tab, session);
    connect(edit_guard, &EditGuard::saveRequested, this, &MainWindow::onSaveClicked);
    connect(edit_guard, &EditGuard::formReverted, this, [this] { updateUIFromConfig(); });
    file_actions = new SettingsFileActions(
        this, session, edit_guard,
        {[this] { return formRecord(); }, [this](const Settings_t &r) { showAsEdits(r); }});
    file_actions->addMenu(ui->menubar,
                          {ui->pushButton_load, ui->pushButton_update, ui->pushButton_save});
    edit_guard->addMenu(ui->menubar);
    setUpDeviceMenu();
    file_actions->setConnection(connection);
    setUpUpdatePage();
    addLogAndHelpMenus(this);
    preview_dock = new PreviewDock([this] { return formRecord(); }, this);
    preview_dock->addTo(ui->menubar->findChild<QMenu *>("menuView"));
    fitting_form->fitToScreen();
    refreshEditState();
    // Whatever changes the settings session, the marks, the title and the preview follow.
    session.addListener([this] {
        refreshEditState();
        refreshPreview();
    });

    QThread::msleep(100);

    if (!openUnit()) {
        qDebug() << "Failed to establish connection via USB HID or CAN FD";
        showConnection(false);
        watchForUnit();
        return;
    }
    showConnection(true);
    loadConfigFromDevice();
}

MainWindow::~MainWindow() {
    // The connection owns the comms manager and goes with the window's children.
    comms = nullptr;
    delete ui;
}

// ---- the window's parts ------------------------------------------------------

void MainWindow::refreshEditState() {
    edit_guard->refresh();
    file_actions->refresh();
}

bool MainWindow::mayLoseEdits(EditLoss loss) {
    return edit_guard->mayLose(loss);
}

bool MainWindow::settingsProblemsAccepted(const Settings_t &record) {
    return edit_guard->problemsAccepted(record);
}

void MainWindow::refreshPreview() {
    fitting_form->showSliderValues();
    if (preview_dock != nullptr) {
        preview_dock->refresh();
    }
}

// ---- settings to form and back ----------------------------------------------

Settings_t MainWindow::formRecord() {
    return form->readBack(session.record());
}

void MainWindow::showAsEdits(const Settings_t &record) {
    const Settings_t previous = session.record();
    session.replaceRecord(record);
    previous_record = &previous;
    updateUIFromConfig();
    previous_record = nullptr;
}

void MainWindow::updateUIFromConfig() {
    const bool from_unit = previous_record == nullptr;
    FormBinder::Fill how;
    how.previous = previous_record;
    how.units_unread = from_unit && session.shownUnread(UNITS_VALUE_INDEX);
    how.registration_unread = from_unit && registrationShownUnread();
    how.edit = [this](settings_struct_index index, uint32_t value) {
        updateConfigValueLocal(index, value);
    };
    // A copy: shown as edits, the handlers write into the record while the form is filled.
    const FormBinder::Filled filled = form->fill(Settings_t(session.record()), how);
    if (filled.registration_shown && !filled.split.text.empty()) {
        qDebug() << "Created string:" << QString::fromLatin1(filled.split.text.c_str());
        qDebug() << "Found prefix:" << QString::fromLatin1(filled.split.prefix.c_str());
    }
    refreshPreview();
}

bool MainWindow::registrationShownUnread() const {
    for (const settings_struct_index index : REGISTRATION_WORDS) {
        if (session.shownUnread(index)) {
            return true;
        }
    }
    return false;
}

void MainWindow::updateConfigFromUI() {
    session.replaceRecord(form->readBack(session.record()));
}

void MainWindow::onUnitsChanged() {
    updateConfigValueLocal(UNITS_VALUE_INDEX,
                           layUnitChoices(session.record().units, form->unitChoices()).units_value);
}

// ---- device configuration flows ---------------------------------------------

void MainWindow::loadConfigFromDevice() {
    const EditStateRefresh refresh{this};
    if (!isConnected(comms)) {
        qDebug() << NOT_CONNECTED_LOG;
        ui->statusbar->showMessage(NOT_CONNECTED_STATUS, 0);
        return;
    }

    const LoadResult result = session.load(comms);
    for (const int i : result.unread_fields) {
        qDebug() << "Warning: Failed to read value for index" << i << ", setting to 0";
    }
    switch (result.outcome) {
    case LoadOutcome::NotConnected:
        return;
    case LoadOutcome::HeaderUnread: {
        // The form keeps what it shows.
        const HeaderWordText text = headerWordText(result.header);
        qDebug() << text.log;
        ui->statusbar->showMessage(text.status, 0);
        return;
    }
    case LoadOutcome::FieldRejected:
        qDebug() << "Error setting value for index" << result.rejected_field;
        ui->statusbar->showMessage("Error: Failed to process configuration data", 0);
        return;
    case LoadOutcome::Loaded:
        break;
    }

    if (!result.crc_matches && !result.erased) {
        qDebug() << "CRC mismatch: Calculated =" << QString::number(result.calculated_crc, 16)
                 << "Stored=" << QString::number(session.unitChecksum(), 16);
        ui->statusbar->showMessage("Warning: Configuration CRC verification failed", 0);
    }

    updateUIFromConfig();
    record_loaded = true;
    record_crc_matches = result.crc_matches;

    // A mismatch stays on the status bar: the values shown are not what the unit stored.
    if (result.erased) {
        // Not a failure: the unit holds no record, and a save writes one.
        qDebug() << "The unit's settings record is erased";
        ui->statusbar->showMessage(QString::fromLatin1(ERASED_RECORD_TEXT), 0);
    } else if (result.crc_matches) {
        ui->statusbar->showMessage("Configuration successfully loaded from device", 0);
    }
}

void MainWindow::onLoadClicked() {
    if (!isConnected(comms) || mayLoseEdits(EditLoss::Load)) {
        loadConfigFromDevice();
    }
}

void MainWindow::onUpdateClicked() {
    const EditStateRefresh refresh{this};
    if (!isConnected(comms)) {
        qDebug() << NOT_CONNECTED_LOG;
        ui->statusbar->showMessage(NOT_CONNECTED_STATUS, 0);
        return;
    }
    if (!session.hasUnsentEdits()) {
        ui->statusbar->showMessage("No changes to send", 0);
        return;
    }
    if (!settingsProblemsAccepted(session.record())) {
        ui->statusbar->showMessage(tr("Update cancelled: nothing sent"), 0);
        return;
    }

    const SendResult result = session.sendEdits(comms, form->unitChoices());
    for (const int index : result.failed) {
        qDebug() << "Failed to send value for index" << index;
    }
    const int success_count = static_cast<int>(result.sent.size());
    const int fail_count = static_cast<int>(result.failed.size());
    if (fail_count > 0) {
        ui->statusbar->showMessage(
            QString("Sent %1 value(s), %2 failed").arg(success_count).arg(fail_count), 0);
    } else {
        ui->statusbar->showMessage(
            QString("Successfully sent %1 configuration value(s) to device").arg(success_count), 0);
    }
}

void MainWindow::onSaveClicked() {
    const EditStateRefresh refresh{this};
    if (!isConnected(comms)) {
        qDebug() << NOT_CONNECTED_LOG;
        ui->statusbar->showMessage(NOT_CONNECTED_STATUS, 0);
        return;
    }
    if (!settingsProblemsAccepted(formRecord())) {
        ui->statusbar->showMessage(tr("Save cancelled: nothing sent"), 0);
        return;
    }

    const Settings_t before = session.record();
    updateConfigFromUI();

    const SaveResult result = session.save(comms, before, form->unitChoices(), store_settings);
    switch (result.outcome) {
    case SaveOutcome::Unread:
        for (const int index : result.unread) {
            qDebug() << "Failed to read value for index" << index;
        }
        ui->statusbar->showMessage(
            QString("Error: %1 value(s) could not be read; settings not saved")
                .arg(result.unread.size()),
            0);
        return;
    case SaveOutcome::SendFailed:
        for (const int index : result.failed) {
            qDebug() << "Failed to send value for index" << index;
        }
        ui->statusbar->showMessage(
            QString("Error: %1 value(s) could not be sent; settings not saved")
                .arg(result.failed.size()),
            0);
        return;
    case SaveOutcome::HeaderUnread: {
        const HeaderWordText text = headerWordText(result.header);
        qDebug() << text.log;
        ui->statusbar->showMessage(text.status, 0);
        return;
    }
    case SaveOutcome::StoreFailed:
        qDebug() << "Error storing configuration to EEPROM";
        ui->statusbar->showMessage("Error: Failed to store configuration to EEPROM", 0);
        return;
    case SaveOutcome::Saved:
        break;
    }

    updateUIFromConfig();
    ui->statusbar->showMessage("Configuration saved to EEPROM successfully", 0);
}

int store_settings(CommsManager *comms, uint32_t crc) {
    const StoreResult result = store_settings_exchange(comms, crc);
    switch (result.outcome) {
    case StoreOutcome::NotConnected:
        return -1;
    case StoreOutcome::SendFailed:
        qDebug() << "Failed to send store command";
        return -1;
    case StoreOutcome::EraseTimeout:
        qDebug() << "Timeout waiting for erase status frame";
        return -1;
    case StoreOutcome::EraseFailed:
        qDebug() << "Flash erase failed";
        return -1;
    case StoreOutcome::UnexpectedErase:
        qDebug() << "Unexpected erase status frame, CAN ID:" << QString::number(result.can_id, 16);
        return -1;
    case StoreOutcome::AckTimeout:
    case StoreOutcome::UnexpectedAck:
    case StoreOutcome::Stored:
        break;
    }
    qDebug() << "Flash erase succeeded";
    if (result.outcome == StoreOutcome::AckTimeout) {
        qDebug() << "Timeout waiting for ACK/NACK frame";
        return -1;
    }
    if (result.outcome == StoreOutcome::UnexpectedAck) {
        qDebug() << "Unexpected ACK/NACK frame, CAN ID:" << QString::number(result.can_id, 16);
        return -1;
    }
    qDebug() << "Received ACK/NACK frame";
    return 0;
}

// ---- field edit handlers ----------------------------------------------------

void MainWindow::updateConfigValueLocal(settings_struct_index index, uint32_t value) {
    // A successful edit tells the session's listeners: the marks and the preview follow.
    if (!session.edit(index, value)) {
        qDebug() << "Error setting value for index" << static_cast<int>(index);
    }
}

void MainWindow::onVminChanged(int value) {
    updateConfigValueLocal(VMIN_INDEX, static_cast<uint32_t>(value));
}
void MainWindow::onVs0Changed(int value) {
    updateConfigValueLocal(VS0_INDEX, static_cast<uint32_t>(value));
}
void MainWindow::onVs1Changed(int value) {
    updateConfigValueLocal(VS1_INDEX, static_cast<uint32_t>(value));
}
void MainWindow::onVfeChanged(int value) {
    updateConfigValueLocal(VFE_INDEX, static_cast<uint32_t>(value));
}
void MainWindow::onVn0Changed(int value) {
    updateConfigValueLocal(VN0_INDEX, static_cast<uint32_t>(value));
}
void MainWindow::onVneChanged(int value) {
    updateConfigValueLocal(VNE_INDEX, static_cast<uint32_t>(value));
}
void MainWindow::onVrefChanged(int value) {
    updateConfigValueLocal(APPROACHSPEED_INDEX, static_cast<uint32_t>(value));
}
void MainWindow::onVloChanged(int value) {
    updateConfigValueLocal(VLO_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onMinVoltChanged(double value) {
    updateConfigValueLocal(MIN_VOLTS_INDEX, codecs::tenthsFromVolts(value));
}
void MainWindow::onMaxVoltChanged(double value) {
    updateConfigValueLocal(MAX_VOLTS_INDEX, codecs::tenthsFromVolts(value));
}
void MainWindow::onMinVoltAlertChanged(double value) {
    updateConfigValueLocal(MIN_VOLTS_ALERT_INDEX, codecs::tenthsFromVolts(value));
}
void MainWindow::onMaxVoltAlertChanged(double value) {
    updateConfigValueLocal(MAX_VOLTS_ALERT_INDEX, codecs::tenthsFromVolts(value));
}

void MainWindow::onBacklightBrightnessChanged(int value) {
    updateConfigValueLocal(BACKLIGHT_BRIGHTNESS_INDEX, static_cast<uint32_t>(value));
}
void MainWindow::onTextBgAlphaChanged(int value) {
    updateConfigValueLocal(TEXT_BG_ALPHA_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onRollCorrectionChanged(double value) {
    const uint32_t value_as_uint32 = codecs::angleBits(value);
    updateConfigValueLocal(ROLL_CORRECTION_INDEX, value_as_uint32);
}
void MainWindow::onPitchCorrectionChanged(double value) {
    const uint32_t value_as_uint32 = codecs::angleBits(value);
    updateConfigValueLocal(PITCH_CORRECTION_INDEX, value_as_uint32);
}

void MainWindow::onRegistrationChanged() {
    // With the unit's registration unread, a prefix chosen over an empty box is no new
    // registration: nothing to send, and Save keeps the unit's.
    if (registrationShownUnread() && !anyRegistrationWordIn(session.edits()) &&
        ui->text_registration_num->toPlainText().isEmpty()) {
        return;
    }
    const std::array<uint32_t, 3> words = form->takeRegistration();
    updateConfigValueLocal(REGISTRATION_1_INDEX, words[0]);
    updateConfigValueLocal(REGISTRATION_2_INDEX, words[1]);
    updateConfigValueLocal(REGISTRATION_3_INDEX, words[2]);
}

// The pickers open the colour dialog on the field's colour; the button then shows the choice.
void MainWindow::onSkyColorPickerClicked() {
    if (form->pickColour(this, SKY_COLOR_0_INDEX, session.record().sky_color[0])) {
        onSkyColor0Changed();
    }
}
void MainWindow::onSkyColor1PickerClicked() {
    if (form->pickColour(this, SKY_COLOR_1_INDEX, session.record().sky_color[1])) {
        onSkyColor1Changed();
    }
}
void MainWindow::onGroundColorPickerClicked() {
    if (form->pickColour(this, GROUND_COLOR_0_INDEX, session.record().ground_color[0])) {
        onGroundColor0Changed();
    }
}
void MainWindow::onGroundColor1PickerClicked() {
    if (form->pickColour(this, GROUND_COLOR_1_INDEX, session.record().ground_color[1])) {
        onGroundColor1Changed();
    }
}
void MainWindow::onApproachIndiColorPickerClicked() {
    if (form->pickColour(this, APPROACH_COLOR_INDEX, session.record().vref_indi_color)) {
        onApproachIndiColorChanged();
    }
}
void MainWindow::onAirplaneColorPickerClicked() {
    if (form->pickColour(this, AIRPLANE_COLOR_INDEX, session.record().airplane_color)) {
        onAirplaneColorChanged();
    }
}
void MainWindow::onGreenArcColorPickerClicked() {
    if (form->pickColour(this, GREEN_ARC_COLOR_INDEX, session.record().green_arc_color)) {
        onGreenArcColorChanged();
    }
}
void MainWindow::onYellowArcColorPickerClicked() {
    if (form->pickColour(this, YELLOW_ARC_COLOR_INDEX, session.record().yellow_arc_color)) {
        onYellowArcColorChanged();
    }
}
void MainWindow::onRedArcColorPickerClicked() {
    if (form->pickColour(this, RED_ARC_COLOR_INDEX, session.record().red_arc_color)) {
        onRedArcColorChanged();
    }
}
void MainWindow::onGearIndiColorPickerClicked() {
    if (form->pickColour(this, GEAR_INDI_COLOR_INDEX, session.record().gear_indi_color)) {
        onGearIndiColorChanged();
    }
}

// The colour handlers take the colour the field's button holds.
void MainWindow::takeColour(settings_struct_index index) {
    uint32_t colorValue = 0;
    if (form->colour(index, &colorValue)) {
        updateConfigValueLocal(index, colorValue);
    }
}
void MainWindow::onSkyColor0Changed() {
    takeColour(SKY_COLOR_0_INDEX);
}
void MainWindow::onSkyColor1Changed() {
    takeColour(SKY_COLOR_1_INDEX);
}
void MainWindow::onGroundColor0Changed() {
    takeColour(GROUND_COLOR_0_INDEX);
}
void MainWindow::onGroundColor1Changed() {
    takeColour(GROUND_COLOR_1_INDEX);
}
void MainWindow::onApproachIndiColorChanged() {
    takeColour(APPROACH_COLOR_INDEX);
}
void MainWindow::onAirplaneColorChanged() {
    takeColour(AIRPLANE_COLOR_INDEX);
}
void MainWindow::onGreenArcColorChanged() {
    takeColour(GREEN_ARC_COLOR_INDEX);
}
void MainWindow::onYellowArcColorChanged() {
    takeColour(YELLOW_ARC_COLOR_INDEX);
}
void MainWindow::onRedArcColorChanged() {
    takeColour(RED_ARC_COLOR_INDEX);
}
void MainWindow::onGearIndiColorChanged() {
    takeColour(GEAR_INDI_COLOR_INDEX);
}

// ---- firmware tab and reboot ------------------------------------------------

void MainWindow::setUpUpdatePage() {
    UpdatePage::Window page;
    page.widget = this;
    page.ui = ui;
    page.connection = connection;
    page.session = &session;
    page.load = [this] { loadConfigFromDevice(); };
    page.reboot = [this] { onRebootClicked(); };
    page.mayStart = [this] { return mayLoseEdits(EditLoss::FirmwareUpdate); };
    page.progress = [this](uint32_t current, uint32_t total, int phase) {
        fw_progress_callback(current, total, phase, this);
    };
    page.restore = [this](const update_job::RestorePlan &plan) {
        // The backup's words where the unit differs, as edits only: the person's Save stores
        // them, as every other edit, after the marks have shown what it will store.
        for (const settings_struct_index index : plan.fields) {
            session.edit(index, settings_get_value(&plan.target, index));
        }
        updateUIFromConfig();
    };
    update_page = new UpdatePage(page, this);
    update_page->setObjectName("updatePage");
}

void MainWindow::onBrowseClicked() {
    const QString path = update_page->chooseImage();
    if (!path.isEmpty()) {
        firmwareFilePath = path;
    }
}

void MainWindow::onStartUpdateClicked() {
    outcome::Result result = outcome::Result::NoFileChosen;
    const outcome::Words ready = update_page->prepare(firmwareFilePath, &result);
    if (!ready.status.isEmpty()) {
        ui->statusbar->showMessage(ready.status, 0);
    }
    if (!ready.log.isEmpty()) {
        qDebug().noquote() << ready.log;
    }
    if (result != outcome::Result::UpdateStarted) {
        return;
    }
    const outcome::Words done = update_page->runTransfer(&result);
    ui->statusbar->showMessage(done.status, 0);
    if (!done.log.isEmpty()) {
        qDebug().noquote() << done.log;
    }
    qDebug() << "Firmware update process finished";
    if (update_page->finish(result)) {
        close();
    }
}

void MainWindow::updateFirmwareProgress(uint32_t current, uint32_t total, int phase) {
    ui->progressBar_firmware->setValue(TransferMeter::percent(current, total));
    if (phase == 0) {
        ui->statusbar->showMessage(QString("Erasing: %1 / %2 blocks").arg(current).arg(total), 0);
    } else if (phase == 1) {
        ui->statusbar->showMessage(QString("Uploading: %1 / %2 bytes").arg(current).arg(total), 0);
    }
    if (update_page->running()) {
        update_page->follow(current, total, phase);
    }
}

void MainWindow::closeEvent(QCloseEvent *event) {
    if (!update_page->running() && !mayLoseEdits(EditLoss::Close)) {
        event->ignore();
        return;
    }
    if (update_page->running()) {
        event->ignore();
        qDebug() << "Close refused: firmware update running";
        update_page->closeRefused();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::onRebootClicked() {
    const EditStateRefresh refresh{this};
    if (!isConnected(comms)) {
        qDebug() << NOT_CONNECTED_LOG;
        ui->statusbar->showMessage(NOT_CONNECTED_STATUS, 0);
        return;
    }
    // After an update that did not complete, the unit may not start again.
    if (update_page != nullptr && !update_page->mayReboot()) {
        return;
    }
    if (!mayLoseEdits(EditLoss::Reboot)) {
        return;
    }

    if (!reboot_unit(comms)) {
        qDebug() << "Failed to send reboot command";
        ui->statusbar->showMessage("Error: Failed to send reboot command", 0);
    } else {
        qDebug() << "Reboot command sent successfully";
        ui->statusbar->showMessage("Reboot command sent to device", 0);
        if (update_page != nullptr) {
            update_page->rebootSent(); // after an update: waits for the unit, then compares
        }
        session.unitRestarted();
        // The unit restarts and leaves the bus: the open interface leads nowhere now. The poll
        // finds the unit again when it is back.
        connection->release();
    }
}

// ---- the unit's connection ----------------------------------------------------

void MainWindow::setUpDeviceMenu() {
    DeviceMenu::Window menu;
    menu.widget = this;
    menu.ui = ui;
    menu.updateRunning = [this] { return update_page != nullptr && update_page->running(); };
    menu.mayLoseEditsToOtherUnit = [this] { return mayLoseEdits(EditLoss::OtherUnit); };
    menu.mayLoseEditsToReconnect = [this] { return mayLoseEdits(EditLoss::Reconnect); };
    menu.session = &session;
    menu.load = [this] { loadConfigFromDevice(); };
    menu.record = [this]() -> std::optional<unit_info::Facts::Record> {
        if (!record_loaded) {
            return std::nullopt;
        }
        unit_info::Facts::Record record;
        record.header = session.record();
        record.checksum = session.unitChecksum();
        record.crc_matches = record_crc_matches;
        return record;
    };
    menu.awaitingReturn = [this] { return update_page->awaitingReturn(); };
    menu.lookForReturn = [this] { return update_page->lookForReturn(); };
    menu.unitBack = [this](const unit_locator::Look &look) { update_page->unitBack(look); };
    device_menu = new DeviceMenu(menu, this);
    device_menu->setObjectName("deviceMenu");
    connection = device_menu->connection();
    comms = connection->comms();
}

bool MainWindow::openUnit() {
    return device_menu->open();
}

void MainWindow::showConnection(bool connected) {
    device_menu->showConnection(connected);
}

void MainWindow::watchForUnit() {
    device_menu->watch();
}

void MainWindow::pollForUnit() {
    device_menu->pollForUnit();
}
