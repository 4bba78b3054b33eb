#!/bin/sh
# The unit as it comes and goes, over the real kernel path. First the unit is pulled out while
# the window sits idle after its load, and plugged in again (a new virtual unit: the kernel gives
# it a new device node): the window must show it gone and load it again by itself. Prints the
# seconds from the unplug to the disconnected state and from the plug-in to a finished load.
# Then two units at once: efis-cli lists both and refuses to guess, --serial and --device pick
# one, and the window's Device menu connects to the one chosen.
. "$EFIS_SRC/vm_check/lib.sh"

cli_bin="$EFIS_BUILD/efis-cli"

# ---- unplug and replug while the window is idle
start_unit replug-first --serial 0x11111111
window_out="$EFIS_WORK/replug-window.out"
timeout 120 "$window_bin" replug >"$window_out" 2>"$EFIS_WORK/replug-window.err" &
window_pid=$!
if wait_for_line "$window_out" '^window ready' 60 "$window_pid"; then
    sleep 1 # idle, as a user leaves it
    pulled_at="$(now)"
    stop_unit
    wait_for_line "$window_out" '^window waiting' 40 "$window_pid" || failed "the window noticed the unplug"
    sleep 1 # away for a moment, as when the avionics master is switched off and on
    plugged_at="$(now)"
    start_unit replug-second --serial 0x11111111
    rc=0
    wait "$window_pid" || rc=$?
    grep -E '^(compared|lost_at|reloaded_at|efis-vm-window)' "$window_out"
    compare "replug: efis-vm-window exit status" "$rc" 0
    lost_at="$(sed -n 's/^lost_at=//p' "$window_out")"
    reloaded_at="$(sed -n 's/^reloaded_at=//p' "$window_out")"
    echo "figure: unplug to the disconnected state: $(awk -v a="$pulled_at" -v b="$lost_at" 'BEGIN { printf "%.2f", b - a }') s"
    echo "figure: plug-in to a finished load: $(awk -v a="$plugged_at" -v b="$reloaded_at" 'BEGIN { printf "%.2f", b - a }') s"
    stop_unit
    compare "replug: settings reads of the unit plugged in again" "$(summary requests.0x376)" 35
else
    failed "the window started and loaded"
    cat "$window_out" "$EFIS_WORK/replug-window.err"
    kill -TERM "$window_pid" 2>/dev/null
    wait "$window_pid" 2>/dev/null
    stop_unit
fi

# ---- two units at once
start_unit unit-a --serial 0x11111111
first_pid="$unit_pid" first_name="$unit_name"
first_path="$(sed -n 's/.*unit ready at \(\/dev\/hidraw[0-9]*\).*/\1/p' "$EFIS_WORK/unit-a.log")"
start_unit unit-b --serial 0x22222222
second_path="$(sed -n 's/.*unit ready at \(\/dev\/hidraw[0-9]*\).*/\1/p' "$EFIS_WORK/unit-b.log")"

cli() {
    rc=0
    "$cli_bin" "$@" >"$EFIS_WORK/cli.out" 2>"$EFIS_WORK/cli.err" || rc=$?
    sed 's/^/  efis-cli: /' "$EFIS_WORK/cli.out" "$EFIS_WORK/cli.err"
}
cli devices
compare "efis-cli devices exit status" "$rc" 0
compare "efis-cli devices: units listed" "$(grep -c 'USB HID  /dev/hidraw' "$EFIS_WORK/cli.out")" 2
cli set vne=123
compare "efis-cli set with two units and no choice: exit status" "$rc" 2
cli set vne=124 --serial 0x22222222
compare "efis-cli set --serial exit status" "$rc" 0
cli --json get vne --device "$second_path"
compare "efis-cli get --device: the value set on that unit" "$(cat "$EFIS_WORK/cli.out")" '{"vne":124}'
cli --json get vne --device "$first_path"
compare "efis-cli get --device: the other unit unchanged" \
    "$([ "$(cat "$EFIS_WORK/cli.out")" != '{"vne":124}' ] && echo unchanged)" unchanged

rc=0
timeout 60 "$window_bin" units 0x22222222 >"$EFIS_WORK/units-window.out" \
    2>"$EFIS_WORK/units-window.err" || rc=$?
grep -E '^(compared|Device menu|efis-vm-window)' "$EFIS_WORK/units-window.out"
compare "two units: efis-vm-window exit status" "$rc" 0

stop_unit
compare "unit b: settings requests of the set" "$(summary requests.0x378)" 1
unit_pid="$first_pid" unit_name="$first_name"
stop_unit
compare "unit a: settings sets (none: never guessed)" "$(summary requests.0x378)" ""
finish_check
