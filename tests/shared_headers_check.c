/* The shared module must compile as plain C11: this file includes every header
 * and exercises the inline helpers so that the C compiler sees them. */
#include "calib_types.h"
#include "can_export.h"
#include "comms_types.h"
#include "crc.h"
#include "efis_types.h"
#include "firmware.h"
#include "get_set.h"
#include "mem_layout.h"
#include "settings_types.h"

uint32_t shared_headers_check_c(void);

uint32_t shared_headers_check_c(void) {
    Settings_t s;
    COMMS_MSG_t msg;
    mx25_partition p = partition_2;
    uint32_t one = 1;
    memset(&s, 0, sizeof(s));
    memset(&msg, 0, sizeof(msg));
    msg.can_ID = CANMSG_ACK;
    s.num_elements = 26;
    settings_set_value(&s, VNE_INDEX, &one);
    return settings_CalcCRC(&s) ^ mx25_blocks_needed(1) ^ mx25_partition_start_block(p) ^
           mx25_erase_address(OP_BLOCK_ERASE, 1) ^ msg.can_ID ^ vendor_id ^ product_id;
}
