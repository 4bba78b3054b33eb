#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QColor>
#include <QColorDialog>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "firmware_ops.h"
#include "get_set.h"
#include "registration_prefix.h"
#include "wire.h"

Settings_t user_config = {};
uint32_t user_config_chk = 0;

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

// The record's marker of a valid settings record.
constexpr uint32_t SETTINGS_MAGIC = 0x5F57565Au;
// An erased or unreadable 32-bit word.
constexpr uint32_t NO_VALUE = 0xFFFFFFFFu;
// Characters of the registration text; byte 11 of the record is never part of it.
constexpr int REGISTRATION_TEXT_LEN = SETTINGS_REGISTRATION_LEN - 1;
// The three words that carry the registration: one text, so one value.
constexpr settings_struct_index REGISTRATION_WORDS[] = {REGISTRATION_1_INDEX, REGISTRATION_2_INDEX,
                                                        REGISTRATION_3_INDEX};
const char *const REGISTRATION_UNREAD =
    "The registration could not be read from the unit; Save keeps the unit's registration "
    "unless you type a new one";

bool anyRegistrationWordIn(const std::set<settings_struct_index> &set) {
    for (const settings_struct_index index : REGISTRATION_WORDS) {
        if (set.count(index) != 0) {
            return true;
        }
    }
    return false;
}

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

// The header words of the record as a load reads them, with what an unreadable one logs and
// shows.
struct HeaderWord {
    settings_struct_index index;
    uint32_t Settings_t::*field;
    const char *log;
    const char *status;
};
const HeaderWord CHECKSUM_WORD = {SETTINGS_CHECKSUM_INDEX, &Settings_t::crc32,
                                  "Error reading checksum value",
                                  "Error: Failed to read checksum from device"};
const HeaderWord MAGIC_WORD = {SETTINGS_MAGIC_NUM, &Settings_t::magic, "Error reading magic value",
                               "Error: Failed to read magic number from device"};
const HeaderWord VERSION_WORD = {SETTINGS_VERSION, &Settings_t::version,
                                 "Error reading memory version value",
                                 "Error: Failed to read memory version from device"};
const HeaderWord NUM_ELEMENTS_WORD = {SETTINGS_NUM_ELEMENTS, &Settings_t::num_elements,
                                      "Error reading num_elements value",
                                      "Error: Failed to read num_elements from device"};

// Every field index of the record, 0 to 30.
std::set<settings_struct_index> allFields() {
    std::set<settings_struct_index> all;
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        all.insert(static_cast<settings_struct_index>(i));
    }
    return all;
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

// Writes prefix and number into the record's registration bytes (all zero when the number is
// empty; at most 11 characters, Latin-1, "?" for anything else, byte 11 zero) and returns the
// three words that carry them, first character most significant.
std::array<uint32_t, 3> joinRegistration(char (&registration)[SETTINGS_REGISTRATION_LEN],
                                         const QString &prefix, const QString &number) {
    std::memset(registration, 0, sizeof(registration));
    if (!number.isEmpty()) {
        const QString full = (prefix + number).left(REGISTRATION_TEXT_LEN);
        for (int i = 0; i < full.size(); ++i) {
            const char16_t unit = full.at(i).unicode();
            const char byte = unit <= 0xFF ? static_cast<char>(unit) : '?';
            if (byte == '\0') {
                break;
            }
            registration[i] = byte;
        }
        registration[SETTINGS_REGISTRATION_LEN - 1] = '\0';
    }
    std::array<uint32_t, 3> words{};
    for (int g = 0; g < 3; ++g) {
        const auto byte = [&](int i) {
            return static_cast<uint32_t>(static_cast<uint8_t>(registration[4 * g + i]));
        };
        words[g] = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    }
    return words;
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
    : QMainWindow(parent), ui(new Ui::MainWindow), firmwareFilePath(), comms(nullptr),
      changed_values(), unknown_on_unit(allFields()) {
    qInstallMessageHandler(customMessageHandler);
    ui->setupUi(this);
    ui->statusbar->showMessage("Initializing...", 0);

    // The box's signals are not connected yet, so filling it reaches no slot.
    for (int i = 0; i < NUM_REGISTRATION_PREFIXES; ++i) {
        ui->comboBox_reg_prefix->addItem(QString::fromLatin1(REGISTRATION_PREFIXES[i]));
    }

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

    QThread::msleep(100);

    comms = new CommsManager();
    if (!comms->establish_connection()) {
        qDebug() << "Failed to establish connection via USB HID or CAN FD";
        const USBHID *usb = comms->getUSBHID();
        if (usb != nullptr && usb->openRefused()) {
            // The unit is plugged in but could not be opened: name the cause and the remedy.
            const std::string text = hidAccessStatus(usb->refusedPath(), usb->refusedError());
            ui->statusbar->showMessage(QString::fromStdString(text), 0);
        } else {
            ui->statusbar->showMessage(
                "Failed to connect to EFIS via USB or CAN FD - please check connections", 0);
        }
        return;
    }

    const COMM_INTERFACE_t active = comms->getActiveInterface();
    const USBHID *usb = comms->getUSBHID();
    const CANFD *canfd = comms->getCANFD();
    if (usb != nullptr && usb->isConnected() && canfd != nullptr && canfd->isConnected()) {
        ui->statusbar->showMessage("Connected via both USB HID and CAN FD", 0);
    } else if (active == USB_HID) {
        ui->statusbar->showMessage("Connected via USB HID", 0);
    } else if (active == CAN_FD) {
        ui->statusbar->showMessage("Connected via CAN FD", 0);
    }

    loadConfigFromDevice();
}

MainWindow::~MainWindow() {
    if (comms) {
        delete comms;
        comms = nullptr;
    }
    delete ui;
}

// ---- settings to form and back ----------------------------------------------

void MainWindow::updateUIFromConfig() {
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
    for (QWidget *w : blocked) {
        w->blockSignals(true);
    }

    for (const auto &colour : colourButtons()) {
        colour.first->setStyleSheet(
            colourStyleSheet(settings_get_value(&user_config, colour.second)));
    }

    if (shownUnread(UNITS_VALUE_INDEX)) {
        // The unit's choices are not known: show none chosen rather than the last ones shown.
        for (QRadioButton *radio : unitRadioButtons()) {
            radio->setAutoExclusive(false);
            radio->setChecked(false);
            radio->setAutoExclusive(true);
        }
    } else {
        const unit_bits_t &bits = user_config.units.bits;
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

    ui->spinBox_vmin->setValue(user_config.vspeeds.Vmin);
    ui->spinBox_vs0->setValue(user_config.vspeeds.Vs0);
    ui->spinBox_vs1->setValue(user_config.vspeeds.Vs1);
    ui->spinBox_vfe->setValue(user_config.vspeeds.Vfe);
    ui->spinBox_vn0->setValue(user_config.vspeeds.Vn0);
    ui->spinBox_vne->setValue(user_config.vspeeds.Vne);
    ui->spinBox_vref->setValue(user_config.vspeeds.VRef);
    ui->spinBox_vlo->setValue(user_config.vspeeds.Vlo);

    ui->min_volt_warn_value->setValue(user_config.volt_warnings.min_volts / 10.0);
    ui->max_volt_warn_value->setValue(user_config.volt_warnings.max_volts / 10.0);
    ui->min_volt_alert_value->setValue(user_config.volt_alerts.min_volts / 10.0);
    ui->max_volt_alert_value->setValue(user_config.volt_alerts.max_volts / 10.0);

    // Registration: split the stored text into a prefix of the table and the rest. One that
    // could not be read whole is shown as unread, the prefix box as it was.
    const bool registration_unread = registrationShownUnread();
    ui->text_registration_num->setPlaceholderText(registration_unread ? REGISTRATION_UNREAD : "");
    ui->text_registration_num->setToolTip(registration_unread ? REGISTRATION_UNREAD : "");
    const auto *reg = reinterpret_cast<const unsigned char *>(user_config.registration);
    bool erased = true;
    for (int i = 0; i < SETTINGS_REGISTRATION_LEN; ++i) {
        erased = erased && reg[i] == 0xFF;
    }
    int length = 0;
    while (!erased && length < REGISTRATION_TEXT_LEN && reg[length] != 0 && reg[length] != 0xFF) {
        ++length;
    }
    if (registration_unread) {
        ui->text_registration_num->setPlainText(QString());
    } else if (erased || length == 0) {
        ui->comboBox_reg_prefix->setCurrentText("N");
        ui->text_registration_num->setPlainText(QString());
    } else {
        const QString text = QString::fromLatin1(user_config.registration, length);
        qDebug() << "Created string:" << text;
        QString prefix;
        for (int i = 0; i < NUM_REGISTRATION_PREFIXES; ++i) {
            if (text.startsWith(QLatin1String(REGISTRATION_PREFIXES[i]))) {
                prefix = QString::fromLatin1(REGISTRATION_PREFIXES[i]);
                break;
            }
        }
        qDebug() << "Found prefix:" << prefix;
        if (!prefix.isEmpty()) {
            ui->comboBox_reg_prefix->setCurrentText(prefix);
            QString rest = text.mid(prefix.size());
            if (prefix.size() + rest.size() > REGISTRATION_TEXT_LEN) {
                rest = rest.left(REGISTRATION_TEXT_LEN - prefix.size());
            }
            ui->text_registration_num->setPlainText(rest);
        } else {
            ui->comboBox_reg_prefix->setCurrentText("N");
            ui->text_registration_num->setPlainText(text.left(10));
        }
    }

    ui->backlight_slider->setValue(static_cast<int>(user_config.backlight_brightness));
    int32_t alpha = static_cast<int32_t>(user_config.text_bg_alpha);
    if (alpha > 254) {
        alpha = 254;
    }
    ui->text_bg_alpha_slider->setValue(alpha);
    ui->roll_corr_spinbox->setValue(static_cast<double>(user_config.roll_correction));
    ui->pitch_corr_spinbox->setValue(static_cast<double>(user_config.pitch_correction));

    for (QWidget *w : blocked) {
        w->blockSignals(false);
    }
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
        if (shownUnread(index)) {
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

units_t MainWindow::unitsFromForm(units_t base) const {
    // A group with no button checked is a choice the form does not show (the unit's word
    // could not be read): it keeps the bits of `base`.
    units_t units = base;
    if (ui->radioButton_mph->isChecked() || ui->radioButton_kph->isChecked() ||
        ui->radioButton_knots->isChecked()) {
        units.bits.is_mph = ui->radioButton_mph->isChecked();
        units.bits.is_kph = ui->radioButton_kph->isChecked();
        units.bits.is_knots = ui->radioButton_knots->isChecked();
    }
    if (ui->radioButton_feet->isChecked() || ui->radioButton_meter->isChecked()) {
        units.bits.is_feet = ui->radioButton_feet->isChecked();
        units.bits.is_meters = ui->radioButton_meter->isChecked();
    }
    if (ui->radioButton_degF->isChecked() || ui->radioButton_degC->isChecked()) {
        units.bits.is_fahrenheit = ui->radioButton_degF->isChecked();
        units.bits.is_celsius = ui->radioButton_degC->isChecked();
    }
    if (ui->radioButton_inhg->isChecked() || ui->radioButton_mbar->isChecked()) {
        units.bits.is_inhg = ui->radioButton_inhg->isChecked();
        units.bits.is_mbar = ui->radioButton_mbar->isChecked();
    }
    return units;
}

bool MainWindow::layUnitChoicesOverUnitsWord() {
    if (unknown_on_unit.count(UNITS_VALUE_INDEX) == 0 ||
        changed_values.count(UNITS_VALUE_INDEX) == 0) {
        return true;
    }
    // The word holds four choices; the user made some of them on a form that could not show
    // the unit's. The others must stay as the unit holds them.
    uint32_t word = 0;
    if (!get_value_checked(comms, SETTINGS_COMMS, UNITS_VALUE_INDEX, &word)) {
        qDebug() << "Failed to read value for index" << static_cast<int>(UNITS_VALUE_INDEX);
        return false;
    }
    units_t base;
    base.units_value = word;
    const units_t units = unitsFromForm(base);
    return settings_set_value(&user_config, UNITS_VALUE_INDEX, &units.units_value);
}

void MainWindow::updateConfigFromUI() {
    for (const auto &colour : colourButtons()) {
        uint32_t value = 0;
        if (colourFromStyleSheet(colour.first->styleSheet(), &value)) {
            settings_set_value(&user_config, colour.second, &value);
        }
    }

    const units_t units = unitsFromForm(user_config.units);
    settings_set_value(&user_config, UNITS_VALUE_INDEX, &units.units_value);

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
        settings_set_value(&user_config, speed.second, &value);
    }

    const std::pair<const QDoubleSpinBox *, settings_struct_index> volts[] = {
        {ui->min_volt_warn_value, MIN_VOLTS_INDEX},
        {ui->max_volt_warn_value, MAX_VOLTS_INDEX},
        {ui->min_volt_alert_value, MIN_VOLTS_ALERT_INDEX},
        {ui->max_volt_alert_value, MAX_VOLTS_ALERT_INDEX}};
    for (const auto &volt : volts) {
        const uint32_t value = tenthsOfVolt(volt.first->value());
        settings_set_value(&user_config, volt.second, &value);
    }

    const std::array<uint32_t, 3> words =
        joinRegistration(user_config.registration, ui->comboBox_reg_prefix->currentText(),
                         ui->text_registration_num->toPlainText());
    settings_set_value(&user_config, REGISTRATION_1_INDEX, &words[0]);
    settings_set_value(&user_config, REGISTRATION_2_INDEX, &words[1]);
    settings_set_value(&user_config, REGISTRATION_3_INDEX, &words[2]);

    const uint32_t brightness = static_cast<uint32_t>(ui->backlight_slider->value());
    settings_set_value(&user_config, BACKLIGHT_BRIGHTNESS_INDEX, &brightness);
    const uint32_t alpha = static_cast<uint32_t>(ui->text_bg_alpha_slider->value());
    settings_set_value(&user_config, TEXT_BG_ALPHA_INDEX, &alpha);
    const uint32_t roll = floatBits(ui->roll_corr_spinbox->value());
    settings_set_value(&user_config, ROLL_CORRECTION_INDEX, &roll);
    const uint32_t pitch = floatBits(ui->pitch_corr_spinbox->value());
    settings_set_value(&user_config, PITCH_CORRECTION_INDEX, &pitch);
}

void MainWindow::onUnitsChanged() {
    updateConfigValueLocal(UNITS_VALUE_INDEX, unitsFromForm(user_config.units).units_value);
}

// ---- device configuration flows ---------------------------------------------

void MainWindow::loadConfigFromDevice() {
    if (!isConnected(comms)) {
        qDebug() << NOT_CONNECTED_LOG;
        ui->statusbar->showMessage(NOT_CONNECTED_STATUS, 0);
        return;
    }

    changed_values.clear();
    std::memset(&user_config, 0, sizeof(user_config));
    unknown_on_unit = allFields();
    unread_at_load.clear();

    // The header words: an unreadable one ends the load, the form keeps what it shows.
    for (const HeaderWord &word : {CHECKSUM_WORD, MAGIC_WORD, VERSION_WORD, NUM_ELEMENTS_WORD}) {
        const uint32_t value = get_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(word.index));
        if (value == NO_VALUE) {
            qDebug() << word.log;
            ui->statusbar->showMessage(word.status, 0);
            return;
        }
        user_config.*word.field = value;
        if (word.index == SETTINGS_CHECKSUM_INDEX) {
            user_config_chk = value;
        }
    }

    // The fields: a failed read is told apart from a field that holds 0xFFFFFFFF.
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        const auto index = static_cast<settings_struct_index>(i);
        uint32_t value = 0;
        if (!get_value_checked(comms, SETTINGS_COMMS, static_cast<uint8_t>(i), &value)) {
            qDebug() << "Warning: Failed to read value for index" << i << ", setting to 0";
            value = 0;
        } else {
            unknown_on_unit.erase(index);
        }
        if (!settings_set_value(&user_config, index, &value)) {
            qDebug() << "Error setting value for index" << i;
            ui->statusbar->showMessage("Error: Failed to process configuration data", 0);
            return;
        }
    }

    // A registration missing one of its words would show, and be saved as, a cut text.
    if (anyRegistrationWordIn(unknown_on_unit)) {
        unknown_on_unit.insert(std::begin(REGISTRATION_WORDS), std::end(REGISTRATION_WORDS));
    }
    unread_at_load = unknown_on_unit;

    const uint32_t calculated_crc = settings_CalcCRC(&user_config);
    std::printf("app: 0x%08lX, device: 0x%08lX \n", static_cast<unsigned long>(calculated_crc),
                static_cast<unsigned long>(user_config_chk));
    const bool crc_matches = calculated_crc == user_config_chk;
    if (crc_matches) {
        std::printf("CRC Check Passed.\n");
    } else {
        qDebug() << "CRC mismatch: Calculated =" << QString::number(calculated_crc, 16)
                 << "Stored=" << QString::number(user_config_chk, 16);
        ui->statusbar->showMessage("Warning: Configuration CRC verification failed", 0);
    }

    updateUIFromConfig();

    // A mismatch stays on the status bar: the values shown are not what the unit stored.
    if (crc_matches) {
        ui->statusbar->showMessage("Configuration successfully loaded from device", 0);
    }
}

void MainWindow::onLoadClicked() {
    loadConfigFromDevice();
}

void MainWindow::onUpdateClicked() {
    if (!isConnected(comms)) {
        qDebug() << NOT_CONNECTED_LOG;
        ui->statusbar->showMessage(NOT_CONNECTED_STATUS, 0);
        return;
    }
    if (changed_values.empty()) {
        ui->statusbar->showMessage("No changes to send", 0);
        return;
    }

    int success_count = 0;
    int fail_count = 0;
    std::set<settings_struct_index> failed;
    const bool units_settled = layUnitChoicesOverUnitsWord();
    for (const settings_struct_index index : changed_values) {
        const uint32_t value = settings_get_value(&user_config, index);
        if ((index != UNITS_VALUE_INDEX || units_settled) &&
            set_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), value) == 0) {
            ++success_count;
            unknown_on_unit.erase(index);
        } else {
            ++fail_count;
            qDebug() << "Failed to send value for index" << static_cast<int>(index);
            failed.insert(index);
        }
    }
    // What the unit did not acknowledge is sent again by the next update.
    changed_values = failed;

    if (fail_count > 0) {
        ui->statusbar->showMessage(
            QString("Sent %1 value(s), %2 failed").arg(success_count).arg(fail_count), 0);
    } else {
        ui->statusbar->showMessage(
            QString("Successfully sent %1 configuration value(s) to device").arg(success_count), 0);
    }
}

void MainWindow::onSaveClicked() {
    if (!isConnected(comms)) {
        qDebug() << NOT_CONNECTED_LOG;
        ui->statusbar->showMessage(NOT_CONNECTED_STATUS, 0);
        return;
    }

    const Settings_t before = user_config;
    updateConfigFromUI();

    // The unit must hold what the checksum is computed over. A field whose value on the unit is
    // not known (the last load could not read it) and that the user has not edited is read
    // again and taken as the unit holds it: the form shows no value of the unit's for it, so
    // sending the form's would overwrite a setting that nobody changed.
    std::set<settings_struct_index> reread;
    int unread_count = 0;
    for (const settings_struct_index index : unknown_on_unit) {
        if (changed_values.count(index) != 0) {
            continue;
        }
        uint32_t value = 0;
        if (get_value_checked(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), &value) &&
            settings_set_value(&user_config, index, &value)) {
            reread.insert(index);
        } else {
            qDebug() << "Failed to read value for index" << static_cast<int>(index);
            ++unread_count;
        }
    }
    for (const settings_struct_index index : reread) {
        unknown_on_unit.erase(index);
    }
    if (!layUnitChoicesOverUnitsWord()) {
        ++unread_count;
    }
    if (unread_count > 0) {
        ui->statusbar->showMessage(
            QString("Error: %1 value(s) could not be read; settings not saved").arg(unread_count),
            0);
        return;
    }

    // Then every edit not sent yet and every other field that copying the form changed.
    std::set<settings_struct_index> to_send = changed_values;
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        const auto index = static_cast<settings_struct_index>(i);
        if (reread.count(index) == 0 &&
            settings_get_value(&before, index) != settings_get_value(&user_config, index)) {
            to_send.insert(index);
        }
    }
    std::set<settings_struct_index> failed;
    for (const settings_struct_index index : to_send) {
        const uint32_t value = settings_get_value(&user_config, index);
        if (set_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), value) != 0) {
            qDebug() << "Failed to send value for index" << static_cast<int>(index);
            failed.insert(index);
        } else {
            unknown_on_unit.erase(index);
        }
    }
    if (!failed.empty()) {
        changed_values = failed;
        ui->statusbar->showMessage(
            QString("Error: %1 value(s) could not be sent; settings not saved").arg(failed.size()),
            0);
        return;
    }

    // The unit's own version and element count go into the record the checksum covers.
    for (const HeaderWord &word : {VERSION_WORD, NUM_ELEMENTS_WORD}) {
        const uint32_t value = get_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(word.index));
        if (value == NO_VALUE) {
            qDebug() << word.log;
            ui->statusbar->showMessage(word.status, 0);
            return;
        }
        user_config.*word.field = value;
    }

    user_config.magic = SETTINGS_MAGIC;
    user_config.crc32 = 0;
    const uint32_t new_crc = settings_CalcCRC(&user_config);
    std::printf("New CRC %08X\n", static_cast<unsigned>(new_crc));

    if (store_settings(comms, new_crc) != 0) {
        qDebug() << "Error storing configuration to EEPROM";
        ui->statusbar->showMessage("Error: Failed to store configuration to EEPROM", 0);
        return;
    }

    changed_values.clear();
    updateUIFromConfig();
    ui->statusbar->showMessage("Configuration saved to EEPROM successfully", 0);
}

int store_settings(CommsManager *comms, uint32_t crc) {
    if (comms == nullptr || !comms->isConnected()) {
        return -1;
    }

    COMMS_MSG_t store_msg = wire::newMessage(CANMSG_SAVE_USER_SETTINGS, 4);
    wire::putLe32(store_msg.data, crc);

    const int bytes_written = comms->write(store_msg);
    if (bytes_written <= 0) {
        qDebug() << "Failed to send store command";
        return -1;
    }

    COMMS_MSG_t erase_status_msg = wire::zeroedMessage();
    const int bytes_read = comms->read(&erase_status_msg);
    if (bytes_read <= 0) {
        qDebug() << "Timeout waiting for erase status frame";
        return -1;
    }

    switch (erase_status_msg.can_ID) {
    case CANMSG_MX25_ACK: {
        qDebug() << "Flash erase succeeded";
        COMMS_MSG_t ack_msg = wire::zeroedMessage();
        if (comms->read(&ack_msg) <= 0) {
            qDebug() << "Timeout waiting for ACK/NACK frame";
            return -1;
        }
        if (ack_msg.can_ID == CANMSG_ACK) {
            qDebug() << "Received ACK/NACK frame";
            return 0;
        }
        qDebug() << "Unexpected ACK/NACK frame, CAN ID:" << QString::number(ack_msg.can_ID, 16);
        return -1;
    }
    case CANMSG_MX25_NACK:
        qDebug() << "Flash erase failed";
        return -1;
    default:
        qDebug() << "Unexpected erase status frame, CAN ID:"
                 << QString::number(erase_status_msg.can_ID, 16);
        return -1;
    }
}

// ---- field edit handlers ----------------------------------------------------

void MainWindow::updateConfigValueLocal(settings_struct_index index, uint32_t value) {
    if (settings_set_value(&user_config, index, &value)) {
        changed_values.insert(index);
    } else {
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

void MainWindow::onRegistrationChanged() {
    // With the unit's registration unread, a prefix chosen over an empty box is no new
    // registration: nothing to send, and Save keeps the unit's.
    if (registrationShownUnread() && !anyRegistrationWordIn(changed_values) &&
        ui->text_registration_num->toPlainText().isEmpty()) {
        return;
    }
    const std::array<uint32_t, 3> words =
        joinRegistration(user_config.registration, ui->comboBox_reg_prefix->currentText(),
                         ui->text_registration_num->toPlainText());
    updateConfigValueLocal(REGISTRATION_1_INDEX, words[0]);
    updateConfigValueLocal(REGISTRATION_2_INDEX, words[1]);
    updateConfigValueLocal(REGISTRATION_3_INDEX, words[2]);
}

void MainWindow::onSkyColorPickerClicked() {
    if (pickColour(this, ui->color_picker_sky0, "Select Sky Color 0", QColor(135, 206, 235),
                   user_config.sky_color[0])) {
        onSkyColor0Changed();
    }
}
void MainWindow::onSkyColor1PickerClicked() {
    if (pickColour(this, ui->color_picker_sky1, "Select Sky Color 1", QColor(135, 206, 235),
                   user_config.sky_color[1])) {
        onSkyColor1Changed();
    }
}
void MainWindow::onGroundColorPickerClicked() {
    if (pickColour(this, ui->color_picker_ground0, "Select Ground Color 0", QColor(34, 139, 34),
                   user_config.ground_color[0])) {
        onGroundColor0Changed();
    }
}
void MainWindow::onGroundColor1PickerClicked() {
    if (pickColour(this, ui->color_picker_ground1, "Select Ground Color 1", QColor(34, 139, 34),
                   user_config.ground_color[1])) {
        onGroundColor1Changed();
    }
}
void MainWindow::onApproachIndiColorPickerClicked() {
    if (pickColour(this, ui->color_picker_app_indi, "Select Approach Indicator Color",
                   QColor(255, 255, 0), user_config.vref_indi_color)) {
        onApproachIndiColorChanged();
    }
}
void MainWindow::onAirplaneColorPickerClicked() {
    if (pickColour(this, ui->color_picker_airplane, "Select Airplane Color", QColor(255, 255, 255),
                   user_config.airplane_color)) {
        onAirplaneColorChanged();
    }
}
void MainWindow::onGreenArcColorPickerClicked() {
    if (pickColour(this, ui->color_picker_green, "Select Green Arc Color", QColor(0, 255, 0),
                   user_config.green_arc_color)) {
        onGreenArcColorChanged();
    }
}
void MainWindow::onYellowArcColorPickerClicked() {
    if (pickColour(this, ui->color_picker_yellow, "Select Yellow Arc Color", QColor(255, 255, 0),
                   user_config.yellow_arc_color)) {
        onYellowArcColorChanged();
    }
}
void MainWindow::onRedArcColorPickerClicked() {
    if (pickColour(this, ui->color_picker_red, "Select Red Arc Color", QColor(255, 0, 0),
                   user_config.red_arc_color)) {
        onRedArcColorChanged();
    }
}
void MainWindow::onGearIndiColorPickerClicked() {
    if (pickColour(this, ui->color_picker_gear, "Select Gear Indicator Color",
                   QColor(255, 255, 255), user_config.gear_indi_color)) {
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

void MainWindow::onBrowseClicked() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Select Firmware File"), QString(),
                                                      tr("Firmware Files (*.bin);;All Files (*)"));
    if (path.isEmpty()) {
        return;
    }
    firmwareFilePath = path;
    ui->text_firmware_file->setPlainText(QFileInfo(path).fileName());
    ui->text_firmware_file->setEnabled(true);
    ui->pushButton_start_update->setEnabled(true);
    ui->progressBar_firmware->setEnabled(true);
}

void MainWindow::onStartUpdateClicked() {
    if (firmwareFilePath.isEmpty()) {
        ui->statusbar->showMessage("No firmware file selected", 0);
        return;
    }
    if (!isConnected(comms)) {
        ui->statusbar->showMessage("Device not connected. Please connect to device first.", 0);
        qDebug() << "Firmware update failed: CommsManager not connected";
        return;
    }

    ui->pushButton_browse->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    ui->text_firmware_file->setEnabled(false);
    ui->progressBar_firmware->setValue(0);
    ui->statusbar->showMessage("Starting firmware update...", 0);
    qDebug() << "Starting firmware update with file:" << firmwareFilePath;

    const QByteArray path = firmwareFilePath.toLocal8Bit();
    const bool done = send_fw(comms, path.constData(), fw_progress_callback, this);

    ui->pushButton_browse->setEnabled(true);
    ui->pushButton_start_update->setEnabled(true);
    ui->text_firmware_file->setEnabled(true);
    if (done) {
        ui->statusbar->showMessage("Firmware update completed", 0);
    } else {
        ui->statusbar->showMessage("Error: Firmware update failed (see log)", 0);
        qDebug() << "Firmware update failed";
    }
    qDebug() << "Firmware update process finished";
}

void MainWindow::updateFirmwareProgress(uint32_t current, uint32_t total, int phase) {
    const uint64_t percent =
        total == 0 ? 0 : static_cast<uint64_t>(current) * 100u / static_cast<uint64_t>(total);
    ui->progressBar_firmware->setValue(static_cast<int>(percent));
    if (phase == 0) {
        ui->statusbar->showMessage(QString("Erasing: %1 / %2 blocks").arg(current).arg(total), 0);
    } else if (phase == 1) {
        ui->statusbar->showMessage(QString("Uploading: %1 / %2 bytes").arg(current).arg(total), 0);
    }
}

void MainWindow::onRebootClicked() {
    if (!isConnected(comms)) {
        qDebug() << NOT_CONNECTED_LOG;
        ui->statusbar->showMessage(NOT_CONNECTED_STATUS, 0);
        return;
    }

    COMMS_MSG_t reboot_msg = wire::newMessage(CANMSG_ENTER_BL, 1);
    reboot_msg.data[0] = 0x48;

    if (comms->write(reboot_msg) <= 0) {
        qDebug() << "Failed to send reboot command";
        ui->statusbar->showMessage("Error: Failed to send reboot command", 0);
    } else {
        qDebug() << "Reboot command sent successfully";
        ui->statusbar->showMessage("Reboot command sent to device", 0);
    }
}
