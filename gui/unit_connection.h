#ifndef UNIT_CONNECTION_H
#define UNIT_CONNECTION_H

// The window's connection to the unit through its whole life: opened at start-up, looked for
// while no unit is there, checked while idle so that an unplugged unit is noticed, held busy
// while a firmware update runs, and opened on another unit when the user chooses one. It owns
// the comms manager and says what changed; the window keeps the form and the words.

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comms.h"
#include "discovery.h"

class QTimer;

enum class ConnectionState {
    NotConnected, // no unit found, or none confirmed itself
    Connecting,   // an attempt is running
    Connected,    // a unit confirmed itself by its serial number
    Refused,      // a unit's interface is there but could not be opened (no permission)
    Lost,         // the connected unit went away or stopped answering
    Busy,         // a firmware update holds the link: no poll, no check, no reconnect
    InUse         // another program of the tool holds the unit: nothing is sent to it, and the
                  // poll takes it when that program lets go
};

class UnitConnection : public QObject {
    Q_OBJECT

public:
    // How often the poll looks for a unit while none is connected, and how often the
    // connected unit is checked while the link is idle (a removal shows within 3 s).
    static constexpr int POLL_INTERVAL_MS = 2000;
    static constexpr int PRESENCE_INTERVAL_MS = 1000;
    // Polls between two tries of an interface that was found but would not open or answer.
    static constexpr int FAILED_RETRY_TICKS = 5;

    explicit UnitConnection(QObject *parent = nullptr);
    ~UnitConnection() override;

    // Never null, and the same for the connection's life.
    CommsManager *comms() const { return comms_.get(); }
    ConnectionState state() const { return state_; }
    bool isConnected() const { return comms_->isConnected(); }

    // Closes any open interface and connects as at start-up; after a unit was connected
    // once, to that unit again when several are present. True when a unit confirmed itself.
    bool open();
    // The same for the unit `unit`, which later reconnects look for.
    bool open(const UnitInterface &unit);

    // The connected unit's serial number and interface (0xFFFFFFFF and an empty path while
    // none is connected).
    uint32_t serialNumber() const;
    UnitInterface connectedInterface() const;
    // The serial number of the last unit connected, kept while it is away: a unit back after
    // an unplug or a reboot is the same unit when this matches.
    uint32_t lastSerialNumber() const { return last_serial; }

    // Every unit interface present, with its serial number (the connected one is not asked).
    std::vector<UnitInterface> units();
    // How many units are present; asks the others only when more than one interface is listed.
    std::size_t unitCount();

    // A firmware update starts or ends: while busy nothing polls, checks or reconnects.
    void setBusy(bool busy);
    bool busy() const { return busy_; }
    // The unit leaves on purpose (its reboot): the interfaces are closed and the poll looks
    // for it until it is back.
    void release();

    // While InUse: the line that says which unit and which program holds it.
    const std::string &inUseText() const { return in_use_text_; }

    // One tick of the poll while no unit is connected: emits unitAppeared() when an interface
    // turned up that is worth a try.
    void pollForUnit();
    // One check of the connected unit: emits lost() when it went away or stopped answering
    // (also when a flow found it so).
    void checkPresence();
    // Starts the poll (no unit) or the presence check (a unit), whichever applies.
    void watch();

signals:
    void stateChanged(ConnectionState state);
    // The poll found an interface: the window connects (and loads, unless edits are pending).
    void unitAppeared();
    // A unit confirmed itself by its serial number: after start-up, a reconnect, a choice of
    // another unit, or its return after an unplug or a reboot.
    void connected(uint32_t serial);
    // The connected unit went away or stopped answering; the poll now looks for it.
    void lost();

private:
    bool openWith(const UnitChoice &choice);
    void setState(ConnectionState state);
    // The choice that finds the last unit again among several; the default choice otherwise.
    UnitChoice reconnectChoice();

    std::unique_ptr<CommsManager> comms_;
    ConnectionState state_ = ConnectionState::NotConnected;
    QTimer *poll = nullptr;
    QTimer *presence = nullptr;
    bool busy_ = false;
    uint32_t last_serial = 0xFFFFFFFFu;
    std::string can_interface = DEFAULT_CANFD_INTERFACE;
    // The interface an attempt found and could not confirm (no answer, no permission): the
    // poll tries it again at once when it has gone away or changed, else only every few polls.
    std::string failed_interface;
    int failed_interface_ticks = 0;
    // The interface another program holds: the poll tries it as soon as its lock is free.
    UnitInterface in_use_interface;
    std::string in_use_text_;
};

#endif // UNIT_CONNECTION_H
