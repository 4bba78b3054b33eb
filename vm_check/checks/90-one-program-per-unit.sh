#!/bin/sh
# One program per unit over the real kernel path. The window (efis-config) connects and loads;
# efis-cli get run meanwhile must be refused at once with exit status 4, name the window as the
# holder, and send nothing (the unit's request counts show only the window's exchanges); once the
# window has ended, efis-cli reads the unit. Then Ctrl-C lands during efis-cli flash at several
# moments (connection and load, erase, payload): every run must stop with exit status 130 and
# say where, never "firmware update failed", and the unit must see no write outside erased flash.
. "$EFIS_SRC/vm_check/lib.sh"

cli_bin="$EFIS_BUILD/efis-cli"

# ---- the window holds the unit
start_unit in-use
window_out="$EFIS_WORK/window.out"
"$tool_bin" >"$window_out" 2>"$EFIS_WORK/window.err" &
tool_pid=$!
if wait_for_line "$window_out" '^CRC Check Passed\.$' 60 "$tool_pid"; then
    rc=0
    "$cli_bin" get vne >"$EFIS_WORK/cli.out" 2>"$EFIS_WORK/cli.err" || rc=$?
    sed 's/^/  efis-cli: /' "$EFIS_WORK/cli.out" "$EFIS_WORK/cli.err"
    compare "efis-cli get beside the window: exit status" "$rc" 4
    if grep -q "^efis-cli: EFIS 0x[0-9A-F]* at /dev/hidraw[0-9]* is in use by another program (efis-config, process $tool_pid): nothing sent$" "$EFIS_WORK/cli.err"; then
        echo "compared the refusal names the window as holder: ok"
    else
        failed "the refusal names the window as holder"
    fi
else
    failed "the window connected and loaded"
    cat "$window_out"
fi
kill -TERM "$tool_pid" 2>/dev/null
wait "$tool_pid" 2>/dev/null

rc=0
"$cli_bin" get vne >"$EFIS_WORK/cli.out" 2>"$EFIS_WORK/cli.err" || rc=$?
sed 's/^/  efis-cli: /' "$EFIS_WORK/cli.out" "$EFIS_WORK/cli.err"
compare "efis-cli get once the window ended: exit status" "$rc" 0
stop_unit
compare "serial-number requests (the window's and the last efis-cli's)" "$(summary requests.0x123)" 2
compare "settings reads (the window's load and the last efis-cli's)" "$(summary requests.0x376)" 70
compare_clean_unit

# ---- Ctrl-C during efis-cli flash
image="$EFIS_WORK/firmware.bin"
"$image_bin" "$image" 200000 >/dev/null || failed "making the firmware image"
start_unit ctrl-c --reply-delay-us 300
stopped=0
# Each moment counts from the line efis-cli prints once it runs the command (before it connects):
# a signal before its handlers exist is the shell's business, not the tool's.
for moment in 0 0.3 1 2.5 4; do
    out="$EFIS_WORK/flash-$moment.out"
    err="$EFIS_WORK/flash-$moment.err"
    "$cli_bin" flash "$image" --no-backup >"$out" 2>"$err" &
    cli_pid=$!
    wait_for_line "$out" '^image ' 30 "$cli_pid" || failed "efis-cli flash started"
    sleep "$moment"
    signalled=1
    kill -INT "$cli_pid" 2>/dev/null || signalled=0
    rc=0
    wait "$cli_pid" || rc=$?
    where="$(sed -n 's/^efis-cli: interrupted //p' "$err" | head -n 1)"
    if [ "$rc" -eq 0 ] && grep -q '^firmware written' "$out"; then
        # A fast guest ends the transfer before the later moments: no Ctrl-C to stop it.
        echo "Ctrl-C $moment s into efis-cli flash: the update had ended (signal sent: $signalled)"
    elif [ "$rc" -eq 130 ] && [ -n "$where" ]; then
        echo "Ctrl-C $moment s into efis-cli flash: exit status 130, stopped $where"
        stopped=$((stopped + 1))
    else
        failed "Ctrl-C $moment s into efis-cli flash: exit status $rc"
        sed 's/^/  efis-cli: /' "$out" "$err"
    fi
    if grep -q "firmware update failed" "$err"; then
        failed "Ctrl-C $moment s into efis-cli flash: reported as a failed update"
    fi
done
stop_unit
echo "figure: Ctrl-C during efis-cli flash: $stopped of 5 moments stopped between exchanges"
compare_clean_unit
finish_check
