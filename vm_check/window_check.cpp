// efis-vm-window: drives the tool's window over the real device path. It is built from the
// same window code as efis-config and linked, like it, to the system hidapi library; it runs
// offscreen against efis-virtual-unit and presses the window's buttons as a user would.
//   efis-vm-window flows IMAGE     load, edit, update, edit, save, firmware update, reboot
//   efis-vm-window firmware IMAGE  load, then a firmware update whatever its outcome
//   efis-vm-window replug          load, then wait (idle) for the unit to be pulled out and
//                                  plugged in again: prints when the window showed it gone
//                                  and when it had loaded again, in seconds since boot
//   efis-vm-window units SERIAL    with two units: the count in the status bar, the Device
//                                  menu's list, and a load from the unit with SERIAL chosen
// Each step prints what it compared; "expect KEY=VALUE" lines name what the unit's summary
// must show afterwards. The exit status is 0 only when every comparison held.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "mainwindow.h"
#include "unit_connection.h"

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
    // The window names the image and the unit first (write it), then offers a backup of the
    // settings, and a reboot after a completed update: decline each of those once it is open.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            const auto wanted = box->objectName() == QLatin1String("confirmUpdateBox")
                                    ? QMessageBox::Ok
                                    : QMessageBox::No;
            if (QAbstractButton *button = box->button(wanted)) {
                button->click();
            }
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

// Seconds since boot, as the guest check's shell reads them.
std::string uptime() {
    std::ifstream in("/proc/uptime");
    std::string seconds;
    in >> seconds;
    return seconds;
}

// Runs the event loop, idle as a user leaves the window, until the status bar shows `text` or
// `seconds` passed; true when it did.
bool waitForStatus(MainWindow &w, const QString &text, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (status(w) != text && std::chrono::steady_clock::now() < until) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return status(w) == text;
}

const char *const LOADED = "Configuration successfully loaded from device";

void replug(MainWindow &w) {
    compare("status after start-up", status(w), LOADED);
    std::printf("window ready: pull the unit out\n");
    const bool gone = waitForStatus(w, "EFIS disconnected - waiting for it to come back", 30);
    std::printf("lost_at=%s\n", uptime().c_str());
    compare("unit pulled out: noticed within 30 s", gone ? 1 : 0, 1);
    std::printf("window waiting: plug the unit in\n");
    const bool back = waitForStatus(w, LOADED, 60);
    std::printf("reloaded_at=%s\n", uptime().c_str());
    compare("unit plugged in again: loaded within 60 s", back ? 1 : 0, 1);
}

void units(MainWindow &w, const char *serial) {
    compare("status after start-up", status(w), LOADED);
    compare("note of the units present", widget<QLabel>(w, "unitCountNote")->text(),
            QStringLiteral("2 units found - connected to %1; the Device menu chooses another")
                .arg(w.findChild<UnitConnection *>("unitConnection")->serialNumber() == 0x11111111u
                         ? "0x11111111"
                         : "0x22222222"));
    auto *menu = widget<QMenu>(w, "menuDevice");
    emit menu->aboutToShow();
    QAction *chosen = nullptr;
    for (const char *name : {"actionUnit0", "actionUnit1"}) {
        QAction *action = widget<QAction>(w, name);
        std::printf("Device menu: %s%s\n", qPrintable(action->text()),
                    action->isChecked() ? " (connected)" : "");
        if (action->text().startsWith(QStringLiteral("EFIS %1 ").arg(serial))) {
            chosen = action;
        }
    }
    compare("the unit to choose is listed", chosen != nullptr ? 1 : 0, 1);
    if (chosen == nullptr) {
        return;
    }
    chosen->trigger();
    compare("status after choosing it", status(w), LOADED);
    compare("serial number connected",
            static_cast<long long>(w.findChild<UnitConnection *>("unitConnection")->serialNumber()),
            static_cast<long long>(std::strtoul(serial, nullptr, 16)));
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

    // The reboot after an update (its offer answered Later) also waits for the unit to come
    // back and compares its settings: the reboot's own status comes first.
    QStringList shown;
    const QMetaObject::Connection watch = QObject::connect(
        w.statusBar(), &QStatusBar::messageChanged, [&shown](const QString &m) { shown << m; });
    widget<QPushButton>(w, "pushButton_reboot")->click();
    QObject::disconnect(watch);
    compare("first status after reboot", shown.value(0), "Reboot command sent to device");
    compare("status after reboot", status(w),
            "Reboot command sent - waiting for the EFIS to come back with its new firmware");
}

} // namespace

int main(int argc, char *argv[]) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const bool idle_mode = argc == 2 && std::strcmp(argv[1], "replug") == 0;
    if (!idle_mode && (argc != 3 || (std::strcmp(argv[1], "flows") != 0 &&
                                     std::strcmp(argv[1], "firmware") != 0 &&
                                     std::strcmp(argv[1], "units") != 0))) {
        std::fprintf(stderr, "usage: %s flows|firmware IMAGE, replug, or units SERIAL\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    int result = 0;
    {
        MainWindow w;
        if (idle_mode) {
            replug(w);
            result = failures == 0 ? 0 : 1;
        } else if (std::strcmp(argv[1], "units") == 0) {
            units(w, argv[2]);
            result = failures == 0 ? 0 : 1;
        } else if (std::strcmp(argv[1], "flows") == 0) {
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
