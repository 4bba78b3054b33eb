# shellcheck shell=sh disable=SC2034
# Helpers of the guest checks (sourced). Each check runs with EFIS_SRC (the source tree),
# EFIS_BUILD (the build folder) and EFIS_WORK (a writable folder of its own) set, prints what it
# compared, and exits 0 only when every comparison held.

unit_bin="$EFIS_BUILD/virtual_unit/efis-virtual-unit"
tool_bin="$EFIS_BUILD/efis-config"
window_bin="$EFIS_BUILD/vm_check/efis-vm-window"
image_bin="$EFIS_BUILD/make_demo_image"
failures=0
unit_pid=""
unit_name=""

# compare WHAT GOT EXPECTED
compare() {
    if [ "$2" = "$3" ]; then
        echo "compared $1: got '$2', expected '$3': ok"
    else
        echo "compared $1: got '$2', expected '$3': FAILED"
        failures=$((failures + 1))
    fi
}

# holds WHAT: records a failed condition (the caller tests it)
failed() {
    echo "$1: FAILED"
    failures=$((failures + 1))
}

# Seconds since boot, to the hundredth.
now() { cut -d' ' -f1 /proc/uptime; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

# wait_for_line FILE PATTERN SECONDS [PID]: waits until a line of FILE matches the extended
# regular expression PATTERN, for at most SECONDS or until process PID ended; 0 when it does.
wait_for_line() {
    waited_from="$(now)"
    while ! grep -qE "$2" "$1"; do
        if [ -n "${4:-}" ] && ! kill -0 "$4" 2>/dev/null; then
            grep -qE "$2" "$1"
            return $?
        fi
        if [ "$(elapsed "$waited_from" | cut -d. -f1)" -ge "$3" ]; then
            return 1
        fi
        sleep 0.1
    done
}

# load_with_tool NAME: runs efis-config until it printed "CRC Check Passed." (or gave up
# connecting, or 60 s passed), then ends it: the tool runs until it is ended. Its output is in
# $EFIS_WORK/NAME.out ($out), the seconds until the line in $seen (empty when it never came).
load_with_tool() {
    out="$EFIS_WORK/$1.out"
    started="$(now)"
    "$tool_bin" >"$out" 2>"$EFIS_WORK/$1.err" &
    tool_pid=$!
    seen=""
    if wait_for_line "$out" '^(CRC Check Passed\.|Failed to connect via both USB HID and CAN FD)$' \
        60 "$tool_pid" && grep -q '^CRC Check Passed\.$' "$out"; then
        seen="$(elapsed "$started")"
    fi
    kill -TERM "$tool_pid" 2>/dev/null
    wait "$tool_pid" 2>/dev/null
    if [ -n "$seen" ]; then
        echo "$1: \"CRC Check Passed.\" printed ${seen} s after start"
    else
        failed "$1: \"CRC Check Passed.\" printed within 60 s"
        echo "---- efis-config standard output"
        cat "$out"
        echo "---- efis-config standard error (last lines)"
        tail -n 20 "$EFIS_WORK/$1.err"
    fi
}

# start_unit NAME [OPTIONS...]: starts the virtual unit, its log in $EFIS_WORK/NAME.log and its
# summary in $EFIS_WORK/NAME.summary, and waits until the kernel shows it.
start_unit() {
    unit_name="$1"
    shift
    rm -f "$EFIS_WORK/$unit_name.summary"
    "$unit_bin" --summary "$EFIS_WORK/$unit_name.summary" "$@" >"$EFIS_WORK/$unit_name.log" 2>&1 &
    unit_pid=$!
    if ! wait_for_line "$EFIS_WORK/$unit_name.log" 'unit ready at /dev/hidraw' 20 "$unit_pid"; then
        echo "the virtual unit did not come up:"
        cat "$EFIS_WORK/$unit_name.log"
        exit 1
    fi
    grep 'ready at' "$EFIS_WORK/$unit_name.log"
}

# stop_unit: ends the virtual unit (unless it ended itself) and waits for its summary.
stop_unit() {
    kill -TERM "$unit_pid" 2>/dev/null
    rc=0
    wait "$unit_pid" || rc=$?
    compare "virtual unit exit status" "$rc" 0
    echo "virtual unit: $(grep -c '^request ' "$EFIS_WORK/$unit_name.log") request lines"
}

# summary KEY: the value the unit's summary gives for KEY.
summary() {
    sed -n "s/^$1=//p" "$EFIS_WORK/$unit_name.summary"
}

# The unit saw no fault of the tool's: no store under a wrong checksum, no flash write outside
# erased memory or outside the partition, no report it could not take as a request.
compare_clean_unit() {
    compare "stores under a wrong checksum" "$(summary stores_checksum_mismatch)" 0
    for kind in not_erased outside_partition out_of_range erase_outside_partition; do
        compare "flash violations ($kind)" "$(summary "flash_violations.$kind")" 0
    done
    compare "output reports not taken as requests" "$(summary malformed_reports)" 0
    compare "replies the kernel did not take" "$(summary replies_lost)" 0
}

finish_check() {
    if [ "$failures" -eq 0 ]; then
        exit 0
    fi
    echo "$failures comparison(s) failed"
    exit 1
}
