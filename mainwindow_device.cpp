// The window's side of the connection: the units of the Device menu, Unit Information…, and
// what the window shows when the unit goes and comes back. The connection's life itself is
// UnitConnection's.
#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QDebug>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QStringList>

#include "firmware_ops.h"

#ifndef EFIS_TOOL_VERSION
#define EFIS_TOOL_VERSION "unknown"
#endif

namespace {

QString hexWord(uint32_t value) {
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0')).toUpper().replace("0X", "0x");
}

QString partitionText(mx25_partition partition) {
    switch (partition) {
    case partition_1:
        return QStringLiteral("partition 1");
    case partition_2:
        return QStringLiteral("partition 2");
    case partition_debug:
        return QStringLiteral("debug partition");
    default:
        return QStringLiteral("not reported");
    }
}

} // namespace

void MainWindow::setUpUnitMenu(QMenu *device) {
    connection = new UnitConnection(this);
    connection->setObjectName("unitConnection");
    comms = connection->comms();
    connect(connection, &UnitConnection::unitAppeared, this, [this] {
        // Not while a transfer or a dialog holds the window; the next tick looks again.
        if (QApplication::activeModalWidget() == nullptr) {
            connectAndLoad(true);
        }
    });
    connect(connection, &UnitConnection::lost, this, [this] { onUnitLost(); });
    connect(connection, &UnitConnection::connected, this, [this] { showUnitCount(); });

    units_menu = device;
    device->addSeparator();
    unit_information_action = device->addSeparator();
    QAction *information = device->addAction(tr("Unit Information…"));
    information->setObjectName("actionUnitInformation");
    connect(information, &QAction::triggered, this, [this] { showUnitInformation(); });
    connect(device, &QMenu::aboutToShow, this, [this] { listUnits(); });

    unit_count_note = new QLabel(this);
    unit_count_note->setObjectName("unitCountNote");
    ui->statusbar->addPermanentWidget(unit_count_note);
    unit_count_note->hide();
}

void MainWindow::listUnits() {
    for (QAction *old : units_menu->actions()) {
        if (old->property("efisUnit").isValid()) {
            units_menu->removeAction(old);
            old->deleteLater();
        }
    }
    const bool idle = !update_running;
    const std::vector<UnitInterface> units =
        idle ? connection->units() : std::vector<UnitInterface>{connection->connectedInterface()};
    const UnitInterface current = connection->connectedInterface();
    int n = 0;
    for (const UnitInterface &unit : units) {
        if (unit.path.empty()) {
            continue;
        }
        auto *action = new QAction(QString::fromStdString(describe_unit(unit)), units_menu);
        action->setObjectName(QStringLiteral("actionUnit%1").arg(n++));
        action->setProperty("efisUnit", true);
        action->setCheckable(true);
        action->setChecked(unit.iface == current.iface && unit.path == current.path);
        action->setEnabled(idle);
        connect(action, &QAction::triggered, this, [this, unit] { chooseUnit(unit); });
        units_menu->insertAction(unit_information_action, action);
    }
    if (n == 0) {
        auto *none = new QAction(tr("No EFIS found"), units_menu);
        none->setObjectName("actionNoUnit");
        none->setProperty("efisUnit", true);
        none->setEnabled(false);
        units_menu->insertAction(unit_information_action, none);
    }
}

void MainWindow::chooseUnit(const UnitInterface &unit) {
    // The edits belong to the unit the form came from: saved to it or dropped first.
    if (update_running || !mayLoseEdits(EditLoss::OtherUnit)) {
        return;
    }
    qDebug() << "Connecting to" << QString::fromStdString(describe_unit(unit));
    if (!connection->open(unit)) {
        qDebug() << "Failed to establish connection via USB HID or CAN FD";
        showConnection(false);
        return;
    }
    showConnection(true);
    loadAfterConnecting(false);
}

void MainWindow::showUnitCount() {
    const std::size_t count = connection->isConnected() ? connection->unitCount() : 0;
    if (count < 2) {
        unit_count_note->hide();
        return;
    }
    unit_count_note->setText(tr("%1 units found - connected to %2; the Device menu chooses another")
                                 .arg(count)
                                 .arg(hexWord(connection->serialNumber())));
    unit_count_note->show();
}

void MainWindow::onUnitLost() {
    qDebug() << "EFIS disconnected";
    ui->statusbar->showMessage(tr("EFIS disconnected - waiting for it to come back"), 0);
    unit_count_note->hide();
}

void MainWindow::showUnitInformation() {
    if (!connection->isConnected() || update_running) {
        qDebug() << "No communication interface connected";
        ui->statusbar->showMessage(
            "Error: No communication interface connected (USB HID or CAN FD)", 0);
        return;
    }
    const UnitInterface unit = connection->connectedInterface();
    // The partition query only reads which partition the unit would write next.
    const mx25_partition partition = get_mx25_partition(comms);
    QStringList rows;
    rows << tr("Serial number: %1").arg(hexWord(unit.serial))
         << tr("Interface: %1").arg(QString::fromLatin1(interface_name(unit.iface)))
         << tr("Path: %1").arg(QString::fromStdString(unit.path));
    if (record_loaded) {
        rows << tr("Record: magic %1, version %2, %3 elements")
                    .arg(hexWord(session.record().magic))
                    .arg(session.record().version)
                    .arg(session.record().num_elements)
             << tr("Checksum: %1 (last load: %2)")
                    .arg(hexWord(session.unitChecksum()))
                    .arg(record_crc_matches ? tr("check passed") : tr("check failed"));
    } else {
        rows << tr("Record: not loaded yet");
    }
    rows << tr("Firmware partition: %1").arg(partitionText(partition))
         << tr("Tool version: %1").arg(QString::fromLatin1(EFIS_TOOL_VERSION));
    QMessageBox box(QMessageBox::Information, tr("Unit Information"), rows.join('\n'),
                    QMessageBox::Close, this);
    box.setObjectName("unitInformationBox");
    box.exec();
}
