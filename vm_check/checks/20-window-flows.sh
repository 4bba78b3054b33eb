#!/bin/sh
# The window's flows over the real path, driven by efis-vm-window (the window code of
# efis-config, linked to the system hidapi): load, an edit sent by update, an edit stored by
# save, a reload, a firmware update of a 64 KiB image and the reboot command. The unit's summary
# must show the edits held under a matching checksum, the image in flash byte for byte, and the
# reboot. Prints the exchanges per second of the firmware transfer over the real kernel path.
. "$EFIS_SRC/vm_check/lib.sh"

image="$EFIS_WORK/firmware.bin"
"$image_bin" "$image" 65536 >/dev/null || failed "making the firmware image"
start_unit flows --decoy --image-out "$EFIS_WORK/flash-image.bin"

rc=0
"$window_bin" flows "$image" >"$EFIS_WORK/window.out" 2>"$EFIS_WORK/window.err" || rc=$?
grep -E '^(compared|the form|firmware_update_ms|efis-vm-window)' "$EFIS_WORK/window.out"
compare "efis-vm-window exit status" "$rc" 0
stop_unit

compare "stores" "$(summary stores)" 1
compare "store checksum matches the record stored" "$(summary store.0.checksum_match)" 1
compare "record held under a matching checksum" "$(summary record.checksum_match)" 1
for expectation in $(sed -n 's/^expect //p' "$EFIS_WORK/window.out"); do
    key="${expectation%%=*}"
    compare "unit's $key" "$(summary "$key")" "${expectation#*=}"
done
compare "image length in flash" "$(summary image_length)" "$(wc -c <"$image")"
compare "image address" "$(summary image_address)" 0x03400000
if cmp -s "$image" "$EFIS_WORK/flash-image.bin"; then
    echo "compared flash contents with the image file: identical: ok"
else
    failed "flash contents identical to the image file"
fi
compare "reboot requested" "$(summary reboot_requested)" 1
compare_clean_unit
echo "output reports padded beyond their request: $(summary padded_reports)"

exchanges="$(summary flash_exchanges)"
seconds="$(summary flash_seconds)"
echo "figure: firmware transfer over the real path: $exchanges exchanges in $seconds s at the" \
    "unit: $(awk -v n="$exchanges" -v s="$seconds" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "-" }')" \
    "exchanges/s ($(sed -n 's/^firmware_update_ms=//p' "$EFIS_WORK/window.out") ms in the window)"
finish_check
