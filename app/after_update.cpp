#include "after_update.h"

namespace after_update {

namespace {

// The unit to look for, from the interface the manager was chosen for.
unit_locator::Target targetFrom(const CommsManager *comms, uint32_t expected_serial) {
    unit_locator::Target target;
    if (comms == nullptr) {
        target.unit.serial = expected_serial;
        target.any_interface = true;
        return target;
    }
    const UnitChoice &choice = comms->choice();
    target.can_interface = choice.can_interface;
    target.unit.serial = expected_serial;
    if (choice.use_usb && !choice.use_can) {
        target.unit.iface = USB_HID;
        target.unit.path = choice.usb_path;
    } else if (choice.use_can && !choice.use_usb) {
        target.unit.iface = CAN_FD;
        target.unit.path = choice.can_interface;
    } else {
        target.any_interface = true;
    }
    return target;
}

} // namespace

QString backup_file_name(const Settings_t &record, uint32_t serial, const QDate &date) {
    return backup_file::defaultName(record, serial, date);
}

QString write_backup(const QString &path, const Settings_t &record, uint32_t serial) {
    const backup_file::Written written =
        backup_file::writeNamed(path, backup_file::fileText(record, serial), true);
    return written.ok() ? QString() : written.problem;
}

bool reboot_and_let_go(CommsManager *comms) {
    const UnitInterface reached = unit_locator::identify(comms);
    if (!reached.path.empty()) {
        comms->choose(unit_locator::connectionFor(reached, comms->choice().can_interface));
    }
    return update_job::rebootAndLetGo(comms);
}

Look identify(CommsManager *comms, uint32_t expected_serial) {
    Look look;
    if (comms == nullptr || !comms->isConnected()) {
        return look;
    }
    look.unit = unit_locator::identify(comms);
    look.serial = get_serialnumber(comms, comms->getActiveInterface());
    if (look.serial == NO_SERIAL) {
        return look;
    }
    look.kind = look.serial == expected_serial || expected_serial == NO_SERIAL ? Return::Same
                                                                               : Return::Other;
    return look;
}

Look look_for_unit(std::unique_ptr<CommsManager> &comms, uint32_t expected_serial) {
    const unit_locator::Target target = targetFrom(comms.get(), expected_serial);
    return unit_locator::lookAndConnect(target, comms);
}

Look wait_for_unit(std::unique_ptr<CommsManager> &comms, uint32_t expected_serial,
                   std::chrono::milliseconds timeout, const FwCancelFlag *stop) {
    const unit_locator::Target target = targetFrom(comms.get(), expected_serial);
    return unit_locator::waitFor(target, comms, timeout, stop);
}

std::vector<settings_file::Difference> changes(const Before &before, const Settings_t &now) {
    return update_job::changes(before, now);
}

} // namespace after_update
