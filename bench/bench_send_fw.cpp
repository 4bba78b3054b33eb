// Sends a full 4 MiB image to the simulated unit, with no link latency, and
// prints what the transfer costs: the exchanges the unit received, the wall
// time and how it divides (everything before the payload; the payload
// exchanges, from each packet's request to its confirmation; the pauses, from
// one confirmation to the next packet's request; what follows the last
// packet), each measured once during the same transfer, so that the parts add
// up to the wall time; the CPU time per exchange; and the mean length of a
// 100 us pause with the thread's default timer slack and with the slack the
// transfer lowers it to (it must hand the default back when done). Then checks
// that the unit's flash holds the image. The transfer's own lines go to
// /dev/null; the figures to stdout.
//   bench_send_fw
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "comms.h"
#include "firmware_ops.h"
#include "sim_unit.h"
#include "wire.h"

namespace {

using Clock = std::chrono::steady_clock;

// CPU time of this process (user and system), in seconds. The simulated unit
// runs in the same process, so its share is included.
double cpuSeconds() {
    rusage usage;
    std::memset(&usage, 0, sizeof(usage));
    if (getrusage(RUSAGE_SELF, &usage) != 0) {
        return 0.0;
    }
    const auto seconds = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The mean real duration of a 100 µs pause on this machine, with the thread's
// timer slack set to `slack_ns` for the measurement (0: as it stands).
double meanPauseSeconds(int samples, unsigned long slack_ns) {
    const int saved = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (slack_ns != 0) {
        prctl(PR_SET_TIMERSLACK, slack_ns, 0, 0, 0);
    }
    const auto start = Clock::now();
    for (int i = 0; i < samples; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const double mean = std::chrono::duration<double>(Clock::now() - start).count() / samples;
    if (slack_ns != 0 && saved > 0) {
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(saved), 0, 0, 0);
    }
    return mean;
}

// A 64-block image: header, then a payload that fills the rest of the blocks.
std::vector<uint8_t> makeImage() {
    const uint32_t total_size = FW_PARTITION_BLOCKS * MX25_BLOCK_SIZE;
    const uint32_t encrypted_size = total_size - FW_HEADER_SIZE;
    std::vector<uint8_t> image(FW_HEADER_SIZE + encrypted_size);
    wire::putLe32(&image[0], 0x57464D45u);
    wire::putLe32(&image[4], 0x00010002u);
    wire::putLe32(&image[8], total_size);
    wire::putLe32(&image[12], encrypted_size);
    wire::putLe32(&image[16], encrypted_size);
    wire::putLe32(&image[44], FW_HEADER_SIZE);
    uint32_t state = 0x9E3779B9u;
    for (std::size_t i = 20; i < image.size(); ++i) {
        if (i >= 44 && i < 48) {
            continue;
        }
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        image[i] = static_cast<uint8_t>(state);
    }
    return image;
}

bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// The payload's time, divided at the moments the unit took each packet's request (the
// simulated unit's clock) and the transfer reported its confirmation (this callback).
struct PayloadClock {
    unsigned long packets = 0;
    Clock::time_point first_request{};
    Clock::time_point last_confirmation{};
    double exchanges = 0.0; // request taken to confirmation reported
    double pauses = 0.0;    // confirmation reported to the next request taken
};

void followPayload(uint32_t, uint32_t, int phase, void *user) {
    if (phase != 1) {
        return;
    }
    auto *clock = static_cast<PayloadClock *>(user);
    const Clock::time_point confirmed = Clock::now();
    const Clock::time_point requested = sim::unit().lastRequestAt();
    if (clock->packets == 0) {
        clock->first_request = requested;
    } else {
        clock->pauses +=
            std::chrono::duration<double>(requested - clock->last_confirmation).count();
    }
    clock->exchanges += std::chrono::duration<double>(confirmed - requested).count();
    clock->last_confirmation = confirmed;
    ++clock->packets;
}

double share(double part, double whole) {
    return whole > 0.0 ? part * 100.0 / whole : 0.0;
}

} // namespace

int main() {
    char dir_template[] = "/tmp/bench_send_fw.XXXXXX";
    if (mkdtemp(dir_template) == nullptr) {
        std::fprintf(stderr, "bench_send_fw: cannot create a temporary directory\n");
        return 1;
    }
    const std::string path = std::string(dir_template) + "/image.bin";
    const std::vector<uint8_t> image = makeImage();
    if (!writeFile(path, image)) {
        std::fprintf(stderr, "bench_send_fw: cannot write %s\n", path.c_str());
        return 1;
    }

    sim::reset();
    sim::unit().setReplyDelayMicros(0);
    sim::unit().flash().setPartition(partition_1);

    // The transfer's lines (some 65,000) would bury the figures.
    std::fflush(stdout);
    const int saved_stdout = dup(fileno(stdout));
    if (saved_stdout < 0 || std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::fprintf(stderr, "bench_send_fw: cannot silence the standard output\n");
        return 1;
    }

    const int slack_before = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    bool connected = false;
    bool ok = false;
    std::size_t requests_before = 0;
    double wall = 0.0;
    double cpu = 0.0;
    PayloadClock payload;
    Clock::time_point transfer_start{};
    Clock::time_point transfer_end{};
    {
        CommsManager comms;
        connected = comms.establish_connection();
        if (connected) {
            requests_before = sim::unit().received().size();
            transfer_start = Clock::now();
            const double transfer_cpu_start = cpuSeconds();
            ok = send_fw(&comms, path.c_str(), followPayload, &payload);
            transfer_end = Clock::now();
            cpu = cpuSeconds() - transfer_cpu_start;
            wall = std::chrono::duration<double>(transfer_end - transfer_start).count();
        }
    }

    const int slack_after = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    std::fflush(stdout);
    dup2(saved_stdout, fileno(stdout));
    close(saved_stdout);
    std::clearerr(stdout);

    if (!connected) {
        std::printf("bench_send_fw: the simulated unit could not be connected\n");
        return 1;
    }

    const std::size_t exchanges = sim::unit().received().size() - requests_before;
    const unsigned long packets = payload.packets;
    const double before_payload =
        packets != 0 ? std::chrono::duration<double>(payload.first_request - transfer_start).count()
                     : wall;
    const double after_payload =
        packets != 0
            ? std::chrono::duration<double>(transfer_end - payload.last_confirmation).count()
            : 0.0;
    const double default_pause = meanPauseSeconds(2000, 0);
    const double slack_pause = meanPauseSeconds(2000, 1);
    const double pause_in_transfer = packets > 1 ? payload.pauses / (packets - 1) : 0.0;

    const uint32_t base = FW_PARTITION_1_START_BLOCK * MX25_BLOCK_SIZE;
    const std::vector<uint8_t> flash = sim::unit().flash().read(base, image.size());
    const bool flash_holds_image = flash == image;
    const bool clean = sim::unit().flash().violations().empty();

    std::printf("image:                 %zu bytes (total_size %u, encrypted_size %zu)\n",
                image.size(), FW_PARTITION_BLOCKS * MX25_BLOCK_SIZE, image.size() - FW_HEADER_SIZE);
    std::printf("send_fw result:        %s\n", ok ? "true" : "false");
    std::printf("exchanges:             %zu requests received by the unit\n", exchanges);
    std::printf("payload packets:       %lu\n", packets);
    std::printf("wall time:             %.3f s, of which\n", wall);
    std::printf("  before the payload:  %.3f s = %5.1f%% (partition, erase, address, header)\n",
                before_payload, share(before_payload, wall));
    std::printf("  payload exchanges:   %.3f s = %5.1f%% (request to confirmation, %lu packets)\n",
                payload.exchanges, share(payload.exchanges, wall), packets);
    std::printf("  pauses:              %.3f s = %5.1f%% (confirmation to the next request)\n",
                payload.pauses, share(payload.pauses, wall));
    std::printf("  after the payload:   %.3f s = %5.1f%%\n", after_payload,
                share(after_payload, wall));
    std::printf("CPU time:              %.3f s (tool and simulated unit, one process)\n", cpu);
    std::printf("CPU time per exchange: %.2f us\n",
                exchanges != 0 ? cpu * 1e6 / static_cast<double>(exchanges) : 0.0);
    std::printf("mean pause:            %.1f us in the transfer (100 us asked, slack 1 ns);\n"
                "                       afterwards, over 2000 pauses each: %.1f us with the\n"
                "                       default slack of %d ns, %.1f us with a slack of 1 ns\n",
                pause_in_transfer * 1e6, default_pause * 1e6, slack_before, slack_pause * 1e6);
    std::printf("timer slack restored:  %s (%d ns after the transfer)\n",
                slack_after == slack_before ? "yes" : "NO", slack_after);
    std::printf("flash holds the image: %s\n", flash_holds_image ? "yes" : "NO");
    std::printf("flash violations:      %zu\n", sim::unit().flash().violations().size());

    std::remove(path.c_str());
    rmdir(dir_template);
    return ok && flash_holds_image && clean && slack_after == slack_before ? 0 : 1;
}
