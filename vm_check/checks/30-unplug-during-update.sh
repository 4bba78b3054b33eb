#!/bin/sh
# The unit pulled out during a firmware update, once after a fixed number of requests (in the
# middle of the payload) and once on SIGUSR1 while the payload goes out. Each time the window
# must report the failure, return from the update within its time-outs (a hang is ended by
# `timeout` after 60 s and fails the check) and exit without a crash.
. "$EFIS_SRC/vm_check/lib.sh"

image="$EFIS_WORK/firmware.bin"
"$image_bin" "$image" 65536 >/dev/null || failed "making the firmware image"

# The window's start-up takes 36 requests (serial number, 35 reads); the transfer's partition
# query, two block erases, the address and the header take 5 more. The plug is pulled at the
# 200th payload packet.
before_payload=41
pull_at=$((before_payload + 200))

# update_fails NAME: runs the window's firmware update against the running unit and compares
# how it ended.
update_fails() {
    rc=0
    timeout 60 "$window_bin" firmware "$image" >"$EFIS_WORK/$1.out" 2>"$EFIS_WORK/$1.err" || rc=$?
    grep -E '^(compared|firmware_update_ms|status after)' "$EFIS_WORK/$1.out"
    grep -E '^send_fw: (Failed|MX25|Firmware transmission)' "$EFIS_WORK/$1.out"
    compare "$1: efis-vm-window exit status (124: hung, above 128: crashed)" "$rc" 0
    compare "$1: status after the update" \
        "$(sed -n 's/^status after firmware update: "\(.*\)"$/\1/p' "$EFIS_WORK/$1.out")" \
        "Error: Firmware update failed (see View → Log)"
    compare "$1: transfer reported incomplete" \
        "$(grep -c '^send_fw: Firmware transmission incomplete' "$EFIS_WORK/$1.out")" 1
}

start_unit unplug-after --unplug-after "$pull_at"
update_fails unplug-after
wait "$unit_pid"
compare "unplug-after: unit pulled its plug" "$(summary unplugged)" 1
compare "unplug-after: requests taken" "$(summary requests)" $((pull_at + 1))
compare "unplug-after: payload packets taken" "$(summary requests.0x415)" $((200 + 1 + 1))
compare_clean_unit

start_unit unplug-signal --reply-delay-us 1000
(
    # Pull the plug once a hundred payload packets went through.
    from="$(now)"
    while [ "$(grep -c '^request [0-9]*: 0x415' "$EFIS_WORK/unplug-signal.log")" -lt 100 ] &&
        kill -0 "$unit_pid" 2>/dev/null && [ "$(elapsed "$from" | cut -d. -f1)" -lt 60 ]; do
        sleep 0.1
    done
    kill -USR1 "$unit_pid"
) &
update_fails unplug-signal
wait
compare "unplug-signal: unit pulled its plug" "$(summary unplugged)" 1
finish_check
