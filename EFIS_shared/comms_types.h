/*
 * The message record that every exchange with the unit travels in, whatever
 * carries it, and the USB identification of the unit.
 */
#ifndef EFIS_COMMS_TYPES_H
#define EFIS_COMMS_TYPES_H

#include <stdint.h>

#include "can_export.h"
#include "efis_types.h"

/* Interfaces a message can travel on; carried in one byte. */
enum COMM_INTERFACE_e { USB_HID = 0, CAN_FD = 1 };
typedef uint8_t COMM_INTERFACE_t;

#define COMMS_MSG_DATA_LEN 64

#pragma pack(push, 1)
typedef struct {
    COMM_INTERFACE_t iface; /* interface the message travels or travelled on */
    uint32_t can_ID;        /* one of CAN_IDS_t, little-endian */
    uint8_t msg_len;        /* meaningful bytes in data, 0 to 64 */
    uint8_t data[COMMS_MSG_DATA_LEN];
    uint8_t padding[2];
} COMMS_MSG_t;
#pragma pack(pop)

EFIS_STATIC_ASSERT(sizeof(COMMS_MSG_t) == 72, "COMMS_MSG_t is 72 bytes");
EFIS_STATIC_ASSERT(offsetof(COMMS_MSG_t, iface) == 0, "iface offset");
EFIS_STATIC_ASSERT(offsetof(COMMS_MSG_t, can_ID) == 1, "can_ID offset");
EFIS_STATIC_ASSERT(offsetof(COMMS_MSG_t, msg_len) == 5, "msg_len offset");
EFIS_STATIC_ASSERT(offsetof(COMMS_MSG_t, data) == 6, "data offset");
EFIS_STATIC_ASSERT(offsetof(COMMS_MSG_t, padding) == 70, "padding offset");

/* Marker bytes carried by the acknowledgement and the serial-number exchange. */
#define COMMS_MARKER_0 0xEFu
#define COMMS_MARKER_1 0x15u

/*
 * USB identification of the unit's HID interface. The unit's own IDs are not
 * settled yet; these are from the open-source test range and are the only place
 * to change them.
 */
static const uint16_t vendor_id = 0x1209;
static const uint16_t product_id = 0x0001;

/* The unit's HID interface sits on the vendor-defined usage page. */
#define COMMS_VENDOR_USAGE_PAGE 0xFF00u

#endif /* EFIS_COMMS_TYPES_H */
