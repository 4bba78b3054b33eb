// efis-vm-window: drives the tool's window over the real device path. It is built from the
// same window code as efis-config and linked, like it, to the system hidapi library; it runs
// offscreen against efis-virtual-unit and presses the window's buttons as a user would.
//   efis-vm-window flows IMAGE     load, edit, update, edit, save, firmware update, reboot
//   efis-vm-window firmware IMAGE  load, then a firmware update whatever its outcome
// Each step prints what it compared; "expect KEY=VALUE" lines name what the unit's summary
// must show afterwards. The exit status is 0 only when every comparison held.
#include <QApplication>
#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "mainwindow.h"

// Reaches the one window step that has no widget of its own to press: the firmware file chosen
// in a file dialog.
class MainWindowTestPeer {
public:
    explicit MainWindowTestPeer(MainWindow *w) : w_(w) {}
    QString &firmwareFilePath() { return w_->firmwareFilePath; }

private:
    MainWindow *w_;
};

namespace {

int failures = 0;

void compare(const char *what, const QString &got, const QString &expected) {
    const bool ok = got == expected;
    std::printf("compared %s: got \"%s\", expected \"%s\": %s\n", what, qPrintable(got),
                qPrintable(expected), ok ? "ok" : "FAILED");
    failures += ok ? 0 : 1;
}

void compare(const char *what, long long got, long long expected) {
    const bool ok = got == expected;
    std::printf("compared %s: got %lld, expected %lld: %s\n", what, got, expected,
                ok ? "ok" : "FAILED");
    failures += ok ? 0 : 1;
}

template <class T> T *widget(MainWindow &w, const char *name) {
    T *found = w.findChild<T *>(QString::fromLatin1(name));
    if (found == nullptr) {
        std::printf("the form has no %s \"%s\": FAILED\n", T::staticMetaObject.className(), name);
        std::fflush(stdout);
        std::exit(1);
    }
    return found;
}

QString status(MainWindow &w) {
    return w.statusBar()->currentMessage();
}

// A new value for a spin box, inside its range and different from what it shows.
int otherValue(const QSpinBox *box, int step) {
    const int v = box->value() + step;
    return v <= box->maximum() ? v : box->value() - step;
}

long long runFirmwareUpdate(MainWindow &w, const char *image) {
    MainWindowTestPeer(&w).firmwareFilePath() = QString::fromLocal8Bit(image);
    const auto start = std::chrono::steady_clock::now();
    // The button is enabled once a file is chosen; the file dialog is what the peer stands in for.
    auto *start_button = widget<QPushButton>(w, "pushButton_start_update");
    start_button->setEnabled(true);
    // The window offers a backup of the settings first, and a reboot after a completed update:
    // decline each once it is open.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            box->button(QMessageBox::No)->click();
        }
    });
    answer.start(10);
    start_button->click();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("firmware_update_ms=%lld\n", static_cast<long long>(ms));
    return ms;
}

void flows(MainWindow &w, const char *image) {
    // Load, as the window did while it was built.
    compare("status after start-up", status(w), "Configuration successfully loaded from device");

    // An edit sent by "Update Settings on EFIS".
    auto *vne = widget<QSpinBox>(w, "spinBox_vne");
    const int new_vne = otherValue(vne, 5);
    vne->setValue(new_vne);
    compare("fields changed after the Vne edit", static_cast<long long>(w.changedValues().size()),
            1);
    widget<QPushButton>(w, "pushButton_update")->click();
    compare("status after update", status(w),
            "Successfully sent 1 configuration value(s) to device");
    compare("fields changed after update", static_cast<long long>(w.changedValues().size()), 0);

    // An edit not sent yet, stored by "Save settings to EFIS" with the one before.
    auto *vs0 = widget<QSpinBox>(w, "spinBox_vs0");
    const int new_vs0 = otherValue(vs0, 2);
    vs0->setValue(new_vs0);
    widget<QPushButton>(w, "pushButton_save")->click();
    compare("status after save", status(w), "Configuration saved to EEPROM successfully");
    std::printf("expect record.%d=%d\n", static_cast<int>(VNE_INDEX), new_vne);
    std::printf("expect record.%d=%d\n", static_cast<int>(VS0_INDEX), new_vs0);

    // Load again: the unit hands back what it stored, under a checksum that matches.
    widget<QPushButton>(w, "pushButton_load")->click();
    compare("status after reload", status(w), "Configuration successfully loaded from device");
    compare("Vne shown after reload", vne->value(), new_vne);
    compare("Vs0 shown after reload", vs0->value(), new_vs0);

    runFirmwareUpdate(w, image);
    compare("status after firmware update", status(w), "Firmware update completed");
    compare("progress bar after firmware update",
            widget<QProgressBar>(w, "progressBar_firmware")->value(), 100);

    widget<QPushButton>(w, "pushButton_reboot")->click();
    compare("status after reboot", status(w), "Reboot command sent to device");
}

} // namespace

int main(int argc, char *argv[]) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc != 3 ||
        (std::strcmp(argv[1], "flows") != 0 && std::strcmp(argv[1], "firmware") != 0)) {
        std::fprintf(stderr, "usage: %s flows|firmware IMAGE\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    int result = 0;
    {
        MainWindow w;
        if (std::strcmp(argv[1], "flows") == 0) {
            flows(w, argv[2]);
            result = failures == 0 ? 0 : 1;
        } else {
            compare("status after start-up", status(w),
                    "Configuration successfully loaded from device");
            runFirmwareUpdate(w, argv[2]);
            std::printf("status after firmware update: \"%s\"\n", qPrintable(status(w)));
            result = failures == 0 ? 0 : 1;
        }
    }
    std::printf("efis-vm-window: %s\n", result == 0 ? "every comparison held" : "FAILED");
    return result;
}
