#include "sim_socketcan.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "sim_unit.h"

namespace {

// The interface index of the first bus: beyond any a test machine numbers its own interfaces.
constexpr int FIRST_INDEX = 7000;
// The CAN sockets of the program, by descriptor. A plain array: it is read by every write and
// close of the program, also from other threads and after the program's statics are gone.
constexpr int MAX_FD = 4096;
std::atomic<bool> simulated[MAX_FD];

bool isSimulated(int fd) {
    return fd >= 0 && fd < MAX_FD && simulated[fd].load(std::memory_order_relaxed);
}

struct Socket {
    int peer = -1;                           // the end the bus writes the unit's replies to
    std::string bus;                         // the interface bound to; empty before bind
    std::vector<can_filter> filters{{0, 0}}; // the kernel's default takes every frame
};

std::map<int, Socket> &sockets() {
    static std::map<int, Socket> all;
    return all;
}

template <typename F> F real(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

ssize_t realWrite(int fd, const void *buf, size_t n) {
    static const auto call = real<ssize_t (*)(int, const void *, size_t)>("write");
    return call(fd, buf, n);
}

// The buses are the interfaces the units are placed on; each has a fixed index.
std::vector<std::string> &busNames() {
    static std::vector<std::string> names;
    return names;
}

bool busExists(const std::string &name) {
    for (const sim::SimUnit &unit : sim::units()) {
        if (!name.empty() && unit.canInterface() == name) {
            return true;
        }
    }
    return false;
}

int busIndex(const std::string &name) {
    std::vector<std::string> &names = busNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return FIRST_INDEX + static_cast<int>(i);
        }
    }
    names.push_back(name);
    return FIRST_INDEX + static_cast<int>(names.size() - 1);
}

std::string busAt(int index) {
    const std::vector<std::string> &names = busNames();
    const int i = index - FIRST_INDEX;
    return i >= 0 && i < static_cast<int>(names.size()) ? names[static_cast<std::size_t>(i)]
                                                        : std::string();
}

// A controller pads a length that no frame carries up to the next one that does.
uint8_t frameLength(std::size_t length) {
    for (const uint8_t l : {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64}) {
        if (l >= length) {
            return l;
        }
    }
    return CANFD_MAX_DLEN;
}

bool takes(const Socket &socket, canid_t id) {
    for (const can_filter &f : socket.filters) {
        if ((id & f.can_mask) == (f.can_id & f.can_mask)) {
            return true;
        }
    }
    return false;
}

// A reply as the unit queues it for USB (report number, interface, identifier LE, length, data),
// put on the bus as one frame for every socket on it that takes its identifier.
void deliver(const std::string &bus, const uint8_t *report, std::size_t length) {
    if (length < 7 || report[0] != sim::SimUnit::INPUT_REPORT_ID) {
        return; // nothing a unit's controller would send
    }
    canfd_frame frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.can_id = (static_cast<canid_t>(report[2]) | static_cast<canid_t>(report[3]) << 8 |
                    static_cast<canid_t>(report[4]) << 16 | static_cast<canid_t>(report[5]) << 24) &
                   CAN_SFF_MASK;
    const std::size_t carried = std::min<std::size_t>(report[6], length - 7);
    frame.len = frameLength(std::min<std::size_t>(carried, CANFD_MAX_DLEN));
    std::memcpy(frame.data, report + 7, std::min<std::size_t>(carried, CANFD_MAX_DLEN));
    for (const auto &[fd, socket] : sockets()) {
        if (socket.bus == bus && takes(socket, frame.can_id)) {
            // A full receive queue drops the frame, as the kernel's does.
            (void)realWrite(socket.peer, &frame, sizeof(frame));
        }
    }
}

// A frame the tool wrote: every unit on the bus hears it and answers at once.
void onFrame(const std::string &bus, const canfd_frame &frame) {
    ++sim::canCalls().frames_written;
    std::vector<uint8_t> request(6 + frame.len);
    request[0] = sim::SimUnit::OUTPUT_REPORT_ID;
    for (int i = 0; i < 4; ++i) {
        request[1 + i] = static_cast<uint8_t>(frame.can_id >> (8 * i));
    }
    request[5] = frame.len;
    std::memcpy(request.data() + 6, frame.data, frame.len);
    for (sim::SimUnit &unit : sim::units()) {
        if (unit.canInterface() != bus || unit.unplugged()) {
            continue; // away, or on another bus: it hears nothing
        }
        unit.onOutputReport(request.data(), request.size(), CAN_FD);
        uint8_t reply[128];
        while (unit.pendingReports() > 0) {
            const int n = unit.readInputReport(reply, sizeof(reply), 0);
            if (n <= 0) {
                break;
            }
            deliver(bus, reply, static_cast<std::size_t>(n));
        }
    }
}

} // namespace

namespace sim {

CanCalls &canCalls() {
    static CanCalls calls;
    return calls;
}

} // namespace sim

extern "C" {

int socket(int domain, int type, int protocol) __THROW {
    static const auto call = real<int (*)(int, int, int)>("socket");
    if (domain != PF_CAN) {
        return call(domain, type, protocol);
    }
    if ((type & ~(SOCK_CLOEXEC | SOCK_NONBLOCK)) != SOCK_RAW || protocol != CAN_RAW) {
        errno = EPROTONOSUPPORT;
        return -1;
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | (type & SOCK_CLOEXEC), 0, ends) != 0) {
        return -1;
    }
    if (ends[0] >= MAX_FD || ends[1] >= MAX_FD) {
        ::close(ends[0]);
        ::close(ends[1]);
        errno = EMFILE;
        return -1;
    }
    ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
    if ((type & SOCK_NONBLOCK) != 0) {
        ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    }
    Socket socket;
    socket.peer = ends[1];
    sockets()[ends[0]] = socket;
    simulated[ends[0]].store(true);
    ++sim::canCalls().opened;
    return ends[0];
}

int ioctl(int fd, unsigned long request, ...) __THROW {
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    static const auto call = real<int (*)(int, unsigned long, void *)>("ioctl");
    if (!isSimulated(fd)) {
        return call(fd, request, arg);
    }
    auto *ifr = static_cast<ifreq *>(arg);
    const std::string name(ifr->ifr_name, strnlen(ifr->ifr_name, IFNAMSIZ));
    if (!busExists(name)) {
        errno = ENODEV;
        return -1;
    }
    switch (request) {
    case SIOCGIFINDEX:
        ifr->ifr_ifindex = busIndex(name);
        return 0;
    case SIOCGIFMTU:
        ifr->ifr_mtu = static_cast<int>(CANFD_MTU);
        return 0;
    case SIOCGIFFLAGS:
        ifr->ifr_flags = IFF_UP | IFF_RUNNING | IFF_NOARP;
        return 0;
    default:
        errno = ENOTTY;
        return -1;
    }
}

int setsockopt(int fd, int level, int name, const void *value, socklen_t length) __THROW {
    static const auto call = real<int (*)(int, int, int, const void *, socklen_t)>("setsockopt");
    if (!isSimulated(fd)) {
        return call(fd, level, name, value, length);
    }
    if (level != SOL_CAN_RAW || (length != 0 && value == nullptr)) {
        errno = ENOPROTOOPT;
        return -1;
    }
    if (name == CAN_RAW_FILTER) {
        if (length % sizeof(can_filter) != 0) {
            errno = EINVAL;
            return -1;
        }
        const auto *filters = static_cast<const can_filter *>(value);
        sockets()[fd].filters.assign(filters, filters + length / sizeof(can_filter));
    }
    return 0;
}

int bind(int fd, const sockaddr *address, socklen_t length) __THROW {
    static const auto call = real<int (*)(int, const sockaddr *, socklen_t)>("bind");
    if (!isSimulated(fd)) {
        return call(fd, address, length);
    }
    const auto *can = reinterpret_cast<const sockaddr_can *>(address);
    const std::string bus =
        length >= sizeof(sockaddr_can) && can->can_family == AF_CAN ? busAt(can->can_ifindex) : "";
    if (bus.empty() || !busExists(bus)) {
        errno = ENODEV;
        return -1;
    }
    sockets()[fd].bus = bus;
    return 0;
}

ssize_t write(int fd, const void *buf, size_t n) {
    if (!isSimulated(fd)) {
        return realWrite(fd, buf, n);
    }
    const Socket &socket = sockets()[fd];
    if (socket.bus.empty()) {
        errno = EDESTADDRREQ;
        return -1;
    }
    if ((n != CANFD_MTU && n != CAN_MTU) || buf == nullptr) {
        errno = EINVAL;
        return -1;
    }
    canfd_frame frame;
    std::memset(&frame, 0, sizeof(frame));
    std::memcpy(&frame, buf, n);
    if (frame.len > (n == CAN_MTU ? CAN_MAX_DLEN : CANFD_MAX_DLEN)) {
        errno = EINVAL;
        return -1;
    }
    onFrame(socket.bus, frame);
    return static_cast<ssize_t>(n);
}

int close(int fd) {
    static const auto call = real<int (*)(int)>("close");
    if (isSimulated(fd)) {
        simulated[fd].store(false);
        const auto found = sockets().find(fd);
        if (found != sockets().end()) {
            call(found->second.peer);
            sockets().erase(found);
        }
        ++sim::canCalls().closed;
    }
    return call(fd);
}

} // extern "C"
