#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <cstdio>
#include <cstdlib>

Settings_t user_config = {};
uint32_t user_config_chk = 0;

void customMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg) {
    const QByteArray localMsg = msg.toLocal8Bit();
    const char *file = context.file ? context.file : "";
    const char *function = context.function ? context.function : "";
    const unsigned line = static_cast<unsigned>(context.line);
    switch (type) {
    case QtDebugMsg:
        std::fprintf(stderr, "Debug: %s (%s:%u, %s)\n", localMsg.constData(), file, line, function);
        break;
    case QtInfoMsg:
        std::fprintf(stderr, "Info: %s (%s:%u, %s)\n", localMsg.constData(), file, line, function);
        break;
    case QtWarningMsg:
        std::fprintf(stderr, "Warning: %s (%s:%u, %s)\n", localMsg.constData(), file, line,
                     function);
        break;
    case QtCriticalMsg:
        std::fprintf(stderr, "Critical: %s (%s:%u, %s)\n", localMsg.constData(), file, line,
                     function);
        break;
    case QtFatalMsg:
        std::fprintf(stderr, "Fatal: %s (%s:%u, %s)\n", localMsg.constData(), file, line, function);
        std::abort();
    }
    std::fflush(stderr);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), comms(nullptr) {
    qInstallMessageHandler(customMessageHandler);
    ui->setupUi(this);
}

MainWindow::~MainWindow() {
    if (comms) {
        delete comms;
        comms = nullptr;
    }
    delete ui;
}

void MainWindow::updateFirmwareProgress(uint32_t, uint32_t, int) {}
void MainWindow::onSaveClicked() {}
void MainWindow::onLoadClicked() {}
void MainWindow::onBrowseClicked() {}
void MainWindow::onStartUpdateClicked() {}
void MainWindow::onSkyColorPickerClicked() {}
void MainWindow::onSkyColor1PickerClicked() {}
void MainWindow::onGroundColorPickerClicked() {}
void MainWindow::onGroundColor1PickerClicked() {}
void MainWindow::onApproachIndiColorPickerClicked() {}
void MainWindow::onAirplaneColorPickerClicked() {}
void MainWindow::onGreenArcColorPickerClicked() {}
void MainWindow::onYellowArcColorPickerClicked() {}
void MainWindow::onRedArcColorPickerClicked() {}
void MainWindow::onGearIndiColorPickerClicked() {}
void MainWindow::onUnitsChanged() {}
void MainWindow::onVminChanged(int) {}
void MainWindow::onVs0Changed(int) {}
void MainWindow::onVs1Changed(int) {}
void MainWindow::onVfeChanged(int) {}
void MainWindow::onVn0Changed(int) {}
void MainWindow::onVneChanged(int) {}
void MainWindow::onVrefChanged(int) {}
void MainWindow::onVloChanged(int) {}
void MainWindow::onMinVoltChanged(double) {}
void MainWindow::onMaxVoltChanged(double) {}
void MainWindow::onMinVoltAlertChanged(double) {}
void MainWindow::onMaxVoltAlertChanged(double) {}
void MainWindow::onRegistrationChanged() {}
void MainWindow::onSkyColor0Changed() {}
void MainWindow::onSkyColor1Changed() {}
void MainWindow::onGroundColor0Changed() {}
void MainWindow::onGroundColor1Changed() {}
void MainWindow::onApproachIndiColorChanged() {}
void MainWindow::onAirplaneColorChanged() {}
void MainWindow::onGreenArcColorChanged() {}
void MainWindow::onYellowArcColorChanged() {}
void MainWindow::onRedArcColorChanged() {}
void MainWindow::onGearIndiColorChanged() {}
void MainWindow::onBacklightBrightnessChanged(int) {}
void MainWindow::onTextBgAlphaChanged(int) {}
void MainWindow::onRollCorrectionChanged(double) {}
void MainWindow::onPitchCorrectionChanged(double) {}
void MainWindow::onUpdateClicked() {}
void MainWindow::onRebootClicked() {}
void MainWindow::updateUIFromConfig() {}
void MainWindow::updateConfigFromUI() {}
void MainWindow::loadConfigFromDevice() {}
void MainWindow::updateConfigValueLocal(settings_struct_index, uint32_t) {}
