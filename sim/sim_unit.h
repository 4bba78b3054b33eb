#ifndef SIM_UNIT_H
#define SIM_UNIT_H

// A simulated EFIS display unit, reached through the project's own hidapi
// backend (sim_hidapi.cpp), which tests and the demo link in place of the system
// hidapi library. The unit answers every request the tool makes as the real unit
// does, records everything it received, and can be told to misbehave.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "comms_types.h"
#include "firmware.h"
#include "mem_layout.h"
#include "settings_types.h"
#include "sim_flash.h"

namespace sim {

// A message as it crossed the link. `data` holds the payload bytes actually
// carried, which for a malformed report can differ from `msg_len`.
struct Message {
    uint8_t iface = 0;
    uint32_t can_id = 0;
    uint8_t msg_len = 0;
    std::vector<uint8_t> data;
};

enum class FaultKind {
    NoReply,           // the unit falls silent from the affected reply on: that reply and
                       // every later one of the request are never sent; the request takes
                       // effect; the tool's read times out
    LateReply,         // the affected reply and every later one of the request are held back;
                       // they arrive at the first read that finds nothing pending (after the
                       // tool's read timed out) or, at the latest, ahead of the replies to the
                       // next request; the request takes effect
    ReplyAfterNext,    // the affected reply and every later one of the request are held back
                       // until the next request has reached the unit: they arrive ahead of its
                       // replies, too late for anything the tool reads before sending it; the
                       // tool's read of the affected reply times out; the request takes effect
    Nack,              // the unit refuses: the affected reply (the first for -1) becomes
                       // CANMSG_NACK (msg_len 6: the request's identifier, then EF 15) in place
                       // of any reply but a status, CANMSG_MX25_NACK (msg_len 0) in place of a
                       // status reply (CANMSG_MX25_ACK); later replies are dropped; no effect,
                       // even when the index reaches no reply (the reboot has none)
    Replace,           // the reply is replaced by `replacement` (unexpected identifier, wrong
                       // op type, wrong address ...); the request takes effect
    Raw,               // the reply is replaced by the raw input report `raw` (malformed);
                       // the request takes effect
    Unplug,            // the request is taken, then the unit vanishes: no reply, no effect,
                       // every later hidapi call fails as for a vanished device
    UnplugBeforeWrite, // the unit vanishes before the request: its hid_write fails
    WriteNothing       // hid_write transfers nothing and returns 0: the request is not taken
                       // (not in received(), not counted: a fault limited to an occurrence
                       // keeps matching), has no effect and no reply
};

// A fault applies to every request that matches all the given criteria. Several
// faults may match one request: Unplug, UnplugBeforeWrite and WriteNothing win over all others,
// Nack is applied before the reply faults, Replace and Raw change a reply's bytes
// (the last one added wins), NoReply and LateReply decide when it is delivered.
struct Fault {
    FaultKind kind = FaultKind::NoReply;
    std::optional<uint32_t> can_id;         // request identifier; unset matches any
    std::optional<unsigned> occurrence;     // 0-based among requests with can_id (among all
                                            // requests when can_id is unset); unset: all
    std::optional<unsigned> request_number; // 0-based among all requests (the well-formed
                                            // output reports; see received()); unset: any
    int reply = -1;           // which reply of the request (0-based) is affected; -1: all.
                              // Replies before it go out normally; for NoReply and Nack later
                              // ones are dropped, for LateReply they are held back too. An index
                              // beyond the request's replies changes no reply.
    Message replacement;      // for Replace
    std::vector<uint8_t> raw; // for Raw: the whole input report, report number first

    static Fault on(FaultKind kind, uint32_t can_id, std::optional<unsigned> occurrence = {},
                    int reply = -1);
    static Fault atRequest(FaultKind kind, unsigned request_number, int reply = -1);
};

// One entry of the HID device list that hid_enumerate hands out.
struct EnumEntry {
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
    uint16_t usage_page = 0;
    std::string path;
    bool is_unit = false; // opening this path reaches the simulated unit; another
                          // path opens a device that takes every report and sends none
};

// A store as the unit performed it: the checksum it was given and the record it
// kept (for a good store crc32 already holds the given checksum).
struct StoreEvent {
    uint32_t crc = 0;
    Settings_t record{};
    bool corrupt = false; // crc differs from SimUnit::storeChecksum of the record held
};

// What the unit does on its reboot command. By default it restarts in place, at once, and
// holds the record it last stored: what was only sent is gone.
struct RebootBehaviour {
    unsigned away_looks = 0; // reads of the device list (hid_enumerate) that miss the unit after
                             // the reboot; while it is away every call to it fails
    bool never_returns = false;
    std::optional<uint32_t> serial_after;     // another unit answers after the reboot
    std::optional<Settings_t> settings_after; // what the new firmware stores in place of the
                                              // record (a reset or a migration)
};

class SimUnit {
public:
    static constexpr uint8_t OUTPUT_REPORT_ID = 5; // the only output report the unit takes
    static constexpr uint8_t INPUT_REPORT_ID = 5;  // put in front of every reply
    static constexpr uint32_t DEFAULT_SERIAL = 0x12345678u;
    static constexpr uint32_t SETTINGS_RECORD_MAGIC = 0x5F57565Au; // a valid record's marker
    static constexpr uint8_t STORE_ERASE_OP = OP_SECTOR_ERASE;     // the 0x256 of a store:
    static constexpr uint32_t STORE_ERASE_ADDRESS = 0;             // the settings sector erased

    SimUnit();

    // ---- configuration -------------------------------------------------
    // A plausibly configured record: units chosen, V-speeds, voltages,
    // registration, colours, brightness, magic 0x5F57565A, num_elements 26 and a
    // valid checksum. settings() may be changed freely afterwards.
    static Settings_t defaultSettings();
    // The checksum a store must carry for the record held: settings_CalcCRC of a
    // copy whose crc32 is 0, i.e. EFIS_crc over the record's num_elements words
    // (at most 26) from magic on, as the tool computes it before a store.
    static uint32_t storeChecksum(const Settings_t &record);
    Settings_t &settings() { return settings_; }
    // The record in the unit's non-volatile memory: what a store kept, and what a reboot
    // starts from. At first the record settings() holds.
    Settings_t &storedSettings() { return stored_; }
    void setRebootBehaviour(const RebootBehaviour &behaviour) { reboot_behaviour_ = behaviour; }
    void setSerialNumber(uint32_t serial) { serial_ = serial; }
    uint32_t serialNumber() const { return serial_; }
    void addFault(const Fault &fault) { faults_.push_back(fault); }
    void clearFaults() { faults_.clear(); }
    // Clears the faults and adds this one.
    void onlyFault(const Fault &f) {
        clearFaults();
        addFault(f);
    }
    // The device list; by default the unit alone, on the vendor usage page.
    std::vector<EnumEntry> &enumeration() { return enumeration_; }
    const std::vector<EnumEntry> &enumeration() const { return enumeration_; }
    // The CAN FD interface whose bus the unit is also on (reached through the simulated SocketCAN
    // of sim/socketcan, where a test program links it); empty, as at first: on no bus.
    void setCanInterface(const std::string &name) { can_interface_ = name; }
    const std::string &canInterface() const { return can_interface_; }
    // hid_open_path fails for every path.
    void setOpenFails(bool fails) { open_fails_ = fails; }
    bool openFails() const { return open_fails_; }
    // hid_open_path of the unit's interface fails with errno set to `error`, as the
    // system's open() of a hidraw node does (EACCES: a node left to root); 0: opens.
    void setOpenError(int error) { open_error_ = error; }
    int openError() const { return open_error_; }
    // Pause before each reply is delivered (the demo uses it; tests keep 0).
    void setReplyDelayMicros(unsigned us) { reply_delay_us_ = us; }
    // Each reply takes this long to arrive, and the read waits for it in a system call, as a
    // read of the kernel's HID stack does: a signal that lands meanwhile ends that read with -1
    // and errno EINTR (the reply stays on its way). 0: replies are there at once.
    void setReplyWaitMillis(int ms) { reply_wait_ms_ = ms; }

    // Pull the plug now: every later hidapi call fails, and the unit is no longer listed.
    void unplug() { unplugged_ = true; }
    // Plug it in again: listed, and opened afresh; the handles opened before the unplug stay
    // dead, as a removed device node does. What the unit held waiting to be read is gone.
    void plugIn();
    // Counts the plug-ins, so that a handle knows whether it was opened since the last one.
    unsigned plugGeneration() const { return plug_generation_; }
    // Queue an input report the unit sends unasked (tests of the stale-message discard);
    // it is read after the replies already pending.
    void injectInputReport(const std::vector<uint8_t> &report) { pending_.push_back(report); }
    SimFlash &flash() { return flash_; }
    const SimFlash &flash() const { return flash_; }

    // ---- observation ---------------------------------------------------
    // The requests: output reports with report number 5, a full header and
    // exactly msg_len (at most 64) bytes of payload; `data` holds those bytes.
    // The unit answers only a request of its own length for the identifier.
    const std::vector<Message> &received() const { return received_; }
    // Every output report that reached the unit, malformed ones included.
    const std::vector<std::vector<uint8_t>> &outputReports() const { return output_reports_; }
    const std::vector<StoreEvent> &stores() const { return stores_; }
    bool corruptStoreSeen() const;
    // Vanished: unplugged, or away after a reboot.
    bool unplugged() const { return unplugged_ || away_; }
    bool rebootRequested() const { return reboot_requested_; }
    unsigned reboots() const { return reboots_; }
    // When the last request reached the unit (for the benchmark's accounting).
    std::chrono::steady_clock::time_point lastRequestAt() const { return last_request_at_; }
    int lastReadTimeout() const { return last_read_timeout_; }
    // Reads that found nothing to deliver: each one a full read time-out on a real unit.
    unsigned timeoutsWaited() const { return timeouts_waited_; }
    std::size_t pendingReports() const { return pending_.size(); }
    std::size_t heldBackReports() const { return held_back_.size() + held_past_next_.size(); }

    // ---- transport side, used by the hidapi backend ---------------------
    // An output report as handed to hid_write; returns what hid_write returns:
    // length once taken, -1 once unplugged (or for no bytes at all).
    // `iface` is the link it came over (the simulated CAN FD bus hands its frames over so too).
    int onOutputReport(const uint8_t *data, std::size_t length, uint8_t iface = USB_HID);
    // Fills buf with the next input report (cut to length, as hidapi does) and
    // returns the bytes stored; 0 when none is pending (at once, whatever the
    // time-out: the held-back replies become pending then), -1 once unplugged.
    int readInputReport(uint8_t *buf, std::size_t length, int timeout_ms);
    // The device list is read: a unit away after its reboot comes back when its looks are over.
    void onEnumerate();

private:
    // Answers one decoded request: the replies it would send, in order, and, when
    // apply is true, its effect.
    std::vector<Message> handle(const Message &request, bool apply);
    std::vector<Fault> matchingFaults(const Message &request) const;
    static std::vector<uint8_t> encode(const Message &reply);
    // Moves the held-back replies, in order, behind the pending ones.
    void releaseHeldBack();
    // The reboot command taken: the unit restarts from its stored record.
    void reboot();

    Settings_t settings_;
    Settings_t stored_;
    uint32_t serial_;
    SimFlash flash_;
    std::vector<Fault> faults_;
    std::vector<EnumEntry> enumeration_;
    std::string can_interface_;
    bool open_fails_ = false;
    int open_error_ = 0;
    unsigned reply_delay_us_ = 0;
    int reply_wait_ms_ = 0;
    bool unplugged_ = false;
    unsigned plug_generation_ = 0;
    bool reboot_requested_ = false;
    unsigned reboots_ = 0;
    RebootBehaviour reboot_behaviour_;
    bool away_ = false;
    unsigned away_looks_left_ = 0;
    std::chrono::steady_clock::time_point last_request_at_{};
    int last_read_timeout_ = -2;
    unsigned timeouts_waited_ = 0;
    std::vector<Message> received_;
    std::map<uint32_t, unsigned> received_per_id_; // requests received, by identifier
    std::vector<std::vector<uint8_t>> output_reports_;
    std::vector<StoreEvent> stores_;
    std::deque<std::vector<uint8_t>> pending_;        // input reports ready to be read
    std::deque<std::vector<uint8_t>> held_back_;      // late replies not yet arrived
    std::deque<std::vector<uint8_t>> held_past_next_; // replies that arrive after the next request
};

// The unit that the hidapi backend talks to: the first of units().
SimUnit &unit();
// Every unit plugged into the simulated machine; the hidapi backend lists the interfaces of
// each, in this order. A unit keeps its place (and its address) until reset().
std::deque<SimUnit> &units();
// One more unit, with its own interface on the vendor usage page at `path` and the serial
// number `serial`.
SimUnit &addUnit(const std::string &path, uint32_t serial);
// A fresh unit with the default configuration and zeroed hidapi call counts, the only one
// (call at the start of every test). Handles opened before on the first unit stay valid and
// reach the new unit.
void reset();

// Reads of any unit that a signal interrupted (see setReplyWaitMillis); safe to read from another
// thread, as a test that sends the signal does.
std::atomic<unsigned> &interruptedWaits();

// Calls the backend saw, for tests of the transport's use of hidapi. The list and
// handle counts pair up: every list handed out must be freed, every handle closed.
struct HidCalls {
    int init = 0;
    int exit = 0;
    int enumerate = 0;        // device lists handed out (an empty result is null: not counted)
    int free_enumeration = 0; // hid_free_enumeration calls with a list
    int open = 0;             // handles handed out by hid_open_path
    int close = 0;            // hid_close calls with an open handle
};
HidCalls &hidCalls();

} // namespace sim

#endif // SIM_UNIT_H
