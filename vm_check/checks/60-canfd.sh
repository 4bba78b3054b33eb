#!/bin/sh
# The tool on the unit's CAN FD bus: a virtual CAN interface named can0 (the name the tool
# asks for) with the CAN FD MTU, and the virtual unit answering on it. Three runs:
#   - the bus alone, with other bus traffic between the unit's replies: efis-config connects
#     over CAN FD and loads, and none of that traffic reaches an exchange;
#   - USB HID and the bus both: "Connected via both USB HID and CAN FD";
#   - a firmware update over the bus alone whose last piece (63 bytes) is a length no CAN FD
#     frame carries: the tool sends it as 48, 12 and 3 bytes and the exact image lands in
#     the unit's flash;
#   - the bus going down while the window is idle, and up again with the unit on it: the
#     window shows the unit gone and loads it again.
. "$EFIS_SRC/vm_check/lib.sh"

if ! ip link add dev can0 type vcan 2>"$EFIS_WORK/ip.err" ||
    ! ip link set can0 mtu 72 up 2>>"$EFIS_WORK/ip.err"; then
    echo "cannot make the virtual CAN FD interface can0 with $(command -v ip):"
    cat "$EFIS_WORK/ip.err"
    exit 1
fi
ip -details link show can0 | sed -n '1,2p'

# start_can_unit NAME [OPTIONS...]: as start_unit, for a unit that answers on can0; waits
# until its CAN FD side is ready (after its USB HID side, when it has one).
start_can_unit() {
    unit_name="$1"
    shift
    rm -f "$EFIS_WORK/$unit_name.summary"
    "$unit_bin" --summary "$EFIS_WORK/$unit_name.summary" --can can0 "$@" \
        >"$EFIS_WORK/$unit_name.log" 2>&1 &
    unit_pid=$!
    if ! wait_for_line "$EFIS_WORK/$unit_name.log" 'unit ready on CAN FD interface can0' 20 \
        "$unit_pid"; then
        echo "the virtual unit did not come up on can0:"
        cat "$EFIS_WORK/$unit_name.log"
        exit 1
    fi
    grep 'ready' "$EFIS_WORK/$unit_name.log"
}

# load NAME: efis-config until it loaded; a load over the bus discards no message.
load() {
    load_with_tool "$1"
    compare "$1: stale messages discarded by the tool" \
        "$(grep -c '^Discarded stale message' "$out")" 0
}

# ---- the bus alone, with other traffic between the replies
serial=0x0C0FFEE5
start_can_unit bus-alone --no-usb --broadcast --serial "$serial"
load bus-alone
compare "bus-alone: USB HID line" "$(grep -c '^Failed to connect to USB HID device$' "$out")" 1
compare "bus-alone: serial number line" \
    "$(grep -c "^Successfully connected to CAN FD interface! Serial number: $serial\$" "$out")" 1
compare "bus-alone: connection line" "$(grep -c '^Connected via CAN FD$' "$out")" 1
stop_unit
compare "bus-alone: requests" "$(summary requests)" 36
compare "bus-alone: setting reads (0x376)" "$(summary requests.0x376)" 35
compare "bus-alone: request frames" "$(summary can_frames)" 36
compare "bus-alone: frames of other traffic sent, one ahead of each reply" \
    "$(summary broadcasts)" 36
compare "bus-alone: frames of other traffic the kernel did not take" \
    "$(summary broadcasts_lost)" 0
compare "bus-alone: padded request frames" "$(summary can_padded_frames)" 0
compare_clean_unit

# ---- USB HID and the bus both
serial=0x0000CAFE
start_can_unit both --serial "$serial"
load both
compare "both: USB HID serial number line" \
    "$(grep -c "^Successfully connected to USB HID device! Serial number: $serial\$" "$out")" 1
compare "both: CAN FD serial number line" \
    "$(grep -c "^Successfully connected to CAN FD interface! Serial number: $serial\$" "$out")" 1
compare "both: connection line" "$(grep -c '^Connected via both USB HID and CAN FD$' "$out")" 1
stop_unit
compare "both: serial number requests (0x123)" "$(summary requests.0x123)" 2
# Only the CAN FD confirmation goes over the bus; the load takes USB HID.
compare "both: request frames" "$(summary can_frames)" 1
compare "both: output reports" "$(summary output_reports)" 36
compare_clean_unit

# ---- a firmware update over the bus alone
payload=8191 # 127 pieces of 64 bytes, then 63: sent as 48, 12 and 3
image="$EFIS_WORK/firmware.bin"
"$image_bin" "$image" "$payload" >/dev/null || failed "making the firmware image"
start_can_unit update --no-usb --broadcast --image-out "$EFIS_WORK/flash-image.bin"
rc=0
timeout 120 "$window_bin" firmware "$image" >"$EFIS_WORK/update.out" 2>"$EFIS_WORK/update.err" ||
    rc=$?
grep -E '^(compared|firmware_update_ms|status after|send_fw: Firmware transmission)' \
    "$EFIS_WORK/update.out"
compare "update: efis-vm-window exit status" "$rc" 0
compare "update: status after the update" \
    "$(sed -n 's/^status after firmware update: "\(.*\)"$/\1/p' "$EFIS_WORK/update.out")" \
    "Firmware update completed"
stop_unit
compare "update: flash writes (header, 127 full pieces, 48 + 12 + 3)" \
    "$(summary requests.0x415)" 131
compare "update: lengths of the last three flash writes" \
    "$(grep '^request [0-9]*: 0x415 ' "$EFIS_WORK/update.log" | tail -n 3 |
        sed 's/.* len \([0-9]*\) .*/\1/' | tr '\n' ' ')" "48 12 3 "
compare "update: padded request frames" "$(summary can_padded_frames)" 0
compare "update: image length in flash" "$(summary image_length)" "$(wc -c <"$image")"
if cmp -s "$image" "$EFIS_WORK/flash-image.bin"; then
    echo "compared flash contents with the image file: identical: ok"
else
    failed "flash contents identical to the image file"
fi
compare_clean_unit

# ---- the bus going down and up again while the window is idle: a unit reached over CAN FD
# alone is noticed gone and found again
start_can_unit bus-replug --no-usb --serial 0x0C0FFEE5
bus_out="$EFIS_WORK/bus-replug-window.out"
timeout 120 "$window_bin" replug >"$bus_out" 2>"$EFIS_WORK/bus-replug-window.err" &
window_pid=$!
if wait_for_line "$bus_out" '^window ready' 60 "$window_pid"; then
    pulled_at="$(now)"
    ip link set can0 down
    kill -TERM "$unit_pid" 2>/dev/null # its side of the bus went with the interface
    wait "$unit_pid" 2>/dev/null
    wait_for_line "$bus_out" '^window waiting' 40 "$window_pid" || failed "bus-replug: the window noticed"
    ip link set can0 up
    plugged_at="$(now)"
    start_can_unit bus-replug-again --no-usb --serial 0x0C0FFEE5
    rc=0
    wait "$window_pid" || rc=$?
    grep -E '^(compared|efis-vm-window)' "$bus_out"
    compare "bus-replug: efis-vm-window exit status" "$rc" 0
    echo "figure: CAN FD interface down to the disconnected state: $(awk -v a="$pulled_at" \
        -v b="$(sed -n 's/^lost_at=//p' "$bus_out")" 'BEGIN { printf "%.2f", b - a }') s"
    echo "figure: CAN FD interface up to a finished load: $(awk -v a="$plugged_at" \
        -v b="$(sed -n 's/^reloaded_at=//p' "$bus_out")" 'BEGIN { printf "%.2f", b - a }') s"
    stop_unit
    compare "bus-replug: setting reads after the bus came back" "$(summary requests.0x376)" 35
else
    failed "bus-replug: the window started and loaded over the bus"
    cat "$bus_out" "$EFIS_WORK/bus-replug-window.err"
    kill -TERM "$window_pid" 2>/dev/null
    wait "$window_pid" 2>/dev/null
    stop_unit
fi

ip link del can0
finish_check
