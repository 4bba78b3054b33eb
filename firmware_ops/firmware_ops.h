#ifndef FIRMWARE_OPS_H
#define FIRMWARE_OPS_H

#include <atomic>
#include <cstdint>

#include "comms.h"
#include "firmware.h"
#include "firmware_image.h"
#include "mem_layout.h"

// Progress of a firmware transfer: phase 0 after each confirmed block erase
// (current = blocks done, total = blocks to erase), phase 1 after each confirmed
// payload packet (current = payload bytes confirmed, total = encrypted_size).
typedef void (*fw_progress_callback_t)(uint32_t current, uint32_t total, int phase,
                                       void *user_data);

// Erases one sector, one block or the chip; true when the unit confirmed it.
bool mx25_erase(CommsManager *comms, FlashOpType op_type, uint16_t block_or_sector,
                fw_progress_callback_t progress_cb, void *user_data, uint32_t current_block,
                uint32_t total_blocks);
// Sets the address of the unit's next flash write; true when the unit confirmed it.
bool set_mx25_addr(CommsManager *comms, uint32_t address);
// partition_1, partition_2, or partition_none for every failure or unusable report.
mx25_partition get_mx25_partition(CommsManager *comms);
// Writes one image file into the partition the unit names; true only when the
// header and every payload byte were confirmed by the unit.
bool send_fw(CommsManager *comms, const char *encrypted_bin_file_path,
             fw_progress_callback_t progress_cb, void *user_data);

// A request to stop a running transfer. Set from anywhere (a button's slot, a signal handler):
// the transfer reads it before each request, so the write in flight is confirmed first and
// nothing is sent after it.
using FwCancelFlag = std::atomic<bool>;
static_assert(FwCancelFlag::is_always_lock_free, "set from a signal handler");

enum class FwTransferEnd { Completed, Failed, Cancelled };

struct FwTransferResult {
    FwTransferEnd end = FwTransferEnd::Failed;
    uint32_t bytes_confirmed = 0; // payload bytes the unit confirmed
    uint32_t bytes_total = 0;     // encrypted_size, once the header was read
};

// send_fw that stops when `cancel` (may be null) is set, and says how it ended. Until the flag
// is set it sends exactly what send_fw sends; a cancelled transfer ends with the line that
// reports it incomplete.
FwTransferResult send_fw_cancellable(CommsManager *comms, const char *encrypted_bin_file_path,
                                     fw_progress_callback_t progress_cb, void *user_data,
                                     const FwCancelFlag *cancel);

// The same transfer of an image read and checked before (read_firmware_image): every byte sent
// comes from `image`, so the unit gets the image that was checked, whatever happens to its file
// meanwhile. An image that failed its check is refused before anything is sent.
FwTransferResult send_fw_image(CommsManager *comms, const FirmwareImage &image,
                               fw_progress_callback_t progress_cb, void *user_data,
                               const FwCancelFlag *cancel);

#endif // FIRMWARE_OPS_H
