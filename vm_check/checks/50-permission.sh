#!/bin/sh
# The unit's hidraw node left to root, as the kernel makes it: efis-config run by an
# unprivileged user keeps the usual failure lines, adds the one that names the node, the cause
# and the remedy, and the window shows the short text in its status bar. Then the user is given
# the access that the project's udev rule gives the user at the seat, and the same user
# connects. The guest runs neither udev nor a seat manager, so the rule itself is checked for
# naming the unit the kernel shows, and the access it leads to (uaccess: an ACL entry for the
# user, here the node handed to the user) is granted by hand.
. "$EFIS_SRC/vm_check/lib.sh"

user=65534 # nobody
as_user() {
    setpriv --reuid="$user" --regid="$user" --clear-groups \
        env HOME="$EFIS_WORK/home" XDG_RUNTIME_DIR="$EFIS_WORK/runtime" "$@"
}
mkdir -p "$EFIS_WORK/home" "$EFIS_WORK/runtime"
chown "$user:$user" "$EFIS_WORK/home" "$EFIS_WORK/runtime"
chmod 700 "$EFIS_WORK/runtime"

# run_tool NAME: efis-config as the user until its connection outcome is out (at most 30 s).
# The background subshell execs setpriv, which execs the tool: $! is the tool's own process, so
# that ending it leaves no tool behind (one left running would look for the unit every 2 s and
# take the later checks' units).
run_tool() {
    out="$EFIS_WORK/$1.out"
    (exec setpriv --reuid="$user" --regid="$user" --clear-groups \
        env HOME="$EFIS_WORK/home" XDG_RUNTIME_DIR="$EFIS_WORK/runtime" "$tool_bin") \
        >"$out" 2>"$EFIS_WORK/$1.err" &
    pid=$!
    i=0
    while [ "$i" -lt 300 ] && kill -0 "$pid" 2>/dev/null; do
        grep -q '^Connected via USB HID$\|cannot be opened' "$out" && break
        i=$((i + 1))
        sleep 0.1
    done
    sleep 0.5
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    if pgrep -u "$user" -f "$tool_bin" >/dev/null; then
        failed "$1: efis-config ended"
        pkill -KILL -u "$user" -f "$tool_bin"
    fi
}

start_unit permission
node="$(sed -n 's/.* ready at \(\/dev\/hidraw[0-9]*\) .*/\1/p' "$EFIS_WORK/permission.log")"
[ -c "$node" ] || { failed "hidraw node of the unit found"; finish_check; }
chown root:root "$node"
chmod 600 "$node"
echo "node $node: $(stat -c '%U:%G %a' "$node")"

run_tool refused
compare "usual failure lines kept" \
    "$(grep -c -x 'Failed to connect to USB HID device
Failed to connect via both USB HID and CAN FD' "$out")" 2
compare "added line" "$(tail -n 1 "$out")" \
    "USB HID device $node cannot be opened: permission denied. Install the efis-config package or the udev rule from the README, then unplug and replug the unit."

# The window over the same path: its status after start-up (efis-vm-window prints what it got).
as_user timeout 60 "$window_bin" firmware /nonexistent-image >"$EFIS_WORK/window.out" \
    2>"$EFIS_WORK/window.err"
compare "status text" \
    "$(sed -n 's/^compared status after start-up: got "\(.*\)", expected .*/\1/p' "$EFIS_WORK/window.out")" \
    "No permission to open the EFIS ($node) - install the efis-config package or its udev rule, then replug the unit"

# The rule names the unit as the kernel shows it: HID_ID is bus:vendor:product.
rule="$(grep "^SUBSYSTEM" "$EFIS_BUILD/packaging/60-efis-config.rules")"
hid_id="$(sed -n 's/^HID_ID=//p' "/sys/class/hidraw/$(basename "$node")/device/uevent")"
vendor="$(echo "$hid_id" | cut -d: -f2 | tail -c 5 | tr 'A-F' 'a-f')"
product="$(echo "$hid_id" | cut -d: -f3 | tail -c 5 | tr 'A-F' 'a-f')"
compare "rule names the unit's hidraw node" "$rule" \
    "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"$vendor\", ATTRS{idProduct}==\"$product\", TAG+=\"uaccess\""

chown "$user" "$node"
run_tool granted
compare "connection line once access is granted" "$(grep -c -x 'Connected via USB HID' "$out")" 1
compare "no access line once access is granted" "$(grep -c 'cannot be opened' "$out")" 0

stop_unit
finish_check
