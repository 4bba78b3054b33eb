#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QDebug>
#include <QMenu>
#include <QMenuBar>
#include <QThread>
#include <QVBoxLayout>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "codecs.h"
#include "fitting_form.h"
#include "flow_words.h"
#include "form_binder.h"
#include "form_values_note.h"
#include "get_set.h"
#include "log_capture.h"
#include "log_panel.h"
#include "outcome.h"
#include "preview_dock.h"
#include "registration_prefix.h"
#include "settings_file_actions.h"
#include "transfer_meter.h"
#include "device_menu.h"
#include "update_page.h"

void customMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg) {
    const QByteArray localMsg = msg.toLocal8Bit();
    const char *file = context.file ? context.file : "";
    const char *function = context.function ? context.function : "";
    const unsigned line = static_cast<unsigned>(context.line);
    // By Qt's numbering of the message types; any other type writes nothing.
    static const char *const LEVELS[] = {"Debug", "Warning", "Critical", "Fatal", "Info"};
    static_assert(QtDebugMsg == 0 && QtWarningMsg == 1 && QtCriticalMsg == 2 && QtFatalMsg == 3 &&
                  QtInfoMsg == 4);
    const int kind = static_cast<int>(type);
    const char *level = kind >= 0 && kind <= 4 ? LEVELS[kind] : nullptr;
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

const outcome::Words NOT_CONNECTED = outcome::words(outcome::Result::NoConnection);

bool isConnected(const CommsManager *comms) {
    return comms != nullptr && comms->isConnected();
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

    // Every widget signal to its slot; the ten colour handlers have none (their pickers call them).
    using Slot = void (MainWindow::*)();
    const std::pair<QPushButton *, Slot> clicks[] = {
        {ui->pushButton_browse, &MainWindow::onBrowseClicked},
        {ui->pushButton_start_update, &MainWindow::onStartUpdateClicked},
        {ui->pushButton_save, &MainWindow::onSaveClicked},
        {ui->pushButton_load, &MainWindow::onLoadClicked},
        {ui->color_picker_sky0, &MainWindow::onSkyColorPickerClicked},
        {ui->color_picker_sky1, &MainWindow::onSkyColor1PickerClicked},
        {ui->color_picker_ground0, &MainWindow::onGroundColorPickerClicked},
        {ui->color_picker_ground1, &MainWindow::onGroundColor1PickerClicked},
        {ui->color_picker_app_indi, &MainWindow::onApproachIndiColorPickerClicked},
        {ui->color_picker_airplane, &MainWindow::onAirplaneColorPickerClicked},
        {ui->color_picker_green, &MainWindow::onGreenArcColorPickerClicked},
        {ui->color_picker_yellow, &MainWindow::onYellowArcColorPickerClicked},
        {ui->color_picker_red, &MainWindow::onRedArcColorPickerClicked},
        {ui->color_picker_gear, &MainWindow::onGearIndiColorPickerClicked}};
    for (const auto &[button, slot] : clicks) {
        connect(button, &QPushButton::clicked, this, slot);
    }
    for (QRadioButton *unit : {ui->radioButton_mph, ui->radioButton_kph, ui->radioButton_knots,
                               ui->radioButton_feet, ui->radioButton_meter, ui->radioButton_degF,
                               ui->radioButton_degC, ui->radioButton_inhg, ui->radioButton_mbar}) {
        connect(unit, &QRadioButton::toggled, this, &MainWindow::onUnitsChanged);
    }
    const std::pair<QSpinBox *, void (MainWindow::*)(int)> speeds[] = {
        {ui->spinBox_vmin, &MainWindow::onVminChanged},
        {ui->spinBox_vs0, &MainWindow::onVs0Changed},
        {ui->spinBox_vs1, &MainWindow::onVs1Changed},
        {ui->spinBox_vfe, &MainWindow::onVfeChanged},
        {ui->spinBox_vn0, &MainWindow::onVn0Changed},
        {ui->spinBox_vne, &MainWindow::onVneChanged},
        {ui->spinBox_vref, &MainWindow::onVrefChanged},
        {ui->spinBox_vlo, &MainWindow::onVloChanged}};
    for (const auto &[box, slot] : speeds) {
        connect(box, &QSpinBox::valueChanged, this, slot);
    }
    const std::pair<QDoubleSpinBox *, void (MainWindow::*)(double)> decimals[] = {
        {ui->min_volt_warn_value, &MainWindow::onMinVoltChanged},
        {ui->max_volt_warn_value, &MainWindow::onMaxVoltChanged},
        {ui->min_volt_alert_value, &MainWindow::onMinVoltAlertChanged},
        {ui->max_volt_alert_value, &MainWindow::onMaxVoltAlertChanged},
        {ui->roll_corr_spinbox, &MainWindow::onRollCorrectionChanged},
        {ui->pitch_corr_spinbox, &MainWindow::onPitchCorrectionChanged}};
    for (const auto &[box, slot] : decimals) {
        connect(box, &QDoubleSpinBox::valueChanged, this, slot);
    }
    connect(ui->comboBox_reg_prefix, &QComboBox::currentTextChanged, this,
            &MainWindow::onRegistrationChanged);
    connect(ui->text_registration_num, &QPlainTextEdit::textChanged, this,
            &MainWindow::onRegistrationChanged);
    connect(ui->backlight_slider, &QSlider::valueChanged, this,
            &MainWindow::onBacklightBrightnessChanged);
    connect(ui->text_bg_alpha_slider, &QSlider::valueChanged, this,
            &MainWindow::onTextBgAlphaChanged);
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
    values_note = new FormValuesNote(findChild<QWidget *>("windowBody"),
                                     findChild<QVBoxLayout *>("windowBodyLayout"), ui->tabWidget,
                                     ui->tab, session, connection);
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

    if (!device_menu->open()) {
        qDebug() << "Failed to establish connection via USB HID or CAN FD";
        device_menu->showConnection(false);
        device_menu->watch();
        return;
    }
    device_menu->showConnection(true);
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

void MainWindow::showStatus(const QString &text) {
    if (!text.isEmpty()) {
        ui->statusbar->showMessage(text, 0);
    }
}

bool MainWindow::mayLoseEdits(EditLoss loss) {
    return edit_guard->mayLose(loss);
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
    values_note->fileShown();
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
    const uint32_t units = layUnitChoices(session.record().units, form->unitChoices()).units_value;
    // Shown as edits (an import), the record already holds the new units and its V-speeds.
    if (previous_record == nullptr) {
        // One click toggles two buttons: the second finds nothing left to change.
        if (units == session.record().units.units_value) {
            return;
        }
        const FormBinder::SpeedUnitChange change =
            form->changeSpeedUnit(this, session.record(), units);
        showStatus(change.status);
        if (!change.go_on) {
            return;
        }
    }
    updateConfigValueLocal(UNITS_VALUE_INDEX, units);
}

// ---- device configuration flows ---------------------------------------------

void MainWindow::loadConfigFromDevice() {
    const EditStateRefresh refresh{this};
    if (!isConnected(comms)) {
        qDebug().noquote() << NOT_CONNECTED.log;
        ui->statusbar->showMessage(NOT_CONNECTED.status, 0);
        return;
    }

    const LoadResult result = session.load(comms);
    const flow_words::Said said = flow_words::load(result, session.unitChecksum());
    for (const QString &line : said.log) {
        qDebug().noquote() << line;
    }
    if (result.outcome == LoadOutcome::Loaded) {
        updateUIFromConfig();
    }
    showStatus(said.status);
}

void MainWindow::onLoadClicked() {
    if (!isConnected(comms) || mayLoseEdits(EditLoss::Load)) {
        loadConfigFromDevice();
    }
}

void MainWindow::onUpdateClicked() {
    const EditStateRefresh refresh{this};
    if (!isConnected(comms)) {
        qDebug().noquote() << NOT_CONNECTED.log;
        ui->statusbar->showMessage(NOT_CONNECTED.status, 0);
        return;
    }
    if (!session.hasUnsentEdits()) {
        ui->statusbar->showMessage("No changes to send", 0);
        return;
    }
    if (!edit_guard->problemsAccepted(session.record())) {
        ui->statusbar->showMessage(tr("Update cancelled: nothing sent"), 0);
        return;
    }

    const flow_words::Said said = flow_words::send(session.sendEdits(comms, form->unitChoices()));
    for (const QString &line : said.log) {
        qDebug().noquote() << line;
    }
    showStatus(said.status);
}

void MainWindow::onSaveClicked() {
    const EditStateRefresh refresh{this};
    if (!isConnected(comms)) {
        qDebug().noquote() << NOT_CONNECTED.log;
        ui->statusbar->showMessage(NOT_CONNECTED.status, 0);
        return;
    }
    if (!edit_guard->problemsAccepted(formRecord())) {
        ui->statusbar->showMessage(tr("Save cancelled: nothing sent"), 0);
        return;
    }

    const Settings_t before = session.record();
    updateConfigFromUI();

    const SaveResult result = session.save(comms, before, form->unitChoices(), store_settings);
    const flow_words::Said said = flow_words::save(result);
    for (const QString &line : said.log) {
        qDebug().noquote() << line;
    }
    if (result.outcome == SaveOutcome::Saved) {
        updateUIFromConfig();
    }
    showStatus(said.status);
}

int store_settings(CommsManager *comms, uint32_t crc) {
    const StoreResult result = store_settings_exchange(comms, crc);
    for (const QString &line : flow_words::store(result)) {
        qDebug().noquote() << line;
    }
    return result.outcome == StoreOutcome::Stored ? 0 : -1;
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
    QString refused;
    const std::array<uint32_t, 3> words = form->takeRegistration(&refused);
    showStatus(refused);
    updateConfigValueLocal(REGISTRATION_1_INDEX, words[0]);
    updateConfigValueLocal(REGISTRATION_2_INDEX, words[1]);
    updateConfigValueLocal(REGISTRATION_3_INDEX, words[2]);
}

// The pickers open the colour dialog on the field's colour; the button then shows the choice,
// and the field's colour handler takes it.
void MainWindow::pickColour(settings_struct_index index, void (MainWindow::*handler)()) {
    if (form->pickColour(this, index, settings_get_value(&session.record(), index))) {
        (this->*handler)();
    }
}
void MainWindow::onSkyColorPickerClicked() {
    pickColour(SKY_COLOR_0_INDEX, &MainWindow::onSkyColor0Changed);
}
void MainWindow::onSkyColor1PickerClicked() {
    pickColour(SKY_COLOR_1_INDEX, &MainWindow::onSkyColor1Changed);
}
void MainWindow::onGroundColorPickerClicked() {
    pickColour(GROUND_COLOR_0_INDEX, &MainWindow::onGroundColor0Changed);
}
void MainWindow::onGroundColor1PickerClicked() {
    pickColour(GROUND_COLOR_1_INDEX, &MainWindow::onGroundColor1Changed);
}
void MainWindow::onApproachIndiColorPickerClicked() {
    pickColour(APPROACH_COLOR_INDEX, &MainWindow::onApproachIndiColorChanged);
}
void MainWindow::onAirplaneColorPickerClicked() {
    pickColour(AIRPLANE_COLOR_INDEX, &MainWindow::onAirplaneColorChanged);
}
void MainWindow::onGreenArcColorPickerClicked() {
    pickColour(GREEN_ARC_COLOR_INDEX, &MainWindow::onGreenArcColorChanged);
}
void MainWindow::onYellowArcColorPickerClicked() {
    pickColour(YELLOW_ARC_COLOR_INDEX, &MainWindow::onYellowArcColorChanged);
}
void MainWindow::onRedArcColorPickerClicked() {
    pickColour(RED_ARC_COLOR_INDEX, &MainWindow::onRedArcColorChanged);
}
void MainWindow::onGearIndiColorPickerClicked() {
    pickColour(GEAR_INDI_COLOR_INDEX, &MainWindow::onGearIndiColorChanged);
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
    showStatus(ready.status);
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
    showStatus(TransferMeter::phaseText(current, total, phase));
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
        qDebug().noquote() << NOT_CONNECTED.log;
        ui->statusbar->showMessage(NOT_CONNECTED.status, 0);
        return;
    }
    // After an update that did not complete, the unit may not start again.
    if (update_page != nullptr && !update_page->mayReboot()) {
        return;
    }
    if (!mayLoseEdits(EditLoss::Reboot)) {
        return;
    }

    const bool sent = reboot_unit(comms);
    const outcome::Words said =
        outcome::words(sent ? outcome::Result::RebootSent : outcome::Result::RebootFailed);
    qDebug().noquote() << said.log;
    ui->statusbar->showMessage(said.status, 0);
    if (sent) {
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
    menu.awaitingReturn = [this] { return update_page->awaitingReturn(); };
    menu.lookForReturn = [this] { return update_page->lookForReturn(); };
    menu.unitBack = [this](const unit_locator::Look &look) { update_page->unitBack(look); };
    device_menu = new DeviceMenu(menu, this);
    device_menu->setObjectName("deviceMenu");
    connection = device_menu->connection();
    comms = connection->comms();
}
