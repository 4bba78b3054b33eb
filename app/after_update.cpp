#include "after_update.h"

#include <QRegularExpression>
#include <QSaveFile>

#include <thread>

#include "USBHID.h"
#include "canfd.h"
#include "settings_flows.h"

namespace after_update {

QString backup_file_name(const Settings_t &record, uint32_t serial, const QDate &date) {
    QString registration;
    for (const settings_file::Entry &entry : settings_file::entries(record)) {
        if (entry.index == REGISTRATION_1_INDEX) {
            registration = entry.text;
        }
    }
    registration.remove(QRegularExpression("[^A-Za-z0-9_-]"));
    QStringList parts{registration.isEmpty() ? QStringLiteral("efis-settings") : registration};
    if (serial != NO_SERIAL) {
        parts << QStringLiteral("%1").arg(serial, 8, 16, QLatin1Char('0')).toUpper();
    }
    parts << date.toString(Qt::ISODate);
    return parts.join('-') + QStringLiteral(".json");
}

QString write_backup(const QString &path, const Settings_t &record, uint32_t serial) {
    settings_file::UnitHeader unit;
    unit.has_serial = serial != NO_SERIAL;
    unit.serial = serial;
    unit.magic = record.magic;
    unit.version = record.version;
    unit.num_elements = record.num_elements;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(settings_file::write(record, unit)) < 0 ||
        !out.commit()) {
        return out.errorString();
    }
    return {};
}

bool reboot_and_let_go(CommsManager *comms) {
    if (!reboot_unit(comms)) {
        return false;
    }
    if (USBHID *usb = comms->getUSBHID()) {
        usb->disconnect();
    }
    if (CANFD *canfd = comms->getCANFD()) {
        canfd->disconnect();
    }
    return true;
}

Look identify(CommsManager *comms, uint32_t expected_serial) {
    Look look;
    if (comms == nullptr || !comms->isConnected()) {
        return look;
    }
    look.serial = get_serialnumber(comms, comms->getActiveInterface());
    if (look.serial == NO_SERIAL) {
        return look;
    }
    // A unit whose number was not known before counts as the same: there is nothing to tell it
    // from another by.
    look.kind = look.serial == expected_serial || expected_serial == NO_SERIAL ? Return::Same
                                                                               : Return::Other;
    return look;
}

Look look_for_unit(std::unique_ptr<CommsManager> &comms, uint32_t expected_serial) {
    // A fresh manager each look, connected or not: the old one knows nothing of the new link.
    comms = std::make_unique<CommsManager>();
    if (USBHID::findInterface(vendor_id, product_id).empty()) {
        return {};
    }
    if (!comms->establish_connection()) {
        return {};
    }
    return identify(comms.get(), expected_serial);
}

Look wait_for_unit(std::unique_ptr<CommsManager> &comms, uint32_t expected_serial,
                   std::chrono::milliseconds timeout, const FwCancelFlag *stop) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (stop != nullptr && stop->load()) {
            return {};
        }
        const Look look = look_for_unit(comms, expected_serial);
        if (look.kind != Return::NotYet || std::chrono::steady_clock::now() >= deadline) {
            return look;
        }
        // Short steps, so that a stop request is taken soon.
        const auto next = std::chrono::steady_clock::now() + LOOK_INTERVAL;
        while (std::chrono::steady_clock::now() < next && (stop == nullptr || !stop->load())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

std::vector<settings_file::Difference> changes(const Before &before, const Settings_t &now) {
    if (!before.has_settings) {
        return {};
    }
    return settings_file::differences(before.settings, now);
}

} // namespace after_update
