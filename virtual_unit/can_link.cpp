#include "can_link.h"

#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "can_export.h"

namespace vu {

namespace {

constexpr uint8_t OUTPUT_REPORT_ID = 5;

// The length a controller puts on the bus for `len` data bytes: the next one a CAN FD
// frame carries exactly.
uint8_t paddedLength(uint8_t len) {
    static const uint8_t lengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
    for (const uint8_t l : lengths) {
        if (l >= len) {
            return l;
        }
    }
    return 64;
}

// The bus's other traffic: sensor and instrument messages of the unit's table, which
// answer nothing the tool asks. One is an extended-format frame whose low eleven bits are
// the acknowledgement's identifier and whose data read as an acknowledgement, and one a
// classic CAN frame.
struct Broadcast {
    canid_t id;
    bool fd;
    uint8_t len;
    uint8_t data[16];
};
const Broadcast BROADCASTS[] = {
    {CANMSG_ACC, true, 12, {0x10, 0x00, 0xF0, 0xFF, 0xE8, 0x03, 0, 0, 0, 0, 0, 0}},
    {CANMSG_ST_PRES, true, 4, {0x8C, 0x8B, 0x01, 0x00}},
    {CANMSG_ACK | CAN_EFF_FLAG, true, 6, {0x78, 0x03, 0x00, 0x00, 0xEF, 0x15}},
    {CANMSG_GYRO, true, 12, {0x01, 0x00, 0x02, 0x00, 0xFD, 0xFF, 0, 0, 0, 0, 0, 0}},
    {CANMSG_GPS_ALT, false, 8, {0xD0, 0x07, 0, 0, 0, 0, 0, 0}},
    {CANMSG_IDRIVE_KEEPALIVE, true, 1, {0x01}},
    {CANMSG_EFIS_LOG,
     true,
     16,
     {'v', 'u', ' ', 'b', 'u', 's', ' ', 't', 'r', 'a', 'f', 'f', 'i', 'c', 0, 0}},
    {CANMSG_INS_HEADING, true, 4, {0x10, 0x0E, 0x00, 0x00}},
};

} // namespace

CanLink::~CanLink() {
    close();
}

bool CanLink::open(const std::string &interface_name, std::string *error) {
    close();
    if (interface_name.empty() || interface_name.size() >= IFNAMSIZ) {
        *error = "no such CAN interface name: " + interface_name;
        return false;
    }
    const int fd = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
        *error = std::string("cannot open a CAN socket: ") + std::strerror(errno);
        return false;
    }
    ifreq ifr;
    std::memset(&ifr, 0, sizeof(ifr));
    std::memcpy(ifr.ifr_name, interface_name.c_str(), interface_name.size());
    const int enable = 1;
    sockaddr_can addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.can_family = AF_CAN;
    const char *step = "finding";
    bool ok = ::ioctl(fd, SIOCGIFINDEX, &ifr) == 0;
    addr.can_ifindex = ifr.ifr_ifindex;
    if (ok) {
        step = "enabling CAN FD frames on";
        ok = ::setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FD_FRAMES, &enable, sizeof(enable)) == 0;
    }
    if (ok) {
        step = "binding to";
        ok = ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
    }
    if (!ok) {
        *error =
            std::string(step) + " CAN interface " + interface_name + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    name_ = interface_name;
    return true;
}

void CanLink::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool CanLink::readFrame(canfd_frame *frame, bool *fd_frame) {
    std::memset(frame, 0, sizeof(*frame));
    const ssize_t got = ::read(fd_, frame, sizeof(*frame));
    if (got != static_cast<ssize_t>(CANFD_MTU) && got != static_cast<ssize_t>(CAN_MTU)) {
        return false;
    }
    *fd_frame = got == static_cast<ssize_t>(CANFD_MTU);
    return true;
}

FrameRequest CanLink::toRequest(const canfd_frame &frame) {
    FrameRequest out;
    if ((frame.can_id & (CAN_EFF_FLAG | CAN_RTR_FLAG | CAN_ERR_FLAG)) != 0 ||
        frame.len > CANFD_MAX_DLEN) {
        return out;
    }
    out.is_request = true;
    // What a controller would have put on the bus: the unit sees the padding as data.
    const uint8_t len = paddedLength(frame.len);
    out.padded = len != frame.len;
    const uint32_t id = frame.can_id & CAN_SFF_MASK;
    out.report.assign(6u + len, 0);
    out.report[0] = OUTPUT_REPORT_ID;
    out.report[1] = static_cast<uint8_t>(id);
    out.report[2] = static_cast<uint8_t>(id >> 8);
    out.report[3] = static_cast<uint8_t>(id >> 16);
    out.report[4] = static_cast<uint8_t>(id >> 24);
    out.report[5] = len;
    std::memcpy(out.report.data() + 6, frame.data, frame.len);
    return out;
}

namespace {

bool sendFrame(int fd, const canfd_frame &frame, bool fd_frame) {
    const std::size_t size = fd_frame ? CANFD_MTU : CAN_MTU;
    for (;;) {
        const ssize_t sent = ::write(fd, &frame, size);
        if (sent == static_cast<ssize_t>(size)) {
            return true;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

} // namespace

bool CanLink::sendReply(const uint8_t *report, std::size_t length) {
    if (fd_ < 0 || length < 7) {
        return false;
    }
    canfd_frame frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.can_id = (static_cast<canid_t>(report[2]) | static_cast<canid_t>(report[3]) << 8 |
                    static_cast<canid_t>(report[4]) << 16 | static_cast<canid_t>(report[5]) << 24) &
                   CAN_SFF_MASK;
    const std::size_t len = report[6];
    if (len > CANFD_MAX_DLEN || 7 + len > length) {
        return false;
    }
    frame.len = paddedLength(static_cast<uint8_t>(len));
    frame.flags = CANFD_BRS;
    std::memcpy(frame.data, report + 7, len);
    return sendFrame(fd_, frame, true);
}

bool CanLink::sendBroadcast() {
    if (fd_ < 0) {
        return false;
    }
    const Broadcast &b = BROADCASTS[next_broadcast_];
    next_broadcast_ = (next_broadcast_ + 1) % (sizeof(BROADCASTS) / sizeof(BROADCASTS[0]));
    canfd_frame frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.can_id = b.id;
    frame.len = b.len;
    frame.flags = b.fd ? CANFD_BRS : 0;
    std::memcpy(frame.data, b.data, b.len);
    return sendFrame(fd_, frame, b.fd);
}

} // namespace vu
