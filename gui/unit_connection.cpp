#include "unit_connection.h"

#include <QTimer>

UnitConnection::UnitConnection(QObject *parent)
    : QObject(parent), comms_(std::make_unique<CommsManager>()) {
    poll = new QTimer(this);
    poll->setObjectName("unitPollTimer");
    poll->setInterval(POLL_INTERVAL_MS);
    connect(poll, &QTimer::timeout, this, [this] { pollForUnit(); });
    presence = new QTimer(this);
    presence->setObjectName("unitPresenceTimer");
    presence->setInterval(PRESENCE_INTERVAL_MS);
    connect(presence, &QTimer::timeout, this, [this] { checkPresence(); });
}

UnitConnection::~UnitConnection() = default;

void UnitConnection::setState(ConnectionState state) {
    if (state != state_) {
        state_ = state;
        emit stateChanged(state);
    }
}

UnitChoice UnitConnection::reconnectChoice() {
    UnitChoice choice;
    choice.can_interface = can_interface;
    if (last_serial == 0xFFFFFFFFu) {
        return choice;
    }
    const std::vector<UnitInterface> listed = list_unit_interfaces(can_interface);
    if (listed.size() < 2) {
        return choice; // one interface at most: start-up's way finds it
    }
    // Several: the unit the user worked with, not whichever is listed first.
    // The unit held open (a Connect while connected) is not asked on a second handle.
    for (const UnitInterface &unit : discover_units(can_interface, comms_.get())) {
        if (unit.serial == last_serial) {
            return choice_for(unit);
        }
    }
    return choice;
}

bool UnitConnection::open() {
    return openWith(reconnectChoice());
}

bool UnitConnection::open(const UnitInterface &unit) {
    UnitChoice choice = choice_for(unit);
    if (unit.iface == CAN_FD) {
        can_interface = unit.path;
    } else {
        choice.can_interface = can_interface;
    }
    return openWith(choice);
}

bool UnitConnection::openWith(const UnitChoice &choice) {
    if (busy_) {
        return false;
    }
    poll->stop();
    presence->stop();
    setState(ConnectionState::Connecting);
    // The manager stays for the window's life: connecting closes what it held open, and a
    // link opened afresh forgets what the old one missed.
    comms_->choose(choice);
    const bool confirmed = comms_->establish_connection();
    failed_interface_ticks = 0;
    const USBHID *usb = comms_->getUSBHID();
    if (confirmed) {
        failed_interface.clear();
        last_serial = serialNumber();
        setState(ConnectionState::Connected);
        watch();
        emit connected(last_serial);
        return true;
    }
    in_use_interface = UnitInterface();
    in_use_text_.clear();
    if (comms_->unitInUse(&in_use_text_)) {
        const CANFD *can = comms_->getCANFD();
        const bool on_usb = usb != nullptr && usb->inUse();
        in_use_interface.iface = on_usb ? USB_HID : CAN_FD;
        in_use_interface.path = on_usb ? usb->inUsePath() : can->inUseName();
        failed_interface.clear();
        setState(ConnectionState::InUse);
    } else if (usb != nullptr && usb->openRefused()) {
        failed_interface = usb->refusedPath();
        setState(ConnectionState::Refused);
    } else {
        // Found but not confirmed, or not found at all.
        const std::vector<UnitInterface> listed = list_unit_interfaces(can_interface);
        failed_interface = listed.empty() ? std::string() : listed.front().path;
        setState(ConnectionState::NotConnected);
    }
    watch();
    return false;
}

uint32_t UnitConnection::serialNumber() const {
    return comms_->confirmedSerial(comms_->getActiveInterface());
}

UnitInterface UnitConnection::connectedInterface() const {
    UnitInterface unit;
    if (!comms_->isConnected()) {
        return unit;
    }
    unit.iface = comms_->getActiveInterface();
    unit.path = unit.iface == CAN_FD ? comms_->getCANFD()->name() : comms_->getUSBHID()->path();
    unit.serial = serialNumber();
    return unit;
}

std::vector<UnitInterface> UnitConnection::units() {
    return discover_units(can_interface, comms_.get());
}

std::size_t UnitConnection::unitCount() {
    const std::vector<UnitInterface> listed = list_unit_interfaces(can_interface);
    return listed.size() < 2 ? listed.size() : count_units(units());
}

void UnitConnection::setBusy(bool busy) {
    busy_ = busy;
    if (busy) {
        poll->stop();
        presence->stop();
        setState(ConnectionState::Busy);
        return;
    }
    setState(comms_->isConnected() ? ConnectionState::Connected
             : comms_->linkLost()  ? ConnectionState::Lost
                                   : ConnectionState::NotConnected);
    watch();
}

void UnitConnection::release() {
    comms_->getUSBHID()->disconnect();
    comms_->getCANFD()->disconnect();
    failed_interface.clear();
    setState(ConnectionState::NotConnected);
    watch();
}

void UnitConnection::watch() {
    if (busy_) {
        return;
    }
    if (comms_->isConnected()) {
        poll->stop();
        if (!presence->isActive()) {
            presence->start();
        }
    } else {
        presence->stop();
        if (!poll->isActive()) {
            poll->start();
        }
    }
}

void UnitConnection::checkPresence() {
    if (busy_ || state_ != ConnectionState::Connected) {
        return;
    }
    if (comms_->checkPresent()) {
        return;
    }
    // Gone from the listing, or closed by a flow that found it gone or silent.
    setState(ConnectionState::Lost);
    failed_interface.clear(); // when it comes back it is tried at once
    watch();
    emit lost();
}

void UnitConnection::pollForUnit() {
    if (comms_->isConnected()) {
        watch();
        return;
    }
    if (busy_) {
        return;
    }
    if (state_ == ConnectionState::InUse) {
        // Asking the lock sends nothing: the unit is taken as soon as the other program lets go.
        if (UnitLock::inUse(in_use_interface.iface, in_use_interface.path)) {
            return;
        }
        emit unitAppeared();
        return;
    }
    const std::vector<UnitInterface> listed = list_unit_interfaces(can_interface);
    if (listed.empty()) {
        failed_interface.clear(); // gone: when it comes back it is tried again
        return;
    }
    if (listed.front().path == failed_interface && ++failed_interface_ticks < FAILED_RETRY_TICKS) {
        // The interface that would not open or answer: try it again now and then only, as a
        // quick replug may give it the same path.
        return;
    }
    emit unitAppeared();
}
