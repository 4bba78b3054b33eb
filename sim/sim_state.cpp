#include "sim_state.h"

#include <cstring>

#include "this_process.h"

namespace sim {

namespace {

constexpr char MAGIC[8] = {'E', 'F', 'I', 'S', 'S', 'I', 'M', '1'};
constexpr std::size_t STATE_SIZE = sizeof(MAGIC) + 4 + 2 * sizeof(Settings_t);

} // namespace

std::vector<uint8_t> saveState(SimUnit &unit) {
    std::vector<uint8_t> bytes(STATE_SIZE);
    uint8_t *p = bytes.data();
    std::memcpy(p, MAGIC, sizeof(MAGIC));
    p += sizeof(MAGIC);
    const uint32_t serial = unit.serialNumber();
    for (int i = 0; i < 4; ++i) {
        *p++ = static_cast<uint8_t>(serial >> (8 * i));
    }
    std::memcpy(p, &unit.settings(), sizeof(Settings_t));
    std::memcpy(p + sizeof(Settings_t), &unit.storedSettings(), sizeof(Settings_t));
    return bytes;
}

bool loadState(const std::vector<uint8_t> &bytes, SimUnit &unit) {
    if (bytes.size() != STATE_SIZE || std::memcmp(bytes.data(), MAGIC, sizeof(MAGIC)) != 0) {
        return false;
    }
    const uint8_t *p = bytes.data() + sizeof(MAGIC);
    const uint32_t serial = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                            static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    p += 4;
    unit.setSerialNumber(serial);
    std::memcpy(&unit.settings(), p, sizeof(Settings_t));
    std::memcpy(&unit.storedSettings(), p + sizeof(Settings_t), sizeof(Settings_t));
    return true;
}

platform::ExclusiveLock::Outcome lockState(const std::string &state_path,
                                           platform::ExclusiveLock &lock) {
    const platform::ExclusiveLock::Outcome taken = lock.take(state_path + ".lock", true);
    if (taken == platform::ExclusiveLock::Outcome::Taken) {
        lock.writeHolder("program=" + platform::programName() +
                         "\npid=" + std::to_string(platform::processId()) + "\n");
    }
    return taken;
}

std::string stateHolder(const std::string &state_path) {
    return platform::ExclusiveLock::readHolder(state_path + ".lock");
}

} // namespace sim
