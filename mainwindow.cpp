#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QColor>
#include <QColorDialog>
#include <QDebug>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QThread>
#include <QTimer>

#include <array>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "firmware_ops.h"
#include "fitting_form.h"
#include "form_binding.h"
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
const char *const STYLE_SHEET_FORMAT = "background-color: %1;";
const char *const STYLE_SHEET_COLOUR = "background-color: #([0-9a-fA-F]{6});";

const char *const REGISTRATION_LIMIT =
    "The registration after its prefix: letters and digits, at most 11 characters with the "
    "prefix";
const char *const REGISTRATION_UNREAD =
    "The registration could not be read from the unit; Save keeps the unit's registration "
    "unless you type a new one";

bool isConnected(const CommsManager *comms) {
    return comms != nullptr && comms->isConnected();
}

// The opaque colour of a colour word; its top byte is ignored.
QColor colourOf(uint32_t word) {
    return QColor(static_cast<QRgb>(word & 0x00FFFFFFu));
}

// The style sheet that shows a colour word as a button's background.
QString colourStyleSheet(uint32_t word) {
    return QString(STYLE_SHEET_FORMAT).arg(colourOf(word).name());
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

// The colour word (0xFFRRGGBB) a button's style sheet shows; false when it shows none.
bool colourFromStyleSheet(const QString &styleSheet, uint32_t *word) {
    static const QRegularExpression expression(STYLE_SHEET_COLOUR);
    const QRegularExpressionMatch match = expression.match(styleSheet);
    if (!match.hasMatch()) {
        return false;
    }
    *word = match.captured(1).toUInt(nullptr, 16) | 0xFF000000u;
    return true;
}

// Lets the user choose a colour, starting from the colour word `current` and offering `preset`
// in custom colour slot 1. On a choice the button's style sheet shows it; false when cancelled.
bool pickColour(QWidget *parent, QPushButton *button, const char *title, const QColor &preset,
                uint32_t current) {
    QColorDialog::setCustomColor(1, preset);
    const QColor color = QColorDialog::getColor(colourOf(current), parent, title);
    if (!color.isValid()) {
        return false;
    }
    button->setStyleSheet(colourStyleSheet(color.rgb()));
    return true;
}

// Voltages are kept in tenths of a volt.
uint32_t tenthsOfVolt(double volts) {
    return static_cast<uint32_t>(static_cast<int>(volts * 10.0));
}

// The bit pattern of a correction angle as a single-precision float.
uint32_t floatBits(double value) {
    const float narrowed = static_cast<float>(value);
    uint32_t bits = 0;
    std::memcpy(&bits, &narrowed, sizeof(bits));
    return bits;
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
    ui->text_registration_num->setToolTip(tr(REGISTRATION_LIMIT));

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
    const Settings_t kept = session.record();
    updateConfigFromUI();
    const Settings_t form = session.record();
    session.record() = kept;
    return form;
}

void MainWindow::showAsEdits(const Settings_t &record) {
    const Settings_t previous = session.record();
    session.record() = record;
    previous_record = &previous;
    updateUIFromConfig();
    previous_record = nullptr;
}

void MainWindow::updateUIFromConfig() {
    const bool from_unit = previous_record == nullptr;
    // A copy: shown as edits, the handlers write into the record while the form is filled.
    const Settings_t record = session.record();
    QWidget *const blocked[] = {
        ui->radioButton_mph,       ui->radioButton_kph,      ui->radioButton_knots,
        ui->radioButton_feet,      ui->radioButton_meter,    ui->radioButton_degF,
        ui->radioButton_degC,      ui->radioButton_inhg,     ui->radioButton_mbar,
        ui->spinBox_vmin,          ui->spinBox_vs0,          ui->spinBox_vs1,
        ui->spinBox_vfe,           ui->spinBox_vn0,          ui->spinBox_vne,
        ui->spinBox_vref,          ui->spinBox_vlo,          ui->min_volt_warn_value,
        ui->max_volt_warn_value,   ui->min_volt_alert_value, ui->max_volt_alert_value,
        ui->text_registration_num, ui->comboBox_reg_prefix,  ui->backlight_slider,
        ui->text_bg_alpha_slider,  ui->roll_corr_spinbox,    ui->pitch_corr_spinbox};
    // Shown from the unit, the form reaches no edit handler; shown as edits (an imported
    // file), every change goes through its handler, which marks the field.
    for (QWidget *w : blocked) {
        w->blockSignals(from_unit);
    }

    for (const auto &colour : colourButtons()) {
        const uint32_t word = settings_get_value(&record, colour.second);
        if (from_unit || word != settings_get_value(previous_record, colour.second)) {
            colour.first->setStyleSheet(colourStyleSheet(word));
            if (!from_unit) {
                takeColourFrom(colour.first, colour.second);
            }
        }
    }

    if (from_unit && session.shownUnread(UNITS_VALUE_INDEX)) {
        // The unit's choices are not known: show none chosen rather than the last ones shown.
        for (QRadioButton *radio : unitRadioButtons()) {
            radio->setAutoExclusive(false);
            radio->setChecked(false);
            radio->setAutoExclusive(true);
        }
    } else {
        const unit_bits_t &bits = record.units.bits;
        ui->radioButton_mph->setChecked(bits.is_mph);
        ui->radioButton_kph->setChecked(bits.is_kph);
        ui->radioButton_knots->setChecked(bits.is_knots);
        ui->radioButton_feet->setChecked(bits.is_feet);
        ui->radioButton_meter->setChecked(bits.is_meters);
        ui->radioButton_degF->setChecked(bits.is_fahrenheit);
        ui->radioButton_degC->setChecked(bits.is_celsius);
        ui->radioButton_inhg->setChecked(bits.is_inhg);
        ui->radioButton_mbar->setChecked(bits.is_mbar);
    }

    ui->spinBox_vmin->setValue(record.vspeeds.Vmin);
    ui->spinBox_vs0->setValue(record.vspeeds.Vs0);
    ui->spinBox_vs1->setValue(record.vspeeds.Vs1);
    ui->spinBox_vfe->setValue(record.vspeeds.Vfe);
    ui->spinBox_vn0->setValue(record.vspeeds.Vn0);
    ui->spinBox_vne->setValue(record.vspeeds.Vne);
    ui->spinBox_vref->setValue(record.vspeeds.VRef);
    ui->spinBox_vlo->setValue(record.vspeeds.Vlo);

    ui->min_volt_warn_value->setValue(record.volt_warnings.min_volts / 10.0);
    ui->max_volt_warn_value->setValue(record.volt_warnings.max_volts / 10.0);
    ui->min_volt_alert_value->setValue(record.volt_alerts.min_volts / 10.0);
    ui->max_volt_alert_value->setValue(record.volt_alerts.max_volts / 10.0);

    // Registration: split the stored text into a prefix of the table and the rest. One that
    // could not be read whole is shown as unread, the prefix box as it was.
    const bool registration_unread = from_unit && registrationShownUnread();
    ui->text_registration_num->setPlaceholderText(registration_unread ? REGISTRATION_UNREAD : "");
    ui->text_registration_num->setToolTip(registration_unread ? REGISTRATION_UNREAD
                                                              : tr(REGISTRATION_LIMIT));
    if (registration_unread) {
        ui->text_registration_num->setPlainText(QString());
    } else if (!from_unit && std::memcmp(record.registration, previous_record->registration,
                                         SETTINGS_REGISTRATION_LEN) == 0) {
        // An import that leaves the registration as it is marks none of its words.
    } else {
        const form_binding::RegistrationSplit split =
            form_binding::splitRegistration(record.registration);
        if (!split.text.isEmpty()) {
            qDebug() << "Created string:" << split.text;
            qDebug() << "Found prefix:" << split.prefix;
        }
        // A registration with no prefix of the table is shown whole with none chosen.
        ui->comboBox_reg_prefix->setCurrentIndex(split.prefix_row);
        ui->text_registration_num->setPlainText(split.rest);
    }

    ui->backlight_slider->setValue(static_cast<int>(record.backlight_brightness));
    int32_t alpha = static_cast<int32_t>(record.text_bg_alpha);
    if (alpha > 254) {
        alpha = 254;
    }
    ui->text_bg_alpha_slider->setValue(alpha);
    ui->roll_corr_spinbox->setValue(static_cast<double>(record.roll_correction));
    ui->pitch_corr_spinbox->setValue(static_cast<double>(record.pitch_correction));

    for (QWidget *w : blocked) {
        w->blockSignals(false);
    }
    if (!from_unit && record.use_mag_heading != previous_record->use_mag_heading) {
        updateConfigValueLocal(USE_MAG_INDEX, record.use_mag_heading); // no widget shows it
    }
    refreshPreview();
}

std::array<std::pair<QPushButton *, settings_struct_index>, 10> MainWindow::colourButtons() const {
    return {{{ui->color_picker_sky0, SKY_COLOR_0_INDEX},
             {ui->color_picker_sky1, SKY_COLOR_1_INDEX},
             {ui->color_picker_ground0, GROUND_COLOR_0_INDEX},
             {ui->color_picker_ground1, GROUND_COLOR_1_INDEX},
             {ui->color_picker_app_indi, APPROACH_COLOR_INDEX},
             {ui->color_picker_airplane, AIRPLANE_COLOR_INDEX},
             {ui->color_picker_green, GREEN_ARC_COLOR_INDEX},
             {ui->color_picker_yellow, YELLOW_ARC_COLOR_INDEX},
             {ui->color_picker_red, RED_ARC_COLOR_INDEX},
             {ui->color_picker_gear, GEAR_INDI_COLOR_INDEX}}};
}

bool MainWindow::registrationShownUnread() const {
    for (const settings_struct_index index : REGISTRATION_WORDS) {
        if (session.shownUnread(index)) {
            return true;
        }
    }
    return false;
}

std::array<QRadioButton *, 9> MainWindow::unitRadioButtons() const {
    return {ui->radioButton_mph,  ui->radioButton_kph,   ui->radioButton_knots,
            ui->radioButton_feet, ui->radioButton_meter, ui->radioButton_degF,
            ui->radioButton_degC, ui->radioButton_inhg,  ui->radioButton_mbar};
}

UnitChoices MainWindow::unitChoicesFromForm() const {
    // The bit of each button, in the order of unitRadioButtons().
    units_t one[9] = {};
    one[0].bits.is_mph = 1;
    one[1].bits.is_kph = 1;
    one[2].bits.is_knots = 1;
    one[3].bits.is_feet = 1;
    one[4].bits.is_meters = 1;
    one[5].bits.is_fahrenheit = 1;
    one[6].bits.is_celsius = 1;
    one[7].bits.is_inhg = 1;
    one[8].bits.is_mbar = 1;
    // The groups of buttons that exclude each other: speed, altitude, temperature, pressure.
    const uint32_t groups[] = {one[0].units_value | one[1].units_value | one[2].units_value,
                               one[3].units_value | one[4].units_value,
                               one[5].units_value | one[6].units_value,
                               one[7].units_value | one[8].units_value};
    UnitChoices choices;
    const auto radios = unitRadioButtons();
    for (std::size_t i = 0; i < radios.size(); ++i) {
        if (radios[i]->isChecked()) {
            choices.bits |= one[i].units_value;
        }
    }
    // A group with no button checked is a choice the form does not show (the unit's word could
    // not be read): its bits are not the form's to set.
    for (const uint32_t group : groups) {
        if ((choices.bits & group) != 0) {
            choices.mask |= group;
        }
    }
    return choices;
}

units_t MainWindow::unitsFromForm(units_t base) const {
    return layUnitChoices(base, unitChoicesFromForm());
}

void MainWindow::updateConfigFromUI() {
    for (const auto &colour : colourButtons()) {
        uint32_t value = 0;
        if (colourFromStyleSheet(colour.first->styleSheet(), &value)) {
            settings_set_value(&session.record(), colour.second, &value);
        }
    }

    const units_t units = unitsFromForm(session.record().units);
    settings_set_value(&session.record(), UNITS_VALUE_INDEX, &units.units_value);

    const std::pair<const QSpinBox *, settings_struct_index> speeds[] = {
        {ui->spinBox_vmin, VMIN_INDEX},
        {ui->spinBox_vs0, VS0_INDEX},
        {ui->spinBox_vs1, VS1_INDEX},
        {ui->spinBox_vfe, VFE_INDEX},
        {ui->spinBox_vn0, VN0_INDEX},
        {ui->spinBox_vne, VNE_INDEX},
        {ui->spinBox_vref, APPROACHSPEED_INDEX},
        {ui->spinBox_vlo, VLO_INDEX}};
    for (const auto &speed : speeds) {
        const uint32_t value = static_cast<uint32_t>(speed.first->value());
        settings_set_value(&session.record(), speed.second, &value);
    }

    const std::pair<const QDoubleSpinBox *, settings_struct_index> volts[] = {
        {ui->min_volt_warn_value, MIN_VOLTS_INDEX},
        {ui->max_volt_warn_value, MAX_VOLTS_INDEX},
        {ui->min_volt_alert_value, MIN_VOLTS_ALERT_INDEX},
        {ui->max_volt_alert_value, MAX_VOLTS_ALERT_INDEX}};
    for (const auto &volt : volts) {
        const uint32_t value = tenthsOfVolt(volt.first->value());
        settings_set_value(&session.record(), volt.second, &value);
    }

    const std::array<uint32_t, 3> words = form_binding::joinRegistration(
        session.record().registration, ui->comboBox_reg_prefix->currentText(),
        ui->text_registration_num->toPlainText());
    settings_set_value(&session.record(), REGISTRATION_1_INDEX, &words[0]);
    settings_set_value(&session.record(), REGISTRATION_2_INDEX, &words[1]);
    settings_set_value(&session.record(), REGISTRATION_3_INDEX, &words[2]);

    const uint32_t brightness = static_cast<uint32_t>(ui->backlight_slider->value());
    settings_set_value(&session.record(), BACKLIGHT_BRIGHTNESS_INDEX, &brightness);
    const uint32_t alpha = static_cast<uint32_t>(ui->text_bg_alpha_slider->value());
    settings_set_value(&session.record(), TEXT_BG_ALPHA_INDEX, &alpha);
    const uint32_t roll = floatBits(ui->roll_corr_spinbox->value());
    settings_set_value(&session.record(), ROLL_CORRECTION_INDEX, &roll);
    const uint32_t pitch = floatBits(ui->pitch_corr_spinbox->value());
    settings_set_value(&session.record(), PITCH_CORRECTION_INDEX, &pitch);
}

void MainWindow::onUnitsChanged() {
    updateConfigValueLocal(UNITS_VALUE_INDEX, unitsFromForm(session.record().units).units_value);
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

    const SendResult result = session.sendEdits(comms, unitChoicesFromForm());
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

    const SaveResult result = session.save(comms, before, unitChoicesFromForm(), store_settings);
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
    if (session.edit(index, value)) {
        refreshPreview();
    } else {
        qDebug() << "Error setting value for index" << static_cast<int>(index);
    }
    refreshEditState();
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
    updateConfigValueLocal(MIN_VOLTS_INDEX, tenthsOfVolt(value));
}
void MainWindow::onMaxVoltChanged(double value) {
    updateConfigValueLocal(MAX_VOLTS_INDEX, tenthsOfVolt(value));
}
void MainWindow::onMinVoltAlertChanged(double value) {
    updateConfigValueLocal(MIN_VOLTS_ALERT_INDEX, tenthsOfVolt(value));
}
void MainWindow::onMaxVoltAlertChanged(double value) {
    updateConfigValueLocal(MAX_VOLTS_ALERT_INDEX, tenthsOfVolt(value));
}

void MainWindow::onBacklightBrightnessChanged(int value) {
    updateConfigValueLocal(BACKLIGHT_BRIGHTNESS_INDEX, static_cast<uint32_t>(value));
}
void MainWindow::onTextBgAlphaChanged(int value) {
    updateConfigValueLocal(TEXT_BG_ALPHA_INDEX, static_cast<uint32_t>(value));
}

void MainWindow::onRollCorrectionChanged(double value) {
    const uint32_t value_as_uint32 = floatBits(value);
    updateConfigValueLocal(ROLL_CORRECTION_INDEX, value_as_uint32);
}
void MainWindow::onPitchCorrectionChanged(double value) {
    const uint32_t value_as_uint32 = floatBits(value);
    updateConfigValueLocal(PITCH_CORRECTION_INDEX, value_as_uint32);
}

void MainWindow::keepRegistrationInput() {
    QPlainTextEdit *box = ui->text_registration_num;
    const QString typed = box->toPlainText();
    const int room = form_binding::REGISTRATION_TEXT_LEN -
                     static_cast<int>(ui->comboBox_reg_prefix->currentText().size());
    const QString kept = form_binding::registrationInput(typed, room);
    if (kept == typed) {
        return;
    }
    // The cursor stays after what it followed.
    const int position = static_cast<int>(
        form_binding::registrationInput(typed.left(box->textCursor().position()), room).size());
    const QSignalBlocker blocker(box);
    box->setPlainText(kept);
    QTextCursor cursor = box->textCursor();
    cursor.setPosition(position);
    box->setTextCursor(cursor);
}

void MainWindow::onRegistrationChanged() {
    // With the unit's registration unread, a prefix chosen over an empty box is no new
    // registration: nothing to send, and Save keeps the unit's.
    if (registrationShownUnread() && !anyRegistrationWordIn(session.edits()) &&
        ui->text_registration_num->toPlainText().isEmpty()) {
        return;
    }
    keepRegistrationInput();
    const std::array<uint32_t, 3> words = form_binding::joinRegistration(
        session.record().registration, ui->comboBox_reg_prefix->currentText(),
        ui->text_registration_num->toPlainText());
    updateConfigValueLocal(REGISTRATION_1_INDEX, words[0]);
    updateConfigValueLocal(REGISTRATION_2_INDEX, words[1]);
    updateConfigValueLocal(REGISTRATION_3_INDEX, words[2]);
}

void MainWindow::onSkyColorPickerClicked() {
    if (pickColour(this, ui->color_picker_sky0, "Select Sky Color 0", QColor(135, 206, 235),
                   session.record().sky_color[0])) {
        onSkyColor0Changed();
    }
}
void MainWindow::onSkyColor1PickerClicked() {
    if (pickColour(this, ui->color_picker_sky1, "Select Sky Color 1", QColor(135, 206, 235),
                   session.record().sky_color[1])) {
        onSkyColor1Changed();
    }
}
void MainWindow::onGroundColorPickerClicked() {
    if (pickColour(this, ui->color_picker_ground0, "Select Ground Color 0", QColor(34, 139, 34),
                   session.record().ground_color[0])) {
        onGroundColor0Changed();
    }
}
void MainWindow::onGroundColor1PickerClicked() {
    if (pickColour(this, ui->color_picker_ground1, "Select Ground Color 1", QColor(34, 139, 34),
                   session.record().ground_color[1])) {
        onGroundColor1Changed();
    }
}
void MainWindow::onApproachIndiColorPickerClicked() {
    if (pickColour(this, ui->color_picker_app_indi, "Select Approach Indicator Color",
                   QColor(255, 255, 0), session.record().vref_indi_color)) {
        onApproachIndiColorChanged();
    }
}
void MainWindow::onAirplaneColorPickerClicked() {
    if (pickColour(this, ui->color_picker_airplane, "Select Airplane Color", QColor(255, 255, 255),
                   session.record().airplane_color)) {
        onAirplaneColorChanged();
    }
}
void MainWindow::onGreenArcColorPickerClicked() {
    if (pickColour(this, ui->color_picker_green, "Select Green Arc Color", QColor(0, 255, 0),
                   session.record().green_arc_color)) {
        onGreenArcColorChanged();
    }
}
void MainWindow::onYellowArcColorPickerClicked() {
    if (pickColour(this, ui->color_picker_yellow, "Select Yellow Arc Color", QColor(255, 255, 0),
                   session.record().yellow_arc_color)) {
        onYellowArcColorChanged();
    }
}
void MainWindow::onRedArcColorPickerClicked() {
    if (pickColour(this, ui->color_picker_red, "Select Red Arc Color", QColor(255, 0, 0),
                   session.record().red_arc_color)) {
        onRedArcColorChanged();
    }
}
void MainWindow::onGearIndiColorPickerClicked() {
    if (pickColour(this, ui->color_picker_gear, "Select Gear Indicator Color",
                   QColor(255, 255, 255), session.record().gear_indi_color)) {
        onGearIndiColorChanged();
    }
}

// The colour handlers read the chosen colour back from the button's style sheet.
void MainWindow::takeColourFrom(const QPushButton *button, settings_struct_index index) {
    uint32_t colorValue = 0;
    if (colourFromStyleSheet(button->styleSheet(), &colorValue)) {
        updateConfigValueLocal(index, colorValue);
    }
}
void MainWindow::onSkyColor0Changed() {
    takeColourFrom(ui->color_picker_sky0, SKY_COLOR_0_INDEX);
}
void MainWindow::onSkyColor1Changed() {
    takeColourFrom(ui->color_picker_sky1, SKY_COLOR_1_INDEX);
}
void MainWindow::onGroundColor0Changed() {
    takeColourFrom(ui->color_picker_ground0, GROUND_COLOR_0_INDEX);
}
void MainWindow::onGroundColor1Changed() {
    takeColourFrom(ui->color_picker_ground1, GROUND_COLOR_1_INDEX);
}
void MainWindow::onApproachIndiColorChanged() {
    takeColourFrom(ui->color_picker_app_indi, APPROACH_COLOR_INDEX);
}
void MainWindow::onAirplaneColorChanged() {
    takeColourFrom(ui->color_picker_airplane, AIRPLANE_COLOR_INDEX);
}
void MainWindow::onGreenArcColorChanged() {
    takeColourFrom(ui->color_picker_green, GREEN_ARC_COLOR_INDEX);
}
void MainWindow::onYellowArcColorChanged() {
    takeColourFrom(ui->color_picker_yellow, YELLOW_ARC_COLOR_INDEX);
}
void MainWindow::onRedArcColorChanged() {
    takeColourFrom(ui->color_picker_red, RED_ARC_COLOR_INDEX);
}
void MainWindow::onGearIndiColorChanged() {
    takeColourFrom(ui->color_picker_gear, GEAR_INDI_COLOR_INDEX);
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
        ui->statusbar->showMessage(
            tr("%n value(s) of the backup are edits now - Update sends them, Save stores them",
               nullptr, static_cast<int>(plan.fields.size())),
            0);
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
    menu.hasUnsentEdits = [this] { return session.hasUnsentEdits(); };
    menu.editedFieldCount = [this] { return static_cast<int>(session.editedFieldCount()); };
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
