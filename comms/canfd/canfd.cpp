#include "canfd.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#if defined(__linux__)
#include <cerrno>
#include <chrono>

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// The lengths a CAN FD frame carries exactly, shortest first.
constexpr std::size_t FRAME_LENGTHS[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};

} // namespace

bool CANFD::carriesLength(std::size_t length) {
    for (const std::size_t l : FRAME_LENGTHS) {
        if (l == length) {
            return true;
        }
    }
    return false;
}

std::size_t CANFD::longestFrameLength(std::size_t length) {
    std::size_t best = 0;
    for (const std::size_t l : FRAME_LENGTHS) {
        if (l <= length) {
            best = l;
        }
    }
    return best;
}

CANFD::CANFD() : socket_fd(-1), connected(false) {}

CANFD::~CANFD() {
    disconnect();
}

int CANFD::read(COMMS_MSG_t *msg) {
    return read(msg, READ_TIMEOUT_MS);
}

int CANFD::write(const uint8_t *data, std::size_t length) {
    // Laid out as the USB HID transport's message bytes: identifier, length, payload.
    if (data == nullptr || length < 5 || length != 5u + data[4] || data[4] > COMMS_MSG_DATA_LEN) {
        return -1;
    }
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.iface = CAN_FD;
    msg.can_ID = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                 static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    msg.msg_len = data[4];
    std::memcpy(msg.data, data + 5, data[4]);
    return write(msg);
}

#if defined(__linux__)

namespace {

// The identifiers that answer the tool: the serial number, the acknowledgement and its
// refusal, the flash status replies and a settings field's value. Everything else on the
// bus (sensor data, traffic, the instruments' own chatter) stays out of the socket.
constexpr canid_t REPLY_IDS[] = {CANMSG_WHOAMI,   CANMSG_ACK,       CANMSG_NACK,
                                 CANMSG_MX25_ACK, CANMSG_MX25_NACK, CANMSG_SEND_USER_SETTING};

} // namespace

bool CANFD::connect(const std::string &name) {
    if (socket_fd >= 0 || connected) {
        disconnect();
    }
    was_lost = false;
    in_use = false;
    in_use_name.clear();
    // IFNAMSIZ counts the terminating NUL; a longer name would be cut and could name
    // another interface.
    if (name.empty() || name.size() >= IFNAMSIZ || name.find('\0') != std::string::npos) {
        return false;
    }
    // One program per unit on the bus, as on USB: the lock comes before the socket.
    if (lock.take(CAN_FD, name) == UnitLock::Outcome::InUse) {
        in_use = true;
        in_use_name = name;
        return false;
    }
    const int fd = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
        lock.release();
        return false; // no CAN support in this kernel, or not allowed
    }

    ifreq ifr;
    std::memset(&ifr, 0, sizeof(ifr));
    std::memcpy(ifr.ifr_name, name.c_str(), name.size());
    // A classic CAN interface (MTU 16) cannot carry a 64-byte flash write.
    bool usable = ::ioctl(fd, SIOCGIFINDEX, &ifr) == 0;
    const int index = ifr.ifr_ifindex;
    usable =
        usable && ::ioctl(fd, SIOCGIFMTU, &ifr) == 0 && ifr.ifr_mtu >= static_cast<int>(CANFD_MTU);

    const int enable = 1;
    usable =
        usable && ::setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FD_FRAMES, &enable, sizeof(enable)) == 0;

    // Standard data frames with a reply identifier only: the mask takes in the
    // extended-format and remote-request flags, so that neither kind passes.
    can_filter filters[sizeof(REPLY_IDS) / sizeof(REPLY_IDS[0])];
    for (std::size_t i = 0; i < sizeof(REPLY_IDS) / sizeof(REPLY_IDS[0]); ++i) {
        filters[i].can_id = REPLY_IDS[i];
        filters[i].can_mask = CAN_SFF_MASK | CAN_EFF_FLAG | CAN_RTR_FLAG;
    }
    usable = usable && ::setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FILTER, filters, sizeof(filters)) == 0;

    sockaddr_can addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.can_family = AF_CAN;
    addr.can_ifindex = index;
    usable = usable && ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
    if (!usable) {
        ::close(fd);
        lock.release();
        return false;
    }
    socket_fd = fd;
    connected = true;
    interface_name = name;
    return true;
}

void CANFD::disconnect() {
    if (socket_fd >= 0) {
        ::close(socket_fd);
        socket_fd = -1;
    }
    lock.release();
    connected = false;
    interface_name.clear();
}

bool CANFD::interfaceUp(const std::string &name) {
    if (name.empty() || name.size() >= IFNAMSIZ || name.find('\0') != std::string::npos) {
        return false;
    }
    const int fd = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
        return false;
    }
    ifreq ifr;
    std::memset(&ifr, 0, sizeof(ifr));
    std::memcpy(ifr.ifr_name, name.c_str(), name.size());
    const bool up = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0 && (ifr.ifr_flags & IFF_UP) != 0;
    ::close(fd);
    return up;
}

bool CANFD::checkPresent() {
    if (!isConnected()) {
        return false;
    }
    if (!interfaceUp(interface_name)) {
        markLost();
    }
    return isConnected();
}

void CANFD::noticeGone(int error) {
    if (error == ENETDOWN || error == ENODEV || error == ENXIO) {
        markLost();
    }
}

void CANFD::markLost() {
    disconnect();
    was_lost = true;
    std::printf("CAN FD interface disconnected\n");
}

int CANFD::write(const COMMS_MSG_t &msg) {
    if (!isConnected() || msg.can_ID > CAN_SFF_MASK || msg.msg_len > COMMS_MSG_DATA_LEN ||
        !carriesLength(msg.msg_len)) {
        return -1;
    }
    canfd_frame frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.can_id = msg.can_ID;
    frame.len = msg.msg_len;
    // The data phase at the bus's data bit rate, as its other CAN FD nodes send.
    frame.flags = CANFD_BRS;
#ifdef CANFD_FDF
    frame.flags |= CANFD_FDF;
#endif
    std::memcpy(frame.data, msg.data, msg.msg_len);
    for (;;) {
        const ssize_t sent = ::write(socket_fd, &frame, sizeof(frame));
        if (sent == static_cast<ssize_t>(sizeof(frame))) {
            return static_cast<int>(sent);
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0) {
            noticeGone(errno);
        }
        return -1;
    }
}

int CANFD::read(COMMS_MSG_t *msg, int timeout_ms) {
    if (!isConnected() || msg == nullptr) {
        return -1;
    }
    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        pollfd p{socket_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            noticeGone(errno);
            return -1;
        }
        if (ready == 0) {
            return 0;
        }
        canfd_frame frame;
        std::memset(&frame, 0, sizeof(frame));
        const ssize_t got = ::read(socket_fd, &frame, sizeof(frame));
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got < 0) {
            noticeGone(errno);
            return -1;
        }
        // A classic frame from another node arrives as CAN_MTU bytes; both carry the
        // identifier, the length and the data at the same places.
        if (got != static_cast<ssize_t>(CANFD_MTU) && got != static_cast<ssize_t>(CAN_MTU)) {
            return -1;
        }
        std::memset(msg, 0, sizeof(*msg));
        msg->iface = CAN_FD;
        // The flag bits the kernel keeps above the identifier are no part of it.
        msg->can_ID = frame.can_id & CAN_SFF_MASK;
        msg->msg_len = frame.len;
        const std::size_t carried =
            got == static_cast<ssize_t>(CAN_MTU) ? CAN_MAX_DLEN : CANFD_MAX_DLEN;
        std::size_t n = frame.len < carried ? frame.len : carried;
        if (n > COMMS_MSG_DATA_LEN) {
            n = COMMS_MSG_DATA_LEN;
        }
        std::memcpy(msg->data, frame.data, n);
        return static_cast<int>(got);
    }
}

#else // no SocketCAN on this platform: every operation fails.

bool CANFD::interfaceUp(const std::string &) {
    return false;
}

bool CANFD::checkPresent() {
    return false;
}

bool CANFD::connect(const std::string &) {
    connected = false;
    // Every connection attempt asks again; the person is told once.
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) {
        std::printf("CAN FD is not available on this system\n");
    }
    return false;
}

void CANFD::disconnect() {
    connected = false;
    interface_name.clear();
}

int CANFD::read(COMMS_MSG_t *, int) {
    return -1;
}

int CANFD::write(const COMMS_MSG_t &) {
    return -1;
}

#endif
