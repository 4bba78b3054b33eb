#include "sim_unit.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include <cerrno>

#include "get_set.h"
#include "pause.h"

namespace sim {

namespace {

constexpr uint8_t REBOOT_MAGIC = 0x48;
constexpr std::size_t OUTPUT_HEADER = 6; // report number, identifier (4), msg_len

uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void putLe32(std::vector<uint8_t> &out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

Message message(uint32_t can_id, std::vector<uint8_t> data) {
    Message m;
    m.iface = USB_HID;
    m.can_id = can_id;
    m.msg_len = static_cast<uint8_t>(data.size());
    m.data = std::move(data);
    return m;
}

// CANMSG_ACK (or CANMSG_NACK) naming the request: its identifier, then the markers.
Message acknowledgement(uint32_t request_id, uint32_t can_id = CANMSG_ACK) {
    std::vector<uint8_t> data;
    putLe32(data, request_id);
    data.push_back(COMMS_MARKER_0);
    data.push_back(COMMS_MARKER_1);
    return message(can_id, std::move(data));
}

// CANMSG_MX25_ACK: the op performed and a 32-bit address or partition value.
Message status(uint8_t op, uint32_t value) {
    std::vector<uint8_t> data{op};
    putLe32(data, value);
    return message(CANMSG_MX25_ACK, std::move(data));
}

Message flashRefusal() {
    return message(CANMSG_MX25_NACK, {});
}

// What the unit sends in place of a reply when it refuses the request.
Message refusal(const Message &reply, uint32_t request_id) {
    if (reply.can_id == CANMSG_MX25_ACK) {
        return flashRefusal();
    }
    return acknowledgement(request_id, CANMSG_NACK);
}

bool affects(const Fault &f, std::size_t reply_index) {
    return f.reply < 0 || static_cast<std::size_t>(f.reply) == reply_index;
}

bool hasKind(const std::vector<Fault> &faults, FaultKind kind) {
    return std::any_of(faults.begin(), faults.end(),
                       [kind](const Fault &f) { return f.kind == kind; });
}

// Whether an erase of that kind and number lies on the chip.
bool eraseFits(uint8_t op, uint16_t number) {
    switch (op) {
    case OP_SECTOR_ERASE:
        return static_cast<uint64_t>(number) * MX25_SECTOR_SIZE + MX25_SECTOR_SIZE <=
               SimFlash::SIZE;
    case OP_BLOCK_ERASE:
        return static_cast<uint64_t>(number) * MX25_BLOCK_SIZE + MX25_BLOCK_SIZE <= SimFlash::SIZE;
    case OP_CHIP_ERASE:
        return true;
    default:
        return false;
    }
}

} // namespace

Fault Fault::on(FaultKind kind, uint32_t can_id, std::optional<unsigned> occurrence, int reply) {
    Fault f;
    f.kind = kind;
    f.can_id = can_id;
    f.occurrence = occurrence;
    f.reply = reply;
    return f;
}

Fault Fault::atRequest(FaultKind kind, unsigned request_number, int reply) {
    Fault f;
    f.kind = kind;
    f.request_number = request_number;
    f.reply = reply;
    return f;
}

SimUnit::SimUnit() : settings_(defaultSettings()), stored_(settings_), serial_(DEFAULT_SERIAL) {
    EnumEntry entry;
    entry.vendor_id = ::vendor_id;
    entry.product_id = ::product_id;
    entry.usage_page = COMMS_VENDOR_USAGE_PAGE;
    entry.path = "sim:efis-display-unit";
    entry.is_unit = true;
    enumeration_.push_back(entry);
}

Settings_t SimUnit::defaultSettings() {
    Settings_t s;
    std::memset(&s, 0, sizeof(s));
    s.magic = SETTINGS_RECORD_MAGIC;
    s.version = 1;
    s.num_elements = SETTINGS_MAX_CRC_WORDS;
    s.units.bits.is_knots = 1;
    s.units.bits.is_feet = 1;
    s.units.bits.is_inhg = 1;
    s.units.bits.is_celsius = 1;
    s.vspeeds.Vmin = 40;
    s.vspeeds.Vs0 = 45;
    s.vspeeds.Vs1 = 50;
    s.vspeeds.Vfe = 85;
    s.vspeeds.Vn0 = 120;
    s.vspeeds.Vne = 150;
    s.vspeeds.VRef = 65;
    s.vspeeds.Vlo = 90;
    s.volt_warnings.min_volts = 115;
    s.volt_warnings.max_volts = 150;
    s.volt_alerts.min_volts = 110;
    s.volt_alerts.max_volts = 155;
    static const char registration[] = "G-ABCD"; // characters in memory order
    std::memcpy(s.registration, registration, sizeof(registration) - 1);
    s.sky_color[0] = 0xFF87CEEBu;
    s.sky_color[1] = 0xFF4682B4u;
    s.ground_color[0] = 0xFF228B22u;
    s.ground_color[1] = 0xFF8B4513u;
    s.vref_indi_color = 0xFF00FFFFu;
    s.airplane_color = 0xFFFFA500u;
    s.green_arc_color = 0xFF00C000u;
    s.yellow_arc_color = 0xFFFFD700u;
    s.red_arc_color = 0xFFE00000u;
    s.gear_indi_color = 0xFF32CD32u;
    s.backlight_brightness = 15;
    s.roll_correction = 0.0f;
    s.pitch_correction = 0.5f;
    s.text_bg_alpha = 150;
    s.use_mag_heading = 0;
    s.crc32 = 0;
    s.crc32 = settings_CalcCRC(&s);
    return s;
}

uint32_t SimUnit::storeChecksum(const Settings_t &record) {
    Settings_t copy = record;
    copy.crc32 = 0; // as the tool clears it, so that the erased-record rule never applies
    return settings_CalcCRC(&copy);
}

bool SimUnit::corruptStoreSeen() const {
    return std::any_of(stores_.begin(), stores_.end(),
                       [](const StoreEvent &e) { return e.corrupt; });
}

std::vector<uint8_t> SimUnit::encode(const Message &reply) {
    std::vector<uint8_t> report;
    report.reserve(7 + reply.data.size());
    report.push_back(INPUT_REPORT_ID);
    report.push_back(reply.iface);
    putLe32(report, reply.can_id);
    report.push_back(reply.msg_len);
    report.insert(report.end(), reply.data.begin(), reply.data.end());
    return report;
}

std::vector<Fault> SimUnit::matchingFaults(const Message &request) const {
    std::vector<Fault> matching;
    if (faults_.empty()) {
        return matching;
    }
    const auto number = static_cast<unsigned>(received_.size());
    const auto counted = received_per_id_.find(request.can_id);
    const unsigned same_id = counted == received_per_id_.end() ? 0 : counted->second;
    for (const Fault &f : faults_) {
        if (f.can_id && *f.can_id != request.can_id) {
            continue;
        }
        if (f.occurrence && *f.occurrence != (f.can_id ? same_id : number)) {
            continue;
        }
        if (f.request_number && *f.request_number != number) {
            continue;
        }
        matching.push_back(f);
    }
    return matching;
}

int SimUnit::onOutputReport(const uint8_t *data, std::size_t length, uint8_t iface) {
    if (unplugged() || data == nullptr || length == 0) {
        return -1;
    }
    const int taken = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
    std::vector<uint8_t> report(data, data + length);

    // A request needs the unit's report number, a full header and the payload it announces.
    Message request;
    bool well_formed = length >= OUTPUT_HEADER && data[0] == OUTPUT_REPORT_ID;
    if (well_formed) {
        request.iface = iface;
        request.can_id = le32(data + 1);
        request.msg_len = data[5];
        well_formed =
            request.msg_len <= COMMS_MSG_DATA_LEN && OUTPUT_HEADER + request.msg_len == length;
    }
    if (!well_formed) {
        output_reports_.push_back(std::move(report)); // taken, not understood, not answered
        return taken;
    }
    request.data.assign(data + OUTPUT_HEADER, data + OUTPUT_HEADER + request.msg_len);

    const std::vector<Fault> faults = matchingFaults(request);
    if (hasKind(faults, FaultKind::UnplugBeforeWrite)) {
        unplugged_ = true;
        return -1;
    }
    if (hasKind(faults, FaultKind::WriteNothing)) {
        return 0;
    }
    output_reports_.push_back(std::move(report));

    // Late replies of an earlier request arrive at the latest now, ahead of this one's.
    releaseHeldBack();
    while (!held_past_next_.empty()) {
        pending_.push_back(std::move(held_past_next_.front()));
        held_past_next_.pop_front();
    }
    received_.push_back(request);
    ++received_per_id_[request.can_id];
    last_request_at_ = std::chrono::steady_clock::now();

    if (hasKind(faults, FaultKind::Unplug)) {
        unplugged_ = true;
        return taken;
    }

    const auto nack = std::find_if(faults.begin(), faults.end(),
                                   [](const Fault &f) { return f.kind == FaultKind::Nack; });
    std::vector<Message> replies = handle(request, nack == faults.end());
    if (nack != faults.end()) {
        const std::size_t k = nack->reply < 0 ? 0 : static_cast<std::size_t>(nack->reply);
        if (k < replies.size()) {
            replies[k] = refusal(replies[k], request.can_id);
            replies.resize(k + 1);
        }
    }

    bool late = false;
    bool after_next = false;
    for (std::size_t i = 0; i < replies.size(); ++i) {
        std::vector<uint8_t> bytes = encode(replies[i]);
        bool silent = false;
        for (const Fault &f : faults) {
            if (!affects(f, i)) {
                continue;
            }
            switch (f.kind) {
            case FaultKind::Replace:
                bytes = encode(f.replacement);
                break;
            case FaultKind::Raw:
                bytes = f.raw;
                break;
            case FaultKind::NoReply:
                silent = true;
                break;
            case FaultKind::LateReply:
                late = true;
                break;
            case FaultKind::ReplyAfterNext:
                after_next = true;
                break;
            default:
                break;
            }
        }
        if (silent) {
            break; // the unit says nothing more for this request
        }
        (after_next ? held_past_next_ : late ? held_back_ : pending_).push_back(std::move(bytes));
    }
    return taken;
}

void SimUnit::releaseHeldBack() {
    while (!held_back_.empty()) {
        pending_.push_back(std::move(held_back_.front()));
        held_back_.pop_front();
    }
}

int SimUnit::readInputReport(uint8_t *buf, std::size_t length, int timeout_ms) {
    last_read_timeout_ = timeout_ms;
    if (unplugged() || buf == nullptr || length == 0) {
        return -1;
    }
    if (pending_.empty()) {
        // This read times out; what was held back arrives right after it.
        if (timeout_ms > 0) {
            ++timeouts_waited_;
        }
        releaseHeldBack();
        return 0;
    }
    if (reply_delay_us_ != 0) {
        // As long as asked on every system: a plain sleep of less than a millisecond may return
        // at once on Windows, and the unit would answer faster than it was told to.
        platform::ExactPauses pauses;
        pauses.pause(std::chrono::microseconds(reply_delay_us_));
    }
    if (reply_wait_ms_ > 0 && timeout_ms != 0) {
        // As the kernel's hidraw read does, the wait for the reply sits in poll(), which a signal
        // interrupts whatever the handler's flags: hidapi then returns -1 with errno EINTR, and
        // the reply is still on its way.
        const int wait =
            timeout_ms > 0 && timeout_ms < reply_wait_ms_ ? timeout_ms : reply_wait_ms_;
        if (!platform::waitUnlessSignalled(wait)) {
            interruptedWaits().fetch_add(1);
            return -1;
        }
    }
    const std::vector<uint8_t> report = std::move(pending_.front());
    pending_.pop_front();
    const std::size_t n = std::min({length, report.size(), static_cast<std::size_t>(INT_MAX)});
    if (n != 0) {
        std::memcpy(buf, report.data(), n);
    }
    return static_cast<int>(n);
}

void SimUnit::reboot() {
    reboot_requested_ = true;
    ++reboots_;
    if (reboot_behaviour_.settings_after) {
        stored_ = *reboot_behaviour_.settings_after;
    }
    settings_ = stored_;
    if (reboot_behaviour_.serial_after) {
        serial_ = *reboot_behaviour_.serial_after;
    }
    // Nothing sent before the restart is answered after it.
    pending_.clear();
    held_back_.clear();
    held_past_next_.clear();
    away_ = reboot_behaviour_.never_returns || reboot_behaviour_.away_looks != 0;
    away_looks_left_ = reboot_behaviour_.away_looks;
}

void SimUnit::onEnumerate() {
    if (!away_ || reboot_behaviour_.never_returns) {
        return;
    }
    if (away_looks_left_ > 0) {
        --away_looks_left_;
        return;
    }
    away_ = false;
}

std::vector<Message> SimUnit::handle(const Message &request, bool apply) {
    const std::vector<uint8_t> &d = request.data;
    const std::size_t len = d.size();
    std::vector<Message> replies;

    switch (request.can_id) {
    case CANMSG_WHOAMI:
        if (len == 2 && d[0] == COMMS_MARKER_0 && d[1] == COMMS_MARKER_1) {
            replies.push_back(
                message(CANMSG_WHOAMI,
                        {COMMS_MARKER_0, COMMS_MARKER_1, 0x00, 0x00,
                         static_cast<uint8_t>(serial_ >> 24), static_cast<uint8_t>(serial_ >> 16),
                         static_cast<uint8_t>(serial_ >> 8), static_cast<uint8_t>(serial_)}));
        }
        break;

    case CANMSG_REQUEST_USER_SETTING:
        if (len == 1) {
            const uint32_t value =
                settings_get_value(&settings_, static_cast<settings_struct_index>(d[0]));
            std::vector<uint8_t> data;
            putLe32(data, value);
            replies.push_back(message(CANMSG_SEND_USER_SETTING, std::move(data)));
        }
        break;

    case CANMSG_SET_USER_SETTING:
        if (len == 5) {
            const uint32_t value = le32(&d[1]);
            Settings_t work = settings_;
            const bool ok =
                settings_set_value(&work, static_cast<settings_struct_index>(d[0]), &value);
            if (ok && apply) {
                settings_ = work;
            }
            replies.push_back(
                acknowledgement(CANMSG_SET_USER_SETTING, ok ? CANMSG_ACK : CANMSG_NACK));
        }
        break;

    case CANMSG_SAVE_USER_SETTINGS:
        if (len == 4) {
            if (apply) {
                StoreEvent event;
                event.crc = le32(&d[0]);
                // The unit keeps its record under the checksum it is given, matching or not:
                // a wrong one shows at the next load as a checksum mismatch.
                // A store writes a valid record: an erased one gets its marker, as the checksum
                // the tool computes covers the marker it sets.
                if (settings_.magic == 0xFFFFFFFFu) {
                    settings_.magic = SETTINGS_RECORD_MAGIC;
                }
                event.corrupt = event.crc != storeChecksum(settings_);
                settings_.crc32 = event.crc;
                stored_ = settings_;
                event.record = settings_;
                stores_.push_back(event);
            }
            replies.push_back(status(STORE_ERASE_OP, STORE_ERASE_ADDRESS));
            replies.push_back(acknowledgement(CANMSG_SAVE_USER_SETTINGS));
        }
        break;

    case CANMSG_ENTER_BL:
        if (len == 1 && d[0] == REBOOT_MAGIC && apply) {
            reboot();
        }
        break;

    case CANMSG_ERASE_MX25:
        if (len == 3) {
            const uint8_t op = d[0];
            const auto number = static_cast<uint16_t>(d[1] | d[2] << 8);
            bool ok = eraseFits(op, number);
            if (ok && apply) {
                switch (op) {
                case OP_SECTOR_ERASE:
                    ok = flash_.eraseSector(number);
                    break;
                case OP_BLOCK_ERASE:
                    ok = flash_.eraseBlock(number);
                    break;
                default:
                    flash_.eraseChip();
                    break;
                }
            }
            replies.push_back(acknowledgement(CANMSG_ERASE_MX25));
            replies.push_back(ok ? status(op, mx25_erase_address(op, number)) : flashRefusal());
        }
        break;

    case CANMSG_SET_ADDR_MX25:
        if (len == 4) {
            const uint32_t address = le32(&d[0]);
            if (address < SimFlash::SIZE) {
                if (apply) {
                    flash_.setAddress(address);
                }
                replies.push_back(status(OP_NONE, address));
            } else {
                replies.push_back(flashRefusal());
            }
        }
        break;

    case CANMSG_WRITE_MX25: {
        const uint32_t at = flash_.address();
        bool ok = len >= 1 && static_cast<uint64_t>(at) + len <= SimFlash::SIZE;
        if (len >= 1 && apply) {
            ok = flash_.write(d.data(), len); // flags a write that leaves the chip
        }
        replies.push_back(ok ? status(OP_WRITE, at) : flashRefusal());
        break;
    }

    case CANMSG_GET_PARTITION:
        if (len != 0) {
            break;
        }
        replies.push_back(acknowledgement(CANMSG_GET_PARTITION));
        replies.push_back(flash_.partitionNack()
                              ? flashRefusal()
                              : status(OP_GETPART, static_cast<uint32_t>(flash_.partition())));
        break;

    default:
        break; // not a request this unit answers
    }
    return replies;
}

void SimUnit::plugIn() {
    unplugged_ = false;
    ++plug_generation_;
    pending_.clear();
    held_back_.clear();
    held_past_next_.clear();
}

std::deque<SimUnit> &units() {
    static std::deque<SimUnit> all(1);
    return all;
}

SimUnit &unit() {
    return units().front();
}

std::atomic<unsigned> &interruptedWaits() {
    static std::atomic<unsigned> count{0};
    return count;
}

SimUnit &addUnit(const std::string &path, uint32_t serial) {
    SimUnit &added = units().emplace_back();
    added.enumeration().front().path = path;
    added.setSerialNumber(serial);
    return added;
}

// hidCalls() lives with the hidapi functions, so that every program using the unit
// also links them, wherever the library stands on its link line.
void reset() {
    units().resize(1);
    unit() = SimUnit();
    hidCalls() = HidCalls{};
}

} // namespace sim
