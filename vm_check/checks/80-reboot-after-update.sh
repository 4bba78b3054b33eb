#!/bin/sh
# efis-cli flash with the reboot after it, over the real path, against a virtual unit that leaves
# the bus on the reboot command and comes back 3 s later: once as it was (its settings unchanged),
# once with a factory record in place of its settings (the differences listed, then restored with
# --restore-settings). What efis-cli printed and what the unit holds at the end are compared.
. "$EFIS_SRC/vm_check/lib.sh"

cli_bin="$EFIS_BUILD/efis-cli"
image="$EFIS_WORK/reboot-firmware.bin"
"$image_bin" "$image" 20000 >/dev/null || failed "making the firmware image"

cli() {
    rc=0
    timeout 150 "$cli_bin" "$@" >"$EFIS_WORK/cli.out" 2>"$EFIS_WORK/cli.err" || rc=$?
    sed 's/^/  efis-cli: /' "$EFIS_WORK/cli.out" "$EFIS_WORK/cli.err"
}

start_unit reboot-same --reboot-away-ms 3000
cli flash "$image" --backup "$EFIS_WORK/same.json" --reboot
compare "same: efis-cli flash --reboot exit status" "$rc" 0
compare "same: the unit back with its settings" "$(tail -n 2 "$EFIS_WORK/cli.out" | tr '\n' '|')" \
    "the unit is back|settings unchanged|"
compare "same: the unit left the bus" \
    "$(grep -c 'rebooting, off the bus for 3000 ms' "$EFIS_WORK/reboot-same.log")" 1
stop_unit
compare "same: reboot requested" "$(summary reboot_requested)" 1
compare_clean_unit

start_unit reboot-reset --reboot-away-ms 3000 --reboot-resets-settings
cli flash "$image" --backup "$EFIS_WORK/reset.json" --restore-settings
compare "reset: efis-cli flash --restore-settings exit status" "$rc" 0
compare "reset: Vne listed as changed" "$(grep -c '^vne: 150 -> 0$' "$EFIS_WORK/cli.out")" 1
compare "reset: settings restored" \
    "$(grep -c '^settings restored from the backup: stored under checksum 0x' "$EFIS_WORK/cli.out")" 1
stop_unit
compare "reset: Vne stored again" "$(summary record.6)" 150
compare "reset: one store" "$(summary stores)" 1
compare "reset: store checksum matches the record stored" "$(summary store.0.checksum_match)" 1
compare_clean_unit
finish_check
