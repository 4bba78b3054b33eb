#!/bin/sh
# efis-cli over the real path (linked to the system hidapi, against the virtual unit with a
# decoy listed first): export the unit's settings, change a field, import the file back (a dry
# run first, which must send nothing), and flash a small image. The unit's summary must show the
# exported value stored again under a matching checksum and the image in flash byte for byte.
. "$EFIS_SRC/vm_check/lib.sh"

cli_bin="$EFIS_BUILD/efis-cli"
settings="$EFIS_WORK/settings.json"
image="$EFIS_WORK/cli-firmware.bin"
"$image_bin" "$image" 20000 >/dev/null || failed "making the firmware image"
start_unit cli --decoy --image-out "$EFIS_WORK/cli-flash-image.bin"

cli() {
    rc=0
    "$cli_bin" "$@" >"$EFIS_WORK/cli.out" 2>"$EFIS_WORK/cli.err" || rc=$?
    sed 's/^/  efis-cli: /' "$EFIS_WORK/cli.out" "$EFIS_WORK/cli.err"
}

cli --json info
compare "efis-cli info exit status" "$rc" 0
compare "efis-cli info: checksum check" \
    "$(sed -n 's/.*"crc_check":"\([a-z]*\)".*/\1/p' "$EFIS_WORK/cli.out")" passed

cli export "$settings"
compare "efis-cli export exit status" "$rc" 0
vne="$(sed -n 's/^ *"vne": \([0-9]*\),*$/\1/p' "$settings")"
echo "exported vne: $vne"

cli set vne=$((vne + 7))
compare "efis-cli set exit status" "$rc" 0

cli import "$settings" --dry-run
compare "efis-cli import --dry-run exit status" "$rc" 0
compare "difference listed by the dry run" "$(cat "$EFIS_WORK/cli.out")" "vne: $((vne + 7)) -> $vne"

cli import "$settings"
compare "efis-cli import exit status" "$rc" 0

cli flash "$image" --backup "$EFIS_WORK/before-flash.json"
compare "efis-cli flash exit status" "$rc" 0

cli frobnicate
compare "efis-cli exit status for bad usage" "$rc" 2
stop_unit

compare "stores (the import's only)" "$(summary stores)" 1
compare "store checksum matches the record stored" "$(summary store.0.checksum_match)" 1
compare "unit's Vne after the import" "$(summary record.6)" "$vne"
compare "record held under a matching checksum" "$(summary record.checksum_match)" 1
if cmp -s "$image" "$EFIS_WORK/cli-flash-image.bin"; then
    echo "compared flash contents with the image file: identical: ok"
else
    failed "flash contents identical to the image file"
fi
compare_clean_unit

# No unit at all: the exit status says so.
cli info
compare "efis-cli exit status without a unit" "$rc" 3
finish_check
