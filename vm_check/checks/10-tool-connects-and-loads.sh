#!/bin/sh
# The real efis-config, offscreen, against the virtual unit with a decoy interface listed
# first: it passes over the decoy, confirms the serial number, loads the settings (the serial
# number request and 35 reads) and prints "CRC Check Passed.". The tool runs until it is
# ended, so it is ended once the line is out or after 60 s.
. "$EFIS_SRC/vm_check/lib.sh"

serial=0x0A1B2C3D
start_unit load --decoy --serial "$serial"

out="$EFIS_WORK/efis-config.out"
started="$(now)"
"$tool_bin" >"$out" 2>"$EFIS_WORK/efis-config.err" &
tool_pid=$!
# The load ends in the CRC line, or the connection fails for good.
seen=""
if wait_for_line "$out" '^(CRC Check Passed\.|Failed to connect via both USB HID and CAN FD)$' 60 \
    "$tool_pid" && grep -q '^CRC Check Passed\.$' "$out"; then
    seen="$(elapsed "$started")"
fi
kill -TERM "$tool_pid" 2>/dev/null
wait "$tool_pid" 2>/dev/null

if [ -n "$seen" ]; then
    echo "\"CRC Check Passed.\" printed ${seen} s after start"
else
    failed "\"CRC Check Passed.\" printed within 60 s"
    echo "---- efis-config standard output"
    cat "$out"
    echo "---- efis-config standard error (last lines)"
    tail -n 20 "$EFIS_WORK/efis-config.err"
fi
compare "serial number line" \
    "$(grep -c "^Successfully connected to USB HID device! Serial number: $serial\$" "$out")" 1
compare "connection line" "$(grep -c '^Connected via USB HID$' "$out")" 1

stop_unit
compare "decoy interface opened by the tool" "$(grep -c '^efis-virtual-unit: decoy opened' \
    "$EFIS_WORK/load.log")" 0
compare "requests" "$(summary requests)" 36
compare "serial number requests (0x123)" "$(summary requests.0x123)" 1
compare "setting reads (0x376)" "$(summary requests.0x376)" 35
compare_clean_unit
finish_check
