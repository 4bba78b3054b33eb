#include "unit_lock.h"

#include <cstdio>
#include <cstdlib>

#include "this_process.h"

namespace {

// A lock file's name: readable, from the interface's own path, and never the same for two paths.
std::string lockFileName(COMM_INTERFACE_t iface, const std::string &path) {
    constexpr std::size_t readable_part = 48;
    std::string name = iface == CAN_FD ? "can-" : "usb-";
    std::size_t kept = 0;
    for (char c : path) {
        if (kept == readable_part) {
            break;
        }
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!plain && (kept == 0 || name.back() == '_')) {
            continue;
        }
        name += plain ? c : '_';
        ++kept;
    }
    // FNV-1a over the whole path: two paths that read alike still get two files.
    uint32_t hash = 2166136261u;
    for (unsigned char c : path) {
        hash = (hash ^ c) * 16777619u;
    }
    char suffix[16];
    std::snprintf(suffix, sizeof(suffix), "-%08x.lock", static_cast<unsigned>(hash));
    return name + suffix;
}

} // namespace

std::string UnitLock::lockFilePath(COMM_INTERFACE_t iface, const std::string &path) {
    const std::string folder = platform::lockFolder();
    return folder.empty() ? std::string() : folder + "/" + lockFileName(iface, path);
}

UnitLock::Outcome UnitLock::take(COMM_INTERFACE_t iface, const std::string &path) {
    release();
    holder_ = UnitHolder();
    serial_ = 0xFFFFFFFFu;
    const std::string file = lockFilePath(iface, path);
    const auto refused = [&] {
        node_.release();
        file_.release();
        if (!file.empty()) {
            holder_ = parse_holder(platform::ExclusiveLock::readHolder(file));
        }
        return Outcome::InUse;
    };
    // The device node is the lock that every user of the machine shares.
    if (iface == USB_HID && !path.empty() && path.front() == '/' &&
        node_.take(path, false) == platform::ExclusiveLock::Outcome::HeldByOther) {
        return refused();
    }
    if (!file.empty() && file_.take(file, true) == platform::ExclusiveLock::Outcome::HeldByOther) {
        return refused();
    }
    if (!held()) {
        return Outcome::NotLocked;
    }
    writeHolder();
    return Outcome::Taken;
}

void UnitLock::release() {
    file_.release();
    node_.release();
}

void UnitLock::noteSerial(uint32_t serial) {
    serial_ = serial;
    writeHolder();
}

bool UnitLock::writeHolder() {
    if (!file_.held()) {
        return false;
    }
    UnitHolder me;
    me.program = platform::programName();
    me.pid = platform::processId();
    me.serial = serial_;
    return file_.writeHolder(holder_text(me));
}

bool UnitLock::inUse(COMM_INTERFACE_t iface, const std::string &path, UnitHolder *holder) {
    UnitLock probe;
    if (probe.take(iface, path) != Outcome::InUse) {
        return false;
    }
    if (holder != nullptr) {
        *holder = probe.holder();
    }
    return true;
}

std::string holder_text(const UnitHolder &holder) {
    std::string text = "program=" + holder.program + "\npid=" + std::to_string(holder.pid) + "\n";
    if (holder.serial != 0xFFFFFFFFu) {
        char serial[32];
        std::snprintf(serial, sizeof(serial), "serial=0x%08X\n",
                      static_cast<unsigned>(holder.serial));
        text += serial;
    }
    return text;
}

UnitHolder parse_holder(const std::string &text) {
    UnitHolder holder;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        char *rest = nullptr;
        if (key == "program") {
            // Shown to the person: printable characters only, and not too many.
            std::string name;
            for (char c : value) {
                if (c >= 0x20 && c < 0x7F && name.size() < 64) {
                    name += c;
                }
            }
            holder.program = name;
        } else if (key == "pid" && !value.empty()) {
            const unsigned long pid = std::strtoul(value.c_str(), &rest, 10);
            holder.pid = *rest == '\0' ? pid : 0;
        } else if (key == "serial" && !value.empty()) {
            const unsigned long serial = std::strtoul(value.c_str(), &rest, 16);
            holder.serial = *rest == '\0' && serial <= 0xFFFFFFFFul ? static_cast<uint32_t>(serial)
                                                                    : 0xFFFFFFFFu;
        }
    }
    return holder;
}

std::string in_use_text(COMM_INTERFACE_t iface, const std::string &path, const UnitHolder &holder) {
    const std::string where = (iface == CAN_FD ? "on CAN FD " : "at ") + path;
    std::string text;
    if (holder.serial != 0xFFFFFFFFu) {
        char serial[16];
        std::snprintf(serial, sizeof(serial), "0x%08X", static_cast<unsigned>(holder.serial));
        text = std::string("EFIS ") + serial + " " + where;
    } else {
        text = "The EFIS " + where;
    }
    text += " is in use by another program";
    const std::string process = holder.pid != 0 ? "process " + std::to_string(holder.pid) : "";
    if (!holder.program.empty() && !process.empty()) {
        text += " (" + holder.program + ", " + process + ")";
    } else if (!holder.program.empty() || !process.empty()) {
        text += " (" + holder.program + process + ")";
    }
    return text;
}
