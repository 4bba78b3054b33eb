#include "firmware_ops.h"
#include "firmware_image.h"
#include "wire.h"

#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "pause.h"

namespace {

using wire::le32;
using wire::newMessage;
using wire::putLe32;
using wire::zeroedMessage;

// Payload bytes in one write message: the data limit of a COMMS_MSG_t.
constexpr uint32_t CHUNK_SIZE = COMMS_MSG_DATA_LEN;
// Pause after each confirmed payload packet.
constexpr auto PACKET_PAUSE = std::chrono::microseconds(100);

// Writes one piece of the payload and waits for the unit to confirm it; false, with the line
// that says why, when it did not.
bool writeConfirmed(CommsManager *comms, const uint8_t *bytes, std::size_t length,
                    uint32_t packet_count) {
    COMMS_MSG_t piece = newMessage(CANMSG_WRITE_MX25, static_cast<uint8_t>(length));
    std::memcpy(piece.data, bytes, length);
    if (comms->write(piece) <= 0) {
        std::printf("send_fw: Failed to send firmware data packet %u\n",
                    static_cast<unsigned>(packet_count));
        return false;
    }
    uint8_t reported_op = 0;
    if (!wait_for_mx25_ack(comms, &reported_op, nullptr)) {
        std::printf("send_fw: MX25 write acknowledgment failed at packet %u\n",
                    static_cast<unsigned>(packet_count));
        return false;
    }
    if (reported_op != OP_WRITE) {
        std::printf(
            "send_fw: Op type mismatch in response (expected=OP_WRITE/0x%02X, got=0x%02X)\n",
            static_cast<unsigned>(OP_WRITE), static_cast<unsigned>(reported_op));
        return false;
    }
    return true;
}

// What the address of a status reply holds before the reply is read. A reply
// whose msg_len is 4 or less carries no address and leaves it untouched, so it
// must be a value that can never equal the expected address: 0xFFFFFFFF (never
// the address of an erase unit, all of which are multiples of 4,096), or 0 when
// 0xFFFFFFFF is itself the address expected. A reply without an address thus
// always fails the address check.
uint32_t missingAddress(uint32_t expected) {
    return expected == 0xFFFFFFFFu ? 0u : 0xFFFFFFFFu;
}

} // namespace

bool mx25_erase(CommsManager *comms, FlashOpType op_type, uint16_t block_or_sector,
                fw_progress_callback_t progress_cb, void *user_data, uint32_t current_block,
                uint32_t total_blocks) {
    if (comms == nullptr || !comms->isConnected()) {
        std::printf("mx25_erase: CommsManager not connected\n");
        return false;
    }
    COMMS_MSG_t request = newMessage(CANMSG_ERASE_MX25, 3);
    request.data[0] = static_cast<uint8_t>(op_type);
    request.data[1] = static_cast<uint8_t>(block_or_sector);
    request.data[2] = static_cast<uint8_t>(block_or_sector >> 8);
    if (comms->write(request) <= 0) {
        std::printf("mx25_erase: Failed to send erase command\n");
        return false;
    }
    std::printf("mx25_erase: Successfully sent erase command (op_type=0x%02X, block/sector=%d)\n",
                static_cast<unsigned>(op_type), static_cast<int>(block_or_sector));

    if (!wait_for_ack(comms, CANMSG_ERASE_MX25)) {
        std::printf("mx25_erase: ACK validation failed\n");
        return false;
    }
    std::printf("mx25_erase: ACK received, erase command acknowledged\n");

    const uint8_t op = static_cast<uint8_t>(op_type);
    const uint32_t expected_address = mx25_erase_address(op, block_or_sector);
    uint8_t reported_op = 0;
    uint32_t reported_address = missingAddress(expected_address);
    if (!wait_for_mx25_ack(comms, &reported_op, &reported_address)) {
        std::printf("mx25_erase: Erase operation failed or timeout\n");
        return false;
    }
    if (reported_op != op) {
        std::printf("mx25_erase: Op type mismatch in response (expected=0x%02X, got=0x%02X)\n",
                    static_cast<unsigned>(op), static_cast<unsigned>(reported_op));
        return false;
    }
    // A chip erase has no address of its own: whatever the unit reports is accepted.
    if (op_type != OP_CHIP_ERASE && reported_address != expected_address) {
        std::printf("mx25_erase: Address mismatch (expected=0x%08X, got=0x%08X)\n",
                    static_cast<unsigned>(expected_address),
                    static_cast<unsigned>(reported_address));
        return false;
    }
    std::printf("mx25_erase: Erase completed successfully (address=0x%08X)\n",
                static_cast<unsigned>(reported_address));
    if (progress_cb != nullptr) {
        progress_cb(current_block + 1, total_blocks, 0, user_data);
    }
    return true;
}

bool set_mx25_addr(CommsManager *comms, uint32_t address) {
    if (comms == nullptr || !comms->isConnected()) {
        std::printf("set_mx25_addr: CommsManager not connected\n");
        return false;
    }
    COMMS_MSG_t request = newMessage(CANMSG_SET_ADDR_MX25, 4);
    putLe32(request.data, address);
    if (comms->write(request) <= 0) {
        std::printf("set_mx25_addr: Failed to send address\n");
        return false;
    }
    std::printf("set_mx25_addr: Successfully sent address (0x%08X)\n",
                static_cast<unsigned>(address));

    // The unit answers a set-address with its status reply alone.
    uint8_t reported_op = 0;
    uint32_t reported_address = missingAddress(address);
    if (!wait_for_mx25_ack(comms, &reported_op, &reported_address)) {
        std::printf("set_mx25_addr: Failed to receive acknowledgment or operation failed\n");
        return false;
    }
    if (reported_op != OP_NONE) {
        std::printf("set_mx25_addr: Op type mismatch (expected=OP_NONE/0x%02X, got=0x%02X)\n",
                    static_cast<unsigned>(OP_NONE), static_cast<unsigned>(reported_op));
        return false;
    }
    if (reported_address != address) {
        std::printf("set_mx25_addr: Address mismatch (expected=0x%08X, got=0x%08X)\n",
                    static_cast<unsigned>(address), static_cast<unsigned>(reported_address));
        return false;
    }
    std::printf("set_mx25_addr: Address set successfully (0x%08X)\n",
                static_cast<unsigned>(address));
    return true;
}

mx25_partition get_mx25_partition(CommsManager *comms) {
    mx25_partition result = partition_none;
    if (comms == nullptr || !comms->isConnected()) {
        std::printf("get_mx25_partition: CommsManager not connected\n");
        return result;
    }
    const COMMS_MSG_t request = newMessage(CANMSG_GET_PARTITION, 0);
    std::printf("get_mx25_partition: Sending command - CAN_ID=0x%08X, msg_len=%u\n",
                static_cast<unsigned>(request.can_ID), static_cast<unsigned>(request.msg_len));
    const int written = comms->write(request);
    std::printf("get_mx25_partition: write() returned %d bytes\n", written);
    // The request has no payload, so a write that reports 0 bytes still counts as sent.
    if (written < 0) {
        std::printf("get_mx25_partition: Failed to send get partition command (bytes_written=%d)\n",
                    written);
        return result;
    }
    std::printf("get_mx25_partition: Successfully sent get partition command\n");

    if (!wait_for_ack(comms, CANMSG_GET_PARTITION)) {
        std::printf("get_mx25_partition: ACK validation failed\n");
        return result;
    }
    std::printf("get_mx25_partition: ACK received, get partition command acknowledged\n");

    COMMS_MSG_t reply = zeroedMessage();
    std::printf("get_mx25_partition: Waiting for mx25_ack response...\n");
    const int received = comms->read(&reply);
    std::printf("get_mx25_partition: read() returned %d bytes\n", received);
    if (received == 0) {
        std::printf("get_mx25_partition: No response received (timeout or no data).\n");
        return result;
    }
    if (received < 0) {
        std::printf("get_mx25_partition: Error reading response from device (bytes_read=%d).\n",
                    received);
        return result;
    }

    std::printf("get_mx25_partition: Response received - CAN_ID=0x%08X, msg_len=%u\n",
                static_cast<unsigned>(reply.can_ID), static_cast<unsigned>(reply.msg_len));
    std::printf("get_mx25_partition: Response data[0-7]: ");
    for (unsigned i = 0; i < 8 && i < reply.msg_len; ++i) {
        std::printf("0x%02X ", static_cast<unsigned>(reply.data[i]));
    }
    std::printf("\n");

    if (reply.can_ID == CANMSG_MX25_ACK) {
        // The record was cleared before the read, so bytes a short reply did
        // not carry read as 0.
        const uint8_t op = reply.data[0];
        const uint32_t value = le32(&reply.data[1]);
        std::printf("get_mx25_partition: op_type=0x%02X, extracted partition_value=0x%08X\n",
                    static_cast<unsigned>(op), static_cast<unsigned>(value));
        if (value == partition_1 || value == partition_2 || value == partition_none) {
            result = static_cast<mx25_partition>(value);
            std::printf("get_mx25_partition: Partition retrieved successfully (partition=0x%02X, "
                        "raw=0x%08X)\n",
                        static_cast<unsigned>(value), static_cast<unsigned>(value));
        } else {
            std::printf("get_mx25_partition: Invalid partition value received (raw=0x%08X)\n",
                        static_cast<unsigned>(value));
        }
    } else if (reply.can_ID == CANMSG_MX25_NACK) {
        std::printf("get_mx25_partition: Operation failed (CAN ID 0x257)\n");
    } else {
        std::printf("get_mx25_partition: Unexpected CAN ID (got=0x%08X, expected=0x256 or 0x257)\n",
                    static_cast<unsigned>(reply.can_ID));
    }
    return result;
}

namespace {

// Ends a transfer that failed, once its line is printed, and gives its result.
FwTransferResult stop(uint32_t total = 0) {
    FwTransferResult result;
    result.bytes_total = total;
    return result;
}

bool cancelled(const FwCancelFlag *cancel) {
    return cancel != nullptr && cancel->load();
}

// Ends a transfer that was cancelled before the payload: the unit holds no whole image, and the
// transfer's last line says so as for a failed write.
FwTransferResult stopCancelled(uint32_t total) {
    std::printf("send_fw: Cancelled, nothing more is sent\n");
    std::printf("send_fw: Firmware transmission incomplete (%u/%u bytes sent, %u packets)\n", 0u,
                static_cast<unsigned>(total), 0u);
    FwTransferResult result = stop(total);
    result.end = FwTransferEnd::Cancelled;
    return result;
}

} // namespace

namespace {

// Reads the image file once, whole, where the transfer opens it; false, with the line that says
// why, when it cannot be read whole (before anything is erased). A file whose payload is shorter
// than its header announces is read as far as it goes: the transfer sends what there is and then
// finds the end of the file.
bool readWholeImage(const char *path, std::vector<uint8_t> *bytes) {
    ImageFile file = read_image_file(path);
    if (file.outcome == ImageRead::CannotOpen || file.outcome == ImageRead::NotAFile) {
        std::printf("send_fw: Failed to open file %s: %s\n", path,
                    file.outcome == ImageRead::NotAFile ? "not a regular file"
                                                        : std::strerror(file.error));
        return false;
    }
    if (file.bytes.size() < FW_HEADER_SIZE) {
        // A file that simply ends early is no error of the system, whose text would read
        // "Success": say how short it is instead.
        char short_file[64];
        std::snprintf(short_file, sizeof(short_file), "file ends after %zu of %zu header bytes",
                      file.bytes.size(), static_cast<std::size_t>(FW_HEADER_SIZE));
        std::printf("send_fw: Failed to read firmware header from %s: %s\n", path,
                    file.outcome == ImageRead::ReadError ? std::strerror(file.error) : short_file);
        return false;
    }
    if (file.outcome == ImageRead::ReadError) {
        std::printf("send_fw: Error reading file: %s\n", std::strerror(file.error));
        return false;
    }
    if (file.outcome == ImageRead::Shrank) {
        std::printf("send_fw: Error reading file: it changed while it was read (%zu of %llu "
                    "bytes)\n",
                    file.bytes.size(), static_cast<unsigned long long>(file.file_size));
        return false;
    }
    *bytes = std::move(file.bytes);
    return true;
}

// The transfer of one image: from the file at `path`, read whole where the partition is known,
// or from `image`, read and checked by the caller. Either way every byte sent comes from one
// copy in memory, and the file is never read again.
FwTransferResult transfer(CommsManager *comms, const char *path, const FirmwareImage *image,
                          fw_progress_callback_t progress_cb, void *user_data,
                          const FwCancelFlag *cancel);

} // namespace

bool send_fw(CommsManager *comms, const char *encrypted_bin_file_path,
             fw_progress_callback_t progress_cb, void *user_data) {
    return send_fw_cancellable(comms, encrypted_bin_file_path, progress_cb, user_data, nullptr)
               .end == FwTransferEnd::Completed;
}

FwTransferResult send_fw_cancellable(CommsManager *comms, const char *encrypted_bin_file_path,
                                     fw_progress_callback_t progress_cb, void *user_data,
                                     const FwCancelFlag *cancel) {
    return transfer(comms, encrypted_bin_file_path, nullptr, progress_cb, user_data, cancel);
}

FwTransferResult send_fw_image(CommsManager *comms, const FirmwareImage &image,
                               fw_progress_callback_t progress_cb, void *user_data,
                               const FwCancelFlag *cancel) {
    return transfer(comms, nullptr, &image, progress_cb, user_data, cancel);
}

namespace {

FwTransferResult transfer(CommsManager *comms, const char *encrypted_bin_file_path,
                          const FirmwareImage *image, fw_progress_callback_t progress_cb,
                          void *user_data, const FwCancelFlag *cancel) {
    if (comms == nullptr || !comms->isConnected()) {
        std::printf("send_fw: CommsManager not connected\n");
        return stop();
    }
    if (image == nullptr && encrypted_bin_file_path == nullptr) {
        std::printf("send_fw: Invalid encrypted file path\n");
        return stop();
    }
    if (image != nullptr && !image->check.ok()) {
        std::printf("send_fw: The image did not pass its check, nothing is sent\n");
        return stop();
    }
    if (cancelled(cancel)) {
        return stopCancelled(0);
    }

    // ---- partition ------------------------------------------------------
    std::printf("send_fw: Getting current MX25 partition...\n");
    const mx25_partition partition = get_mx25_partition(comms);
    if (partition == partition_none) {
        std::printf("send_fw: Invalid partition (partition_none), cannot proceed\n");
        return stop();
    }
    const uint32_t start_page = mx25_partition_start_block(partition);
    const char *partition_name = nullptr;
    if (partition == partition_1) {
        partition_name = "partition_1 (BANK1)";
    } else if (partition == partition_2) {
        partition_name = "partition_2 (BANK2)";
    }
    if (partition_name == nullptr) {
        std::printf("send_fw: Unknown partition value (0x%02X), cannot proceed\n",
                    static_cast<unsigned>(partition));
        return stop();
    }
    std::printf("send_fw: Using %s, starting at page %u\n", partition_name,
                static_cast<unsigned>(start_page));

    // ---- header ---------------------------------------------------------
    std::vector<uint8_t> read_bytes;
    if (image == nullptr && !readWholeImage(encrypted_bin_file_path, &read_bytes)) {
        return stop();
    }
    const std::vector<uint8_t> &bytes = image != nullptr ? image->bytes : read_bytes;
    // The 64 header bytes are kept exactly as read: they go to the unit unchanged.
    const uint8_t *raw_header = bytes.data();
    const firmware_header_t header = decode_firmware_header(raw_header);
    const uint32_t total = header.encrypted_size;
    std::printf("send_fw: Read firmware header (total_size=%u, plaintext_size=%u, "
                "encrypted_size=%u, offset=0x%08X)\n",
                static_cast<unsigned>(header.total_size),
                static_cast<unsigned>(header.plaintext_size),
                static_cast<unsigned>(header.encrypted_size), static_cast<unsigned>(header.offset));

    // ---- size checks, all before anything is erased -----------------------
    const uint32_t num_blocks_needed = mx25_blocks_needed(header.total_size);
    const uint32_t end_page = start_page + num_blocks_needed;
    if (num_blocks_needed > FW_PARTITION_BLOCKS) {
        std::printf("send_fw: Error: Firmware too large for partition (%u blocks needed, but "
                    "partition only has %u blocks)\n",
                    static_cast<unsigned>(num_blocks_needed),
                    static_cast<unsigned>(FW_PARTITION_BLOCKS));
        return stop(total);
    }
    // Everything written goes into the blocks erased for total_size: the header
    // and the payload must fit there, or the writes would run into flash that
    // was not erased (or beyond the partition). A total_size of 0 erases nothing
    // and so takes no image at all. The check comes before the size line, which
    // announces the erase. The sum is taken in 64 bits so that no encrypted_size
    // wraps it round, and printed in full.
    const unsigned long long image_bytes =
        static_cast<unsigned long long>(FW_HEADER_SIZE) + header.encrypted_size;
    const unsigned long long erased_bytes =
        static_cast<unsigned long long>(num_blocks_needed) * MX25_BLOCK_SIZE;
    if (image_bytes > erased_bytes) {
        std::printf(
            "send_fw: Error: Image data (%llu bytes) does not fit in the %u erased blocks\n",
            image_bytes, static_cast<unsigned>(num_blocks_needed));
        return stop(total);
    }
    std::printf("send_fw: Firmware size: %u bytes, will erase %u blocks (pages %u to %u)\n",
                static_cast<unsigned>(header.total_size), static_cast<unsigned>(num_blocks_needed),
                static_cast<unsigned>(start_page), static_cast<unsigned>(end_page - 1));

    // ---- erase ----------------------------------------------------------
    // A block whose erase is not confirmed may hold old data: writing the image
    // over it would corrupt it, so the transfer stops there.
    for (uint32_t page = start_page; page < end_page; ++page) {
        if (cancelled(cancel)) {
            return stopCancelled(total);
        }
        if (!mx25_erase(comms, OP_BLOCK_ERASE, static_cast<uint16_t>(page), progress_cb, user_data,
                        page - start_page, num_blocks_needed)) {
            std::printf("send_fw: Erase of page %u failed, stopping\n",
                        static_cast<unsigned>(page));
            return stop(total);
        }
    }

    // ---- address --------------------------------------------------------
    // Only the header's address is ever set: each write advances the unit's
    // address by its length, so the payload follows the header in file order.
    const uint32_t header_address = start_page * MX25_BLOCK_SIZE;
    if (cancelled(cancel)) {
        return stopCancelled(total);
    }
    std::printf("send_fw: All blocks erased, setting address and sending firmware header...\n");
    std::printf("send_fw: Setting MX25 address to 0x%08X for header\n",
                static_cast<unsigned>(header_address));
    if (!set_mx25_addr(comms, header_address)) {
        std::printf("send_fw: Setting header address failed, stopping\n");
        return stop(total);
    }

    // ---- header write ---------------------------------------------------
    if (cancelled(cancel)) {
        return stopCancelled(total);
    }
    COMMS_MSG_t header_msg = newMessage(CANMSG_WRITE_MX25, static_cast<uint8_t>(FW_HEADER_SIZE));
    std::memcpy(header_msg.data, raw_header, FW_HEADER_SIZE);
    if (comms->write(header_msg) <= 0) {
        std::printf("send_fw: Failed to send firmware header\n");
        return stop(total);
    }
    uint8_t reported_op = 0;
    // An address the unit did not report shows as 0xFFFFFFFF; it is not checked.
    uint32_t reported_address = 0xFFFFFFFFu;
    if (!wait_for_mx25_ack(comms, &reported_op, &reported_address)) {
        std::printf("send_fw: Header write acknowledgment failed\n");
        return stop(total);
    }
    if (reported_op != OP_WRITE) {
        std::printf("send_fw: Header write op type mismatch (expected=OP_WRITE/0x%02X, "
                    "got=0x%02X)\n",
                    static_cast<unsigned>(OP_WRITE), static_cast<unsigned>(reported_op));
        return stop(total);
    }
    std::printf("send_fw: Firmware header written successfully (address=0x%08X)\n",
                static_cast<unsigned>(reported_address));

    // ---- payload --------------------------------------------------------
    const uint32_t encrypted_data_size = header.encrypted_size;
    std::printf("send_fw: Encrypted data size: %u bytes (0x%08X)\n",
                static_cast<unsigned>(encrypted_data_size),
                static_cast<unsigned>(encrypted_data_size));
    std::printf("send_fw: Starting firmware data transmission...\n");

    platform::ExactPauses exact_pauses;
    uint32_t total_bytes_sent = 0;
    uint32_t packet_count = 0;
    bool stopped_by_cancel = false;
    while (total_bytes_sent < encrypted_data_size) {
        const uint32_t remaining = encrypted_data_size - total_bytes_sent;
        const uint32_t to_read = remaining < CHUNK_SIZE ? remaining : CHUNK_SIZE;
        COMMS_MSG_t packet = newMessage(CANMSG_WRITE_MX25, 0);
        // The payload follows the header in the copy read before the erase.
        const std::size_t position = FW_HEADER_SIZE + std::size_t{total_bytes_sent};
        const std::size_t available = bytes.size() > position ? bytes.size() - position : 0;
        const std::size_t got = available < to_read ? available : to_read;
        if (got == 0) {
            std::printf("send_fw: Reached end of file\n");
            break;
        }
        std::memcpy(packet.data, bytes.data() + position, got);

        // A CAN FD controller pads a frame up to the next length it carries, and the unit
        // would advance its flash address over the padding: on CAN FD a piece of another
        // length goes out as several writes of lengths a frame carries exactly (at most
        // three: 63 bytes go as 48, 12 and 3), each confirmed before the next.
        const bool whole_frames = comms->getActiveInterface() == CAN_FD;
        std::size_t offset = 0;
        bool failed = false;
        while (offset < got) {
            if (cancelled(cancel)) {
                std::printf("send_fw: Cancelled at packet %u, nothing more is sent\n",
                            static_cast<unsigned>(packet_count));
                stopped_by_cancel = true;
                failed = true;
                break;
            }
            const std::size_t left = got - offset;
            const std::size_t length = whole_frames ? CANFD::longestFrameLength(left) : left;
            if (!writeConfirmed(comms, packet.data + offset, length, packet_count)) {
                failed = true;
                break;
            }

            offset += length;
            total_bytes_sent += static_cast<uint32_t>(length);
            ++packet_count;
            if (progress_cb != nullptr) {
                progress_cb(total_bytes_sent, encrypted_data_size, 1, user_data);
            }
            if (packet_count % 100 == 0) {
                const float percent = static_cast<float>(total_bytes_sent) * 100.0f /
                                      static_cast<float>(encrypted_data_size);
                std::printf("send_fw: Progress: %u/%u bytes (%.1f%%)\n",
                            static_cast<unsigned>(total_bytes_sent),
                            static_cast<unsigned>(encrypted_data_size),
                            static_cast<double>(percent));
            }
            exact_pauses.pause(PACKET_PAUSE);
        }
        if (failed) {
            break;
        }
    }

    FwTransferResult result;
    result.bytes_confirmed = total_bytes_sent;
    result.bytes_total = encrypted_data_size;
    if (total_bytes_sent == encrypted_data_size) {
        std::printf(
            "send_fw: Firmware transmission completed successfully (%u bytes, %u packets)\n",
            static_cast<unsigned>(total_bytes_sent), static_cast<unsigned>(packet_count));
        result.end = FwTransferEnd::Completed;
        return result;
    }
    std::printf("send_fw: Firmware transmission incomplete (%u/%u bytes sent, %u packets)\n",
                static_cast<unsigned>(total_bytes_sent), static_cast<unsigned>(encrypted_data_size),
                static_cast<unsigned>(packet_count));
    result.end = stopped_by_cancel ? FwTransferEnd::Cancelled : FwTransferEnd::Failed;
    return result;
}

} // namespace
