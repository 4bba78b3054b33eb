#include "sim_flash.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr uint32_t blockOf(uint32_t address) {
    return address / MX25_BLOCK_SIZE;
}
constexpr uint32_t offsetIn(uint32_t address) {
    return address % MX25_BLOCK_SIZE;
}

} // namespace

uint8_t SimFlash::previousContents(uint32_t address) {
    // A cheap integer hash: looks like old data, differs from byte to byte.
    uint32_t x = address * 0x9E3779B1u;
    x ^= x >> 15;
    x *= 0x85EBCA77u;
    x ^= x >> 13;
    const uint8_t value = static_cast<uint8_t>(x >> 24);
    return value == 0xFFu ? 0x00u : value;
}

SimFlash::Block &SimFlash::touch(uint32_t block) {
    auto it = blocks_.find(block);
    if (it != blocks_.end()) {
        return *it->second;
    }
    std::unique_ptr<Block> fresh(new Block);
    if (chip_erased_) {
        std::memset(fresh->bytes, 0xFF, sizeof(fresh->bytes));
        std::fill(std::begin(fresh->erased), std::end(fresh->erased), true);
    } else {
        const uint32_t base = block * MX25_BLOCK_SIZE;
        for (uint32_t i = 0; i < MX25_BLOCK_SIZE; ++i) {
            fresh->bytes[i] = previousContents(base + i);
        }
        std::fill(std::begin(fresh->erased), std::end(fresh->erased), false);
    }
    Block &ref = *fresh;
    blocks_.emplace(block, std::move(fresh));
    return ref;
}

const SimFlash::Block *SimFlash::find(uint32_t block) const {
    auto it = blocks_.find(block);
    return it == blocks_.end() ? nullptr : it->second.get();
}

uint8_t SimFlash::byteAt(uint32_t address) const {
    if (address >= SIZE) {
        return 0xFFu;
    }
    if (const Block *b = find(blockOf(address))) {
        return b->bytes[offsetIn(address)];
    }
    return chip_erased_ ? 0xFFu : previousContents(address);
}

std::vector<uint8_t> SimFlash::read(uint32_t address, std::size_t length) const {
    std::vector<uint8_t> out;
    if (address >= SIZE) {
        return out;
    }
    const std::size_t available = SIZE - address;
    const std::size_t n = std::min(length, available);
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(byteAt(address + static_cast<uint32_t>(i)));
    }
    return out;
}

bool SimFlash::isErased(uint32_t address) const {
    if (address >= SIZE) {
        return false;
    }
    if (const Block *b = find(blockOf(address))) {
        return b->erased[offsetIn(address)];
    }
    return chip_erased_;
}

bool SimFlash::eraseSector(uint32_t sector) {
    const uint64_t start = static_cast<uint64_t>(sector) * MX25_SECTOR_SIZE;
    if (start + MX25_SECTOR_SIZE > SIZE) {
        return false;
    }
    const uint32_t address = static_cast<uint32_t>(start);
    checkPartition(address, MX25_SECTOR_SIZE, ViolationKind::EraseOutsidePartition);
    Block &b = touch(blockOf(address));
    std::memset(b.bytes + offsetIn(address), 0xFF, MX25_SECTOR_SIZE);
    std::fill_n(b.erased + offsetIn(address), MX25_SECTOR_SIZE, true);
    ++erase_count_;
    return true;
}

bool SimFlash::eraseBlock(uint32_t block) {
    const uint64_t start = static_cast<uint64_t>(block) * MX25_BLOCK_SIZE;
    if (start + MX25_BLOCK_SIZE > SIZE) {
        return false;
    }
    checkPartition(static_cast<uint32_t>(start), MX25_BLOCK_SIZE,
                   ViolationKind::EraseOutsidePartition);
    if (chip_erased_) {
        blocks_.erase(block); // an untouched block of an erased chip reads erased
    } else {
        Block &b = touch(block);
        std::memset(b.bytes, 0xFF, sizeof(b.bytes));
        std::fill(std::begin(b.erased), std::end(b.erased), true);
    }
    ++erase_count_;
    return true;
}

void SimFlash::eraseChip() {
    checkPartition(0, SIZE, ViolationKind::EraseOutsidePartition);
    blocks_.clear();
    chip_erased_ = true;
    ++erase_count_;
}

void SimFlash::checkPartition(uint32_t address, uint64_t length, ViolationKind kind) {
    uint32_t part_start = 0;
    uint32_t part_end = 0;
    partitionRange(partition_, &part_start, &part_end);
    const uint64_t end = address + length;
    if (part_start < part_end && address >= part_start && end <= part_end) {
        return;
    }
    // The first offending byte: the partition's end for a range that starts inside it.
    const bool starts_inside = address >= part_start && address < part_end;
    violations_.push_back({starts_inside ? part_end : address, kind});
}

void SimFlash::partitionRange(mx25_partition p, uint32_t *start, uint32_t *end) {
    const uint32_t first_block = mx25_partition_start_block(p);
    const uint32_t s = first_block * MX25_BLOCK_SIZE;
    const uint32_t e = first_block == 0 ? 0 : s + FW_PARTITION_BLOCKS * MX25_BLOCK_SIZE;
    if (start != nullptr) {
        *start = s;
    }
    if (end != nullptr) {
        *end = e;
    }
}

bool SimFlash::write(const uint8_t *data, std::size_t length) {
    if (length == 0) {
        return true;
    }
    if (data == nullptr) {
        return false;
    }
    const uint64_t end = static_cast<uint64_t>(address_) + length;
    if (end > SIZE) {
        violations_.push_back({std::max(address_, SIZE), ViolationKind::OutOfRange});
        return false;
    }

    checkPartition(address_, length, ViolationKind::OutsidePartition);

    bool not_erased_flagged = false;
    for (std::size_t i = 0; i < length; ++i) {
        const uint32_t a = address_ + static_cast<uint32_t>(i);
        Block &b = touch(blockOf(a));
        const uint32_t off = offsetIn(a);
        if (!b.erased[off] && !not_erased_flagged) {
            violations_.push_back({a, ViolationKind::NotErased});
            not_erased_flagged = true;
        }
        b.bytes[off] = static_cast<uint8_t>(b.bytes[off] & data[i]);
        b.erased[off] = false;
    }
    address_ = static_cast<uint32_t>(end); // at most SIZE: the next write then leaves the chip
    ++write_count_;
    return true;
}

} // namespace sim
