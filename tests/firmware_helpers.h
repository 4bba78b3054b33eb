#ifndef TESTS_FIRMWARE_HELPERS_H
#define TESTS_FIRMWARE_HELPERS_H

// Image files, faults and observations for the tests of the flash commands and
// the firmware transfer against the simulated unit.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "comms.h"
#include "firmware_ops.h"
#include "sim_helpers.h"
#include "sim_unit.h"
#include "wire.h"

namespace fwtest {

using wire::putLe32;

// The four bytes of a word on the link, least significant first.
inline Bytes le32(uint32_t v) {
    Bytes b(4);
    putLe32(b.data(), v);
    return b;
}

// An image file's bytes: a header with the given sizes and recognisable words
// in every other field (iv and padding included), then `payload_in_file`
// payload bytes (encrypted_size when not given), then `trailing` bytes that are
// not part of the image.
struct ImageShape {
    uint32_t total_size = 0;
    uint32_t encrypted_size = 0;
    long long payload_in_file = -1; // wide enough for any uint32_t on every system
    uint32_t trailing = 0;
};

inline Bytes makeImage(const ImageShape &shape) {
    const std::size_t payload = shape.payload_in_file < 0
                                    ? shape.encrypted_size
                                    : static_cast<std::size_t>(shape.payload_in_file);
    Bytes image(FW_HEADER_SIZE + payload + shape.trailing);
    for (std::size_t i = 0; i < FW_HEADER_SIZE; ++i) {
        image[i] = static_cast<uint8_t>(0xC0 + i); // every byte distinct
    }
    putLe32(&image[8], shape.total_size);
    putLe32(&image[12], shape.encrypted_size ^ 0x5A5A5A5Au);
    putLe32(&image[16], shape.encrypted_size);
    putLe32(&image[44], 0x1234ABCDu);
    uint32_t state = 0x2545F491u; // xorshift: no two positions look alike
    for (std::size_t i = FW_HEADER_SIZE; i < image.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        image[i] = static_cast<uint8_t>(state);
    }
    return image;
}

// A directory of its own for the image files of one test, removed with it.
class TempDir {
public:
    TempDir() {
        // The system's temporary folder (on Windows too), a name no other test or run takes.
        static std::atomic<unsigned> made{0};
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0; !error && attempt < 100 && path_.empty(); ++attempt) {
            const std::filesystem::path dir = base / ("efis_fw_test." + std::to_string(stamp) +
                                                      "." + std::to_string(made.fetch_add(1)));
            if (std::filesystem::create_directory(dir, error)) {
                path_ = dir.string();
            }
        }
    }
    ~TempDir() {
        for (const std::string &f : files_) {
            std::remove(f.c_str());
        }
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // Writes bytes to a new file and returns its path ("" on failure).
    std::string write(const std::string &name, const Bytes &bytes) {
        const std::string file = path_ + "/" + name;
        std::FILE *f = std::fopen(file.c_str(), "wb");
        if (f == nullptr) {
            return "";
        }
        // An empty file has no data to hand to fwrite (whose buffer may not be null).
        const bool ok =
            bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if (std::fclose(f) != 0 || !ok) {
            return "";
        }
        files_.push_back(file);
        return file;
    }
    const std::string &path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> files_;
};

struct Progress {
    uint32_t current;
    uint32_t total;
    int phase;
    bool operator==(const Progress &o) const {
        return current == o.current && total == o.total && phase == o.phase;
    }
};

inline std::ostream &operator<<(std::ostream &os, const Progress &p) {
    return os << "{" << p.current << "/" << p.total << " phase " << p.phase << "}";
}

// The reports of one phase, in order.
inline std::vector<Progress> ofPhase(const std::vector<Progress> &progress, int phase) {
    std::vector<Progress> out;
    for (const Progress &p : progress) {
        if (p.phase == phase) {
            out.push_back(p);
        }
    }
    return out;
}

inline void recordProgress(uint32_t current, uint32_t total, int phase, void *user_data) {
    static_cast<std::vector<Progress> *>(user_data)->push_back({current, total, phase});
}

// Requests the unit received with the given identifier.
inline std::vector<sim::Message> requestsWith(uint32_t can_id) {
    std::vector<sim::Message> out;
    for (const sim::Message &m : sim::unit().received()) {
        if (m.can_id == can_id) {
            out.push_back(m);
        }
    }
    return out;
}

inline std::vector<uint32_t> requestIds() {
    std::vector<uint32_t> ids;
    for (const sim::Message &m : sim::unit().received()) {
        ids.push_back(m.can_id);
    }
    return ids;
}

// An MX25 status reply: op type and, unless msg_len says otherwise, a 32-bit value.
inline sim::Message status(uint8_t op, uint32_t value, int msg_len = 5) {
    Bytes data(static_cast<std::size_t>(msg_len > 5 ? msg_len : 5));
    data[0] = op;
    putLe32(&data[1], value);
    data.resize(static_cast<std::size_t>(msg_len));
    return simMessage(CANMSG_MX25_ACK, data);
}

// A plain acknowledgement of the request with identifier acked.
inline sim::Message ack(uint32_t acked) {
    Bytes data = le32(acked);
    data.push_back(0xEF);
    data.push_back(0x15);
    return simMessage(CANMSG_ACK, data);
}

// The lines of a text, without their line feeds.
inline std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            out.push_back(text.substr(start));
            break;
        }
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

inline bool hasLine(const std::string &text, const std::string &line) {
    for (const std::string &l : lines(text)) {
        if (l == line) {
            return true;
        }
    }
    return false;
}

} // namespace fwtest

#endif // TESTS_FIRMWARE_HELPERS_H
