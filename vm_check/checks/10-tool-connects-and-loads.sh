#!/bin/sh
# The real efis-config, offscreen, against the virtual unit with a decoy interface listed
# first: it passes over the decoy, confirms the serial number, loads the settings (the serial
# number request and 35 reads) and prints "CRC Check Passed.". The tool runs until it is
# ended, so it is ended once the line is out or after 60 s.
. "$EFIS_SRC/vm_check/lib.sh"

serial=0x0A1B2C3D
start_unit load --decoy --serial "$serial"

load_with_tool efis-config
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
