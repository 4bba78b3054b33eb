#include "device_menu.h"

#include "ui_mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QDebug>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStringList>

#include "hid_access.h"
#include "outcome.h"
#include "settings_file.h"

DeviceMenu::DeviceMenu(const Window &window, QObject *parent) : QObject(parent), w(window) {
    menu = w.ui->menubar->addMenu(tr("&Device"));
    menu->setObjectName("menuDevice");
    reconnect = menu->addAction(tr("Connect"));
    reconnect->setObjectName("actionReconnect");
    reconnect->setToolTip(tr("Close the connection to the EFIS, if any, and connect anew"));
    connect(reconnect, &QAction::triggered, this, [this] { connectAndLoad(false); });

    connection_ = new UnitConnection(w.widget);
    connection_->setObjectName("unitConnection");
    connect(connection_, &UnitConnection::unitAppeared, this, [this] {
        // Not while a transfer or a dialog holds the window; the next tick looks again.
        if (QApplication::activeModalWidget() == nullptr) {
            connectAndLoad(true);
        }
    });
    connect(connection_, &UnitConnection::lost, this, [this] { onUnitLost(); });
    connect(connection_, &UnitConnection::connected, this, [this] { showUnitCount(); });

    menu->addSeparator();
    units_end = menu->addSeparator();
    QAction *information = menu->addAction(tr("Unit Information…"));
    information->setObjectName("actionUnitInformation");
    connect(information, &QAction::triggered, this, [this] { showUnitInformation(); });
    connect(menu, &QMenu::aboutToShow, this, [this] { listUnits(); });

    unit_count_note = new QLabel(w.widget);
    unit_count_note->setObjectName("unitCountNote");
    w.ui->statusbar->addPermanentWidget(unit_count_note);
    unit_count_note->hide();
}

void DeviceMenu::showStatus(const QString &text) {
    w.ui->statusbar->showMessage(text, 0);
}

bool DeviceMenu::open() {
    return connection_->open();
}

void DeviceMenu::showConnection(bool connected) {
    CommsManager *comms = connection_->comms();
    if (!connected) {
        const USBHID *usb = comms->getUSBHID();
        std::string in_use;
        if (comms->unitInUse(&in_use)) {
            // Another program holds the unit: nothing was sent, and the poll takes it when free.
            showStatus(QString::fromStdString(in_use));
        } else if (usb != nullptr && usb->openRefused()) {
            // The unit is plugged in but could not be opened: name the cause and the remedy.
            showStatus(
                QString::fromStdString(hidAccessStatus(usb->refusedPath(), usb->refusedError())));
        } else {
            showStatus("Failed to connect to EFIS via USB or CAN FD - please check connections");
        }
        return;
    }
    const COMM_INTERFACE_t active = comms->getActiveInterface();
    const USBHID *usb = comms->getUSBHID();
    const CANFD *canfd = comms->getCANFD();
    if (usb != nullptr && usb->isConnected() && canfd != nullptr && canfd->isConnected()) {
        showStatus("Connected via both USB HID and CAN FD");
    } else if (active == USB_HID) {
        showStatus("Connected via USB HID");
    } else if (active == CAN_FD) {
        showStatus("Connected via CAN FD");
    }
}

void DeviceMenu::connectAndLoad(bool found_by_poll) {
    if (w.updateRunning()) {
        return;
    }
    if (w.awaitingReturn()) {
        // After an update's reboot: only the unit updated, where it was reached (or one that
        // answered in its place); another unit on the bench is left alone.
        const unit_locator::Look look = w.lookForReturn();
        if (look.kind == unit_locator::Return::NotYet) {
            watch();
            return;
        }
        qDebug() << "EFIS found, connecting";
        if (!connection_->open(look.unit)) {
            qDebug() << "Failed to establish connection via USB HID or CAN FD";
            showConnection(false);
            watch();
            return;
        }
        showConnection(true);
        w.unitBack(look);
        return;
    }
    if (found_by_poll) {
        qDebug() << "EFIS found, connecting";
        showStatus(tr("EFIS found - connecting..."));
    }
    if (!open()) {
        qDebug() << "Failed to establish connection via USB HID or CAN FD";
        showConnection(false);
        watch();
        return;
    }
    showConnection(true);
    loadAfterConnecting(!found_by_poll);
}

void DeviceMenu::loadAfterConnecting(bool ask) {
    // The user's edits are worth more than the unit's copy: kept in the form when the unit turns
    // up, and by the person's choice when they asked to connect.
    const int edited = static_cast<int>(w.session->editedFieldCount());
    if (w.session->hasUnsentEdits() && (!ask || !w.mayLoseEditsToReconnect())) {
        qDebug() << "Connected with" << edited << "edits pending; not loading";
        showStatus(tr("Connected - your %n edit(s) are kept; Load replaces them with the unit's "
                      "settings",
                      nullptr, edited));
        return;
    }
    w.load();
}

void DeviceMenu::watch() {
    connection_->watch();
}

void DeviceMenu::pollForUnit() {
    connection_->pollForUnit();
}

void DeviceMenu::listUnits() {
    for (QAction *old : menu->actions()) {
        if (old->property("efisUnit").isValid()) {
            menu->removeAction(old);
            old->deleteLater();
        }
    }
    const bool idle = !w.updateRunning();
    const std::vector<UnitInterface> units =
        idle ? connection_->units() : std::vector<UnitInterface>{connection_->connectedInterface()};
    const UnitInterface current = connection_->connectedInterface();
    int n = 0;
    for (const UnitInterface &unit : units) {
        if (unit.path.empty()) {
            continue;
        }
        auto *action = new QAction(QString::fromStdString(describe_unit(unit)), menu);
        action->setObjectName(QStringLiteral("actionUnit%1").arg(n++));
        action->setProperty("efisUnit", true);
        action->setCheckable(true);
        action->setChecked(unit.iface == current.iface && unit.path == current.path);
        action->setEnabled(idle);
        connect(action, &QAction::triggered, this, [this, unit] { chooseUnit(unit); });
        menu->insertAction(units_end, action);
    }
    if (n == 0) {
        auto *none = new QAction(tr("No EFIS found"), menu);
        none->setObjectName("actionNoUnit");
        none->setProperty("efisUnit", true);
        none->setEnabled(false);
        menu->insertAction(units_end, none);
    }
}

void DeviceMenu::chooseUnit(const UnitInterface &unit) {
    // The edits belong to the unit the form came from: saved to it or dropped first.
    if (w.updateRunning() || !w.mayLoseEditsToOtherUnit()) {
        return;
    }
    qDebug() << "Connecting to" << QString::fromStdString(describe_unit(unit));
    if (!connection_->open(unit)) {
        qDebug() << "Failed to establish connection via USB HID or CAN FD";
        showConnection(false);
        return;
    }
    showConnection(true);
    loadAfterConnecting(false);
}

void DeviceMenu::showUnitCount() {
    const std::size_t count = connection_->isConnected() ? connection_->unitCount() : 0;
    if (count < 2) {
        unit_count_note->hide();
        return;
    }
    unit_count_note->setText(tr("%1 units found - connected to %2; the Device menu chooses another")
                                 .arg(count)
                                 .arg(settings_file::hexWord(connection_->serialNumber())));
    unit_count_note->show();
}

void DeviceMenu::onUnitLost() {
    qDebug() << "EFIS disconnected";
    showStatus(tr("EFIS disconnected - waiting for it to come back"));
    unit_count_note->hide();
}

void DeviceMenu::showUnitInformation() {
    if (!connection_->isConnected() || w.updateRunning()) {
        const outcome::Words said = outcome::words(outcome::Result::NoConnection);
        qDebug().noquote() << said.log;
        showStatus(said.status);
        return;
    }
    unit_info::Facts facts =
        unit_info::gather(connection_->comms(), connection_->connectedInterface());
    if (w.session->recordRead()) {
        facts.record = unit_info::Facts::Record{w.session->record(), w.session->unitChecksum(),
                                                w.session->checksumMatched()};
    }
    QStringList lines;
    for (const unit_info::Row &row : unit_info::rows(facts)) {
        lines << QStringLiteral("%1: %2").arg(row.label,
                                              row.value.isEmpty() ? tr("not known") : row.value);
    }
    QMessageBox box(QMessageBox::Information, tr("Unit Information"), lines.join('\n'),
                    QMessageBox::Close, w.widget);
    box.setObjectName("unitInformationBox");
    box.exec();
}
