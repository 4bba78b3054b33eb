#ifndef SIM_FLASH_H
#define SIM_FLASH_H

// The simulated unit's external MX25-style NOR flash: erased bytes read 0xFF, a
// write can only clear bits, erases work by sector, block or chip. Only touched
// 64 KiB blocks are held in memory. Bytes never touched hold the previous
// contents of the chip (not erased). The flash flags every write the tool should
// never cause (into bytes not erased since their last write, or outside the
// partition the unit reports) and every erase outside that partition, which
// would destroy what the unit runs.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "firmware.h"
#include "mem_layout.h"

namespace sim {

class SimFlash {
public:
    static constexpr uint32_t SIZE = 0x04000000u; // 64 MiB: 1024 blocks

    enum class ViolationKind { NotErased, OutsidePartition, OutOfRange, EraseOutsidePartition };
    struct Violation {
        uint32_t address; // first offending byte
        ViolationKind kind;
    };

    // ---- configuration -------------------------------------------------
    // The partition the unit reports to a get-partition request.
    void setPartition(mx25_partition p) { partition_ = p; }
    mx25_partition partition() const { return partition_; }
    // Answer a get-partition request with CANMSG_MX25_NACK.
    void setPartitionNack(bool nack) { partition_nack_ = nack; }
    bool partitionNack() const { return partition_nack_; }

    // ---- contents ------------------------------------------------------
    // A byte of the chip; 0xFF beyond its end.
    uint8_t byteAt(uint32_t address) const;
    // The bytes from address on; stops at the end of the chip.
    std::vector<uint8_t> read(uint32_t address, std::size_t length) const;
    // What a byte held before the chip came to this unit: never 0xFF, the same
    // for every run.
    static uint8_t previousContents(uint32_t address);
    // Erased and not written since.
    bool isErased(uint32_t address) const; // false beyond the end of the chip
    std::size_t allocatedBlocks() const { return blocks_.size(); }

    // ---- operations, as the unit performs them --------------------------
    // False outside the chip. An erase that reaches beyond the reported partition is
    // performed and flagged (EraseOutsidePartition at its first byte); a chip erase
    // always is.
    bool eraseSector(uint32_t sector);
    bool eraseBlock(uint32_t block);
    void eraseChip();
    void setAddress(uint32_t address) { address_ = address; }
    uint32_t address() const { return address_; }
    // Writes at the current address (each byte becomes old & new) and advances
    // the address by length; flags violations. Returns false (nothing written,
    // address unchanged, an OutOfRange violation flagged) for a write that leaves
    // the chip.
    bool write(const uint8_t *data, std::size_t length);

    // ---- observation ---------------------------------------------------
    // At most one violation of each kind per write, at its first offending byte.
    const std::vector<Violation> &violations() const { return violations_; }
    unsigned eraseCount() const { return erase_count_; }
    unsigned writeCount() const { return write_count_; }
    // The [start, end) byte range of a partition; empty (0, 0) for one that
    // takes no image (partition_debug, partition_unknown, partition_none).
    static void partitionRange(mx25_partition p, uint32_t *start, uint32_t *end);

private:
    struct Block {
        uint8_t bytes[MX25_BLOCK_SIZE];
        bool erased[MX25_BLOCK_SIZE]; // erased and not written since
    };
    Block &touch(uint32_t block);
    // Flags a range of `length` bytes from `address` that leaves the reported partition.
    void checkPartition(uint32_t address, uint64_t length, ViolationKind kind);
    const Block *find(uint32_t block) const;

    std::map<uint32_t, std::unique_ptr<Block>> blocks_;
    bool chip_erased_ = false; // every untouched block reads erased
    mx25_partition partition_ = partition_1;
    bool partition_nack_ = false;
    uint32_t address_ = 0;
    std::vector<Violation> violations_;
    unsigned erase_count_ = 0;
    unsigned write_count_ = 0;
};

} // namespace sim

#endif // SIM_FLASH_H
