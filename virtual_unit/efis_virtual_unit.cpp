// efis-virtual-unit: the simulated display unit of sim/ served behind /dev/uhid, so that the
// kernel lists it as a USB HID device with the unit's identity and the real tool, linked to
// the system hidapi library, reaches it through its hidraw node as it reaches a unit.
//
// Every output report the kernel hands over goes to the simulated unit; the replies the unit
// has ready afterwards go back as input reports, zero padded to the report's size as a USB
// device sends them. With --can, the same unit also answers CAN FD frames on a SocketCAN
// interface, each reply a frame, with frames of the bus's other traffic between them on
// request. One line per request on standard output; a key=value summary on exit.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "can_link.h"
#include "options.h"
#include "get_set.h"
#include "sim_unit.h"
#include "uhid_device.h"

namespace {

using vu::Options;
using vu::PROGRAM;
constexpr std::size_t OUTPUT_HEADER = 6; // report number, identifier (4), length
constexpr std::size_t INPUT_REPORT = 1 + vu::UNIT_INPUT_REPORT_DATA;

uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// 64-bit FNV-1a: a fingerprint of the image that a check can compare with its file's.
uint64_t fnv1a64(const std::vector<uint8_t> &bytes) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (const uint8_t b : bytes) {
        h ^= b;
        h *= 0x100000001B3ull;
    }
    return h;
}

const char *violationName(sim::SimFlash::ViolationKind kind) {
    switch (kind) {
    case sim::SimFlash::ViolationKind::NotErased:
        return "not_erased";
    case sim::SimFlash::ViolationKind::OutsidePartition:
        return "outside_partition";
    case sim::SimFlash::ViolationKind::OutOfRange:
        return "out_of_range";
    case sim::SimFlash::ViolationKind::EraseOutsidePartition:
        return "erase_outside_partition";
    }
    return "unknown";
}

bool isFlashRequest(uint32_t can_id) {
    return can_id == CANMSG_GET_PARTITION || can_id == CANMSG_ERASE_MX25 ||
           can_id == CANMSG_SET_ADDR_MX25 || can_id == CANMSG_WRITE_MX25;
}

// What the server saw besides what the simulated unit records itself.
struct Served {
    unsigned output_reports = 0;
    unsigned padded_reports = 0; // output reports longer than their request, zeros after it
    unsigned replies = 0;
    unsigned replies_lost = 0; // input reports or frames the kernel did not take
    unsigned can_frames = 0;   // frames read from the CAN FD interface
    unsigned can_padded = 0;   // request frames of a length a controller pads
    unsigned can_other = 0;    // frames that are no request (extended, remote, error)
    unsigned broadcasts = 0;   // frames of other traffic sent between the replies
    unsigned broadcasts_lost = 0;
    bool image_address_set = false;
    uint32_t image_address = 0;
    unsigned flash_exchanges = 0;
    std::chrono::steady_clock::time_point flash_first{};
    std::chrono::steady_clock::time_point flash_last{};
    bool plug_pulled = false;
};

class Server {
public:
    Server(sim::SimUnit &unit, const Options &options) : unit_(unit), options_(options) {}

    // Takes one output report of the kernel, answers it and prints its line.
    void onOutputReport(const uint8_t *data, std::size_t length) { onRequest(data, length, false); }
    // Takes one frame of the CAN FD interface, answers it on the bus and prints its line.
    void onFrame(const canfd_frame &frame);
    void pullPlug(const char *why);
    bool plugPulled() const { return served_.plug_pulled; }
    void attach(vu::UhidDevice *unit_device, vu::UhidDevice *decoy_device, vu::CanLink *can) {
        unit_device_ = unit_device;
        decoy_device_ = decoy_device;
        can_ = can;
    }
    bool writeSummary() const;
    bool writeImage() const;

private:
    // The request in an output report, answered on the bus when `on_can` is true, else as
    // input reports.
    void onRequest(const uint8_t *data, std::size_t length, bool on_can);
    std::vector<uint8_t> image() const;
    void summary(std::FILE *out) const;

    sim::SimUnit &unit_;
    const Options &options_;
    Served served_;
    vu::UhidDevice *unit_device_ = nullptr;
    vu::UhidDevice *decoy_device_ = nullptr;
    vu::CanLink *can_ = nullptr;
};

void Server::onFrame(const canfd_frame &frame) {
    ++served_.can_frames;
    const vu::FrameRequest request = vu::CanLink::toRequest(frame);
    if (!request.is_request) {
        ++served_.can_other;
        std::printf("frame 0x%08" PRIX32 " len %u: not a request\n",
                    static_cast<uint32_t>(frame.can_id), static_cast<unsigned>(frame.len));
        return;
    }
    if (request.padded) {
        ++served_.can_padded;
    }
    onRequest(request.report.data(), request.report.size(), true);
}

void Server::onRequest(const uint8_t *data, std::size_t length, bool on_can) {
    if (!on_can) {
        ++served_.output_reports;
    }
    // Whatever fills a report up to the interface's size after the bytes the request announces
    // is the host's concern, not part of the request.
    if (!on_can && length > OUTPUT_HEADER && data[0] == sim::SimUnit::OUTPUT_REPORT_ID) {
        const std::size_t wanted = OUTPUT_HEADER + data[5];
        if (wanted < length &&
            std::all_of(data + wanted, data + length, [](uint8_t b) { return b == 0; })) {
            length = wanted;
            ++served_.padded_reports;
        }
    }

    const std::size_t before = unit_.received().size();
    const auto now = std::chrono::steady_clock::now();
    unit_.onOutputReport(data, length);
    const bool is_request = unit_.received().size() > before;
    const sim::Message *request = is_request ? &unit_.received().back() : nullptr;

    std::string line;
    char buf[96];
    if (request != nullptr) {
        std::snprintf(buf, sizeof(buf), "request %zu: 0x%03" PRIX32 " len %u%s ->", before,
                      request->can_id, static_cast<unsigned>(request->msg_len),
                      on_can ? " (CAN FD)" : "");
        line = buf;
        if (isFlashRequest(request->can_id)) {
            if (served_.flash_exchanges == 0) {
                served_.flash_first = now;
            }
            ++served_.flash_exchanges;
        }
        if (request->can_id == CANMSG_SET_ADDR_MX25 && request->data.size() == 4 &&
            unit_.flash().address() == le32(request->data.data())) {
            served_.image_address_set = true;
            served_.image_address = unit_.flash().address();
        }
    } else {
        std::snprintf(buf, sizeof(buf), "output report of %zu bytes: not a request ->", length);
        line = buf;
    }

    // The replies ready now, each zero padded to the input report's size.
    unsigned sent = 0;
    for (;;) {
        uint8_t report[INPUT_REPORT];
        std::memset(report, 0, sizeof(report));
        const int n = unit_.readInputReport(report, sizeof(report), 0);
        if (n <= 0) {
            break;
        }
        ++sent;
        ++served_.replies;
        if (on_can) {
            // The bus carries other nodes' traffic between the unit's replies.
            if (options_.broadcast) {
                ++served_.broadcasts;
                if (!can_->sendBroadcast()) {
                    ++served_.broadcasts_lost;
                }
            }
            if (!can_->sendReply(report, static_cast<std::size_t>(n))) {
                ++served_.replies_lost;
            }
        } else if (unit_device_ == nullptr || !unit_device_->sendInput(report, sizeof(report))) {
            ++served_.replies_lost;
        }
        std::snprintf(buf, sizeof(buf), " 0x%03" PRIX32 " len %u", le32(report + 2),
                      static_cast<unsigned>(report[6]));
        line += buf;
    }
    if (sent == 0) {
        line += " no reply";
    }
    if (request != nullptr && isFlashRequest(request->can_id)) {
        served_.flash_last = std::chrono::steady_clock::now();
    }
    std::printf("%s\n", line.c_str());

    if (unit_.unplugged()) {
        pullPlug("after the requests it was to answer");
    }
}

void Server::pullPlug(const char *why) {
    if (served_.plug_pulled) {
        return;
    }
    served_.plug_pulled = true;
    unit_.unplug();
    // The whole USB device goes: every interface of it.
    if (unit_device_ != nullptr) {
        unit_device_->destroy();
    }
    if (decoy_device_ != nullptr) {
        decoy_device_->destroy();
    }
    if (can_ != nullptr) {
        can_->close();
    }
    std::printf("%s: plug pulled %s (%zu requests taken)\n", PROGRAM, why, unit_.received().size());
}

std::vector<uint8_t> Server::image() const {
    if (!served_.image_address_set) {
        return {};
    }
    const uint32_t end = unit_.flash().address();
    if (end <= served_.image_address) {
        return {};
    }
    return unit_.flash().read(served_.image_address, end - served_.image_address);
}

void Server::summary(std::FILE *out) const {
    const sim::SimFlash &flash = unit_.flash();
    std::fprintf(out, "serial=0x%08" PRIX32 "\n", unit_.serialNumber());
    std::fprintf(out, "requests=%zu\n", unit_.received().size());
    std::map<uint32_t, unsigned> by_id;
    for (const sim::Message &m : unit_.received()) {
        ++by_id[m.can_id];
    }
    for (const auto &entry : by_id) {
        std::fprintf(out, "requests.0x%03" PRIX32 "=%u\n", entry.first, entry.second);
    }
    std::fprintf(out, "output_reports=%u\n", served_.output_reports);
    std::fprintf(out, "malformed_reports=%zu\n",
                 unit_.outputReports().size() - unit_.received().size());
    std::fprintf(out, "padded_reports=%u\n", served_.padded_reports);
    std::fprintf(out, "replies=%u\n", served_.replies);
    std::fprintf(out, "replies_lost=%u\n", served_.replies_lost);
    std::fprintf(out, "can_frames=%u\n", served_.can_frames);
    std::fprintf(out, "can_padded_frames=%u\n", served_.can_padded);
    std::fprintf(out, "can_other_frames=%u\n", served_.can_other);
    std::fprintf(out, "broadcasts=%u\n", served_.broadcasts);
    std::fprintf(out, "broadcasts_lost=%u\n", served_.broadcasts_lost);

    const std::vector<sim::StoreEvent> &stores = unit_.stores();
    std::fprintf(out, "stores=%zu\n", stores.size());
    std::size_t mismatched = 0;
    for (std::size_t i = 0; i < stores.size(); ++i) {
        std::fprintf(out, "store.%zu.crc=0x%08" PRIX32 "\n", i, stores[i].crc);
        std::fprintf(out, "store.%zu.checksum_match=%d\n", i, stores[i].corrupt ? 0 : 1);
        mismatched += stores[i].corrupt ? 1 : 0;
    }
    std::fprintf(out, "stores_checksum_mismatch=%zu\n", mismatched);

    // The record the unit holds now, field by field as the tool reads it.
    Settings_t record = unit_.settings();
    std::fprintf(out, "record.crc32=0x%08" PRIX32 "\n", record.crc32);
    std::fprintf(out, "record.checksum_match=%d\n",
                 record.crc32 == sim::SimUnit::storeChecksum(record) ? 1 : 0);
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        std::fprintf(out, "record.%d=%" PRIu32 "\n", i,
                     settings_get_value(&record, static_cast<settings_struct_index>(i)));
    }

    std::fprintf(out, "flash_erases=%u\n", flash.eraseCount());
    std::fprintf(out, "flash_writes=%u\n", flash.writeCount());
    std::map<std::string, unsigned> violations;
    for (const sim::SimFlash::Violation &v : flash.violations()) {
        ++violations[violationName(v.kind)];
    }
    for (const auto *kind :
         {"not_erased", "outside_partition", "out_of_range", "erase_outside_partition"}) {
        std::fprintf(out, "flash_violations.%s=%u\n", kind, violations[kind]);
    }
    const std::vector<uint8_t> img = image();
    std::fprintf(out, "image_address=0x%08" PRIX32 "\n",
                 served_.image_address_set ? served_.image_address : 0u);
    std::fprintf(out, "image_length=%zu\n", img.size());
    std::fprintf(out, "image_fnv1a64=0x%016" PRIX64 "\n", fnv1a64(img));
    std::fprintf(out, "flash_exchanges=%u\n", served_.flash_exchanges);
    const double seconds =
        served_.flash_exchanges == 0
            ? 0.0
            : std::chrono::duration<double>(served_.flash_last - served_.flash_first).count();
    std::fprintf(out, "flash_seconds=%.3f\n", seconds);
    std::fprintf(out, "reboot_requested=%d\n", unit_.rebootRequested() ? 1 : 0);
    std::fprintf(out, "unplugged=%d\n", served_.plug_pulled ? 1 : 0);
}

bool Server::writeSummary() const {
    if (options_.summary_path.empty()) {
        std::printf("== summary\n");
        summary(stdout);
        return std::fflush(stdout) == 0;
    }
    std::FILE *out = std::fopen(options_.summary_path.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "%s: cannot write the summary to %s: %s\n", PROGRAM,
                     options_.summary_path.c_str(), std::strerror(errno));
        return false;
    }
    summary(out);
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "%s: writing the summary to %s failed\n", PROGRAM,
                     options_.summary_path.c_str());
        return false;
    }
    return true;
}

bool Server::writeImage() const {
    if (options_.image_path.empty()) {
        return true;
    }
    const std::vector<uint8_t> img = image();
    std::FILE *out = std::fopen(options_.image_path.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "%s: cannot write the image to %s: %s\n", PROGRAM,
                     options_.image_path.c_str(), std::strerror(errno));
        return false;
    }
    const bool ok = img.empty() || std::fwrite(img.data(), img.size(), 1, out) == 1;
    if (std::fclose(out) != 0 || !ok) {
        std::fprintf(stderr, "%s: writing the image to %s failed\n", PROGRAM,
                     options_.image_path.c_str());
        return false;
    }
    return true;
}

// Waits for the kernel to start the device's driver, then for its hidraw node, and says
// where the device is. False when the device failed before it started.
bool waitUntilStarted(vu::UhidDevice &device, const char *what) {
    for (;;) {
        pollfd p{device.fd(), POLLIN, 0};
        const int r = ::poll(&p, 1, 5000);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            std::fprintf(stderr, "%s: the kernel did not start the %s within 5 s\n", PROGRAM, what);
            return false;
        }
        uhid_event event;
        if (!device.readEvent(&event)) {
            std::fprintf(stderr, "%s: reading from /dev/uhid failed: %s\n", PROGRAM,
                         std::strerror(errno));
            return false;
        }
        if (event.type == UHID_START) {
            break;
        }
    }
    // The hidraw node is made right after the driver starts.
    std::string node;
    for (int i = 0; i < 200 && node.empty(); ++i) {
        node = device.hidrawNode();
        if (node.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::printf("%s: %s ready at %s (vendor 0x%04X, product 0x%04X, serial \"%s\")\n", PROGRAM,
                what, node.empty() ? "an unknown hidraw node" : node.c_str(),
                static_cast<unsigned>(device.identity().vendor),
                static_cast<unsigned>(device.identity().product), device.identity().uniq.c_str());
    return true;
}

} // namespace

int main(int argc, char **argv) {
    // The check that drives this program reads its lines while it runs.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    Options options;
    if (const int status = vu::parseOptions(argc, argv, &options); status != 0) {
        return status == 1 ? 0 : status;
    }

    sim::SimUnit unit;
    unit.setSerialNumber(options.serial);
    unit.setReplyDelayMicros(options.reply_delay_us);
    unit.flash().setPartition(options.partition);
    if (options.reboot_resets) {
        // What a new firmware that does not keep the settings starts from.
        Settings_t factory = sim::SimUnit::defaultSettings();
        std::memset(&factory.vspeeds, 0, sizeof(factory.vspeeds));
        std::memset(factory.registration, 0, sizeof(factory.registration));
        factory.crc32 = sim::SimUnit::storeChecksum(factory);
        sim::RebootBehaviour behaviour;
        behaviour.settings_after = factory;
        unit.setRebootBehaviour(behaviour);
    }
    if (options.unplug_after >= 0) {
        unit.addFault(sim::Fault::atRequest(sim::FaultKind::Unplug,
                                            static_cast<unsigned>(options.unplug_after)));
    }

    // Signals are taken as events of the loop, not in a handler.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        std::perror(PROGRAM);
        return 1;
    }
    const int sig_fd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (sig_fd < 0) {
        std::perror(PROGRAM);
        return 1;
    }

    char serial_text[16];
    std::snprintf(serial_text, sizeof(serial_text), "%08" PRIX32, options.serial);
    const std::string phys = std::string(PROGRAM) + "/" + std::to_string(::getpid());

    vu::UhidDevice decoy;
    vu::UhidDevice device;
    std::string error;
    if (options.decoy) {
        // Created first, so that it is listed ahead of the unit's interface.
        const vu::Identity id{"EFIS display unit (other interface)",
                              phys + "/input1",
                              serial_text,
                              ::vendor_id,
                              ::product_id,
                              vu::decoyReportDescriptor()};
        if (!decoy.create(id, &error)) {
            std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
            return 1;
        }
        if (!waitUntilStarted(decoy, "decoy interface")) {
            return 1;
        }
    }
    const vu::Identity unit_id{
        "EFIS display unit (virtual)", phys + "/input0", serial_text, ::vendor_id, ::product_id,
        vu::unitReportDescriptor()};
    if (options.usb) {
        if (!device.create(unit_id, &error)) {
            std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
            return 1;
        }
        if (!waitUntilStarted(device, "unit")) {
            return 1;
        }
    }
    vu::CanLink can;
    if (!options.can_interface.empty()) {
        if (!can.open(options.can_interface, &error)) {
            std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
            return 1;
        }
        std::printf("%s: unit ready on CAN FD interface %s%s\n", PROGRAM, can.name().c_str(),
                    options.broadcast ? ", with other bus traffic between its replies" : "");
    }
    std::printf("%s: serial number 0x%08" PRIX32 ", partition %d, reply delay %u us\n", PROGRAM,
                options.serial, options.partition == partition_1 ? 1 : 2, options.reply_delay_us);

    Server server(unit, options);
    server.attach(&device, options.decoy ? &decoy : nullptr, &can);

    bool running = true;
    int status = 0;
    while (running) {
        pollfd fds[4];
        nfds_t count = 0;
        fds[count++] = {sig_fd, POLLIN, 0};
        const nfds_t can_slot = can.opened() ? count : 0;
        if (can.opened()) {
            fds[count++] = {can.fd(), POLLIN, 0};
        }
        if (device.created()) {
            fds[count++] = {device.fd(), POLLIN, 0};
        }
        if (decoy.created()) {
            fds[count++] = {decoy.fd(), POLLIN, 0};
        }
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror(PROGRAM);
            status = 1;
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info;
            if (::read(sig_fd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
                if (info.ssi_signo == SIGUSR1) {
                    server.pullPlug("on SIGUSR1");
                } else {
                    std::printf("%s: stopping on signal %u\n", PROGRAM, info.ssi_signo);
                }
                running = false;
            }
        }
        for (nfds_t i = 1; i < count && running; ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            if (can_slot != 0 && i == can_slot) {
                canfd_frame frame;
                bool fd_frame = false;
                if (!can.readFrame(&frame, &fd_frame)) {
                    std::fprintf(stderr, "%s: reading from %s failed: %s\n", PROGRAM,
                                 can.name().c_str(), std::strerror(errno));
                    status = 1;
                    running = false;
                    break;
                }
                server.onFrame(frame);
                running = !server.plugPulled();
                continue;
            }
            vu::UhidDevice &from = fds[i].fd == device.fd() ? device : decoy;
            uhid_event event;
            if (!from.readEvent(&event)) {
                std::fprintf(stderr, "%s: reading from /dev/uhid failed: %s\n", PROGRAM,
                             std::strerror(errno));
                status = 1;
                running = false;
                break;
            }
            switch (event.type) {
            case UHID_OUTPUT:
                if (&from == &device) {
                    const std::size_t size =
                        std::min<std::size_t>(event.u.output.size, UHID_DATA_MAX);
                    const unsigned reboots = unit.reboots();
                    server.onOutputReport(event.u.output.data, size);
                    running = !server.plugPulled();
                    if (running && unit.reboots() != reboots && options.reboot_away_ms >= 0) {
                        // The unit restarts: its interface leaves the bus and comes back.
                        device.destroy();
                        std::printf("%s: rebooting, off the bus for %ld ms\n", PROGRAM,
                                    options.reboot_away_ms);
                        std::this_thread::sleep_for(
                            std::chrono::milliseconds(options.reboot_away_ms));
                        if (!device.create(unit_id, &error) || !waitUntilStarted(device, "unit")) {
                            std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
                            status = 1;
                            running = false;
                        }
                        break; // the next poll watches the device as it came back
                    }
                }
                // The other interface takes every report and answers none.
                break;
            case UHID_GET_REPORT:
            case UHID_SET_REPORT:
                from.refuseReportRequest(event);
                break;
            case UHID_OPEN:
                std::printf("%s: %s opened\n", PROGRAM, &from == &device ? "unit" : "decoy");
                break;
            case UHID_CLOSE:
                std::printf("%s: %s closed\n", PROGRAM, &from == &device ? "unit" : "decoy");
                break;
            default:
                break;
            }
        }
    }

    device.destroy();
    decoy.destroy();
    can.close();
    const bool image_ok = server.writeImage();
    const bool summary_ok = server.writeSummary();
    ::close(sig_fd);
    return status != 0 ? status : (image_ok && summary_ok ? 0 : 1);
}
