// efis-virtual-unit's command line.
#include "options.h"

#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comms_types.h"

namespace vu {

namespace {

void usage(std::FILE *to) {
    std::fprintf(to,
                 "usage: %s [options]\n"
                 "Serves the simulated display unit through /dev/uhid as a USB HID device\n"
                 "(vendor 0x%04X, product 0x%04X) until interrupted.\n"
                 "  --serial NUMBER        serial number the unit reports (default 0x%08X)\n"
                 "  --reply-delay-us N     pause before each reply, in microseconds\n"
                 "  --decoy                first create another interface of the same vendor\n"
                 "                         and product on another usage page, which answers "
                 "nothing\n"
                 "  --partition 1|2        firmware partition the unit reports (default 1)\n"
                 "  --unplug-after N       answer N requests, take the next one and vanish\n"
                 "  --summary FILE         write the summary there instead of standard output\n"
                 "  --image-out FILE       write the firmware image the unit received there\n"
                 "  --can IFACE            also answer CAN FD frames on the SocketCAN interface\n"
                 "  --no-usb               with --can: no USB HID device, the bus alone\n"
                 "  --broadcast            with --can: a frame of other bus traffic ahead of\n"
                 "                         every reply\n"
                 "  --reboot-away-ms N     on the reboot command, leave the bus (the USB\n"
                 "                         device goes) and come back after N ms\n"
                 "  --reboot-resets-settings  come back from a reboot with a factory record\n"
                 "                         (no V-speeds, no registration) stored\n"
                 "SIGUSR1 pulls the plug at once; SIGINT or SIGTERM ends the run. Both print the\n"
                 "summary.\n",
                 PROGRAM, static_cast<unsigned>(::vendor_id), static_cast<unsigned>(::product_id),
                 static_cast<unsigned>(sim::SimUnit::DEFAULT_SERIAL));
}

bool parseNumber(const char *text, unsigned long long max, unsigned long long *out) {
    if (text == nullptr || *text == '\0' || *text == '-') {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v > max) {
        return false;
    }
    *out = v;
    return true;
}

} // namespace

// Returns 0 when parsed, otherwise the exit status.
int parseOptions(int argc, char **argv, Options *o) {
    enum {
        SERIAL = 1,
        DELAY,
        DECOY,
        PARTITION,
        UNPLUG,
        SUMMARY,
        IMAGE,
        CAN,
        NO_USB,
        BROADCAST,
        REBOOT_AWAY,
        REBOOT_RESETS,
        HELP
    };
    static const option longopts[] = {
        {"serial", required_argument, nullptr, SERIAL},
        {"reply-delay-us", required_argument, nullptr, DELAY},
        {"decoy", no_argument, nullptr, DECOY},
        {"partition", required_argument, nullptr, PARTITION},
        {"unplug-after", required_argument, nullptr, UNPLUG},
        {"summary", required_argument, nullptr, SUMMARY},
        {"image-out", required_argument, nullptr, IMAGE},
        {"can", required_argument, nullptr, CAN},
        {"no-usb", no_argument, nullptr, NO_USB},
        {"broadcast", no_argument, nullptr, BROADCAST},
        {"reboot-away-ms", required_argument, nullptr, REBOOT_AWAY},
        {"reboot-resets-settings", no_argument, nullptr, REBOOT_RESETS},
        {"help", no_argument, nullptr, HELP},
        {nullptr, 0, nullptr, 0},
    };
    int c;
    while ((c = getopt_long(argc, argv, "", longopts, nullptr)) != -1) {
        unsigned long long v = 0;
        switch (c) {
        case SERIAL:
            // 0xFFFFFFFF is how the tool reads a failed exchange: no unit can have it.
            if (!parseNumber(optarg, 0xFFFFFFFEull, &v)) {
                std::fprintf(stderr, "%s: --serial takes a number below 0xFFFFFFFF\n", PROGRAM);
                return 2;
            }
            o->serial = static_cast<uint32_t>(v);
            break;
        case DELAY:
            if (!parseNumber(optarg, 10000000ull, &v)) {
                std::fprintf(stderr, "%s: --reply-delay-us takes 0 to 10000000\n", PROGRAM);
                return 2;
            }
            o->reply_delay_us = static_cast<unsigned>(v);
            break;
        case DECOY:
            o->decoy = true;
            break;
        case PARTITION:
            if (std::strcmp(optarg, "1") == 0) {
                o->partition = partition_1;
            } else if (std::strcmp(optarg, "2") == 0) {
                o->partition = partition_2;
            } else {
                std::fprintf(stderr, "%s: --partition takes 1 or 2\n", PROGRAM);
                return 2;
            }
            break;
        case UNPLUG:
            if (!parseNumber(optarg, UINT_MAX, &v)) {
                std::fprintf(stderr, "%s: --unplug-after takes a number of requests\n", PROGRAM);
                return 2;
            }
            o->unplug_after = static_cast<long>(v);
            break;
        case SUMMARY:
            o->summary_path = optarg;
            break;
        case IMAGE:
            o->image_path = optarg;
            break;
        case CAN:
            o->can_interface = optarg;
            break;
        case NO_USB:
            o->usb = false;
            break;
        case BROADCAST:
            o->broadcast = true;
            break;
        case REBOOT_AWAY:
            if (!parseNumber(optarg, 600000ull, &v)) {
                std::fprintf(stderr, "%s: --reboot-away-ms takes 0 to 600000\n", PROGRAM);
                return 2;
            }
            o->reboot_away_ms = static_cast<long>(v);
            break;
        case REBOOT_RESETS:
            o->reboot_resets = true;
            break;
        case HELP:
            usage(stdout);
            return 1;
        default:
            usage(stderr);
            return 2;
        }
    }
    if (optind != argc) {
        usage(stderr);
        return 2;
    }
    if (o->can_interface.empty() && (!o->usb || o->broadcast)) {
        std::fprintf(stderr, "%s: --no-usb and --broadcast need --can\n", PROGRAM);
        return 2;
    }
    if (o->reboot_away_ms >= 0 && !o->usb) {
        std::fprintf(stderr, "%s: --reboot-away-ms needs the USB HID device\n", PROGRAM);
        return 2;
    }
    if (!o->usb && o->decoy) {
        std::fprintf(stderr, "%s: --decoy needs the USB HID device\n", PROGRAM);
        return 2;
    }
    return 0;
}

} // namespace vu
