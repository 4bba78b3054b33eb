#!/bin/sh
# Runs in the guest as its first process, on the host's root (read-only, with a tmpfs overlay):
# loads the modules the checks use, runs every vm_check/checks/NN-name.sh in order, prints the
# result on the serial console and ends the guest through qemu's isa-debug-exit port with the
# pass (0x31) or failure (0x32) code.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/run/vm-check

finish() {
    if [ "$1" = pass ]; then code='\061'; else code='\062'; fi
    sync
    printf "$code" | dd of=/dev/port bs=1 seek=244 count=1 conv=notrunc 2>/dev/null
    # Only reached when the port did not end the guest.
    echo "vm-check: guest could not reach the exit port"
    echo o >/proc/sysrq-trigger
    sleep 10
}

# Every folder is writable through the overlay; no tmpfs is mounted over /tmp, which may
# hold the build.
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
echo "vm-check: guest up after $(cut -d' ' -f1 /proc/uptime) s, kernel $(uname -r)"

src="" build="" kernel=""
for arg in $(cat /proc/cmdline); do
    case "$arg" in
    efis_src=*) src="${arg#efis_src=}" ;;
    efis_build=*) build="${arg#efis_build=}" ;;
    efis_kernel=*) kernel="${arg#efis_kernel=}" ;;
    esac
done

[ -f "$kernel/guest.list" ] || { echo "vm-check: no module list under '$kernel'"; finish fail; }
for m in $(cat "$kernel/guest.list"); do
    if ! busybox insmod "$kernel/modules/$m"; then
        echo "vm-check: cannot load $m"
        finish fail
    fi
done
[ -c /dev/uhid ] || { echo "vm-check: /dev/uhid is missing"; finish fail; }

export EFIS_SRC="$src" EFIS_BUILD="$build"
passed=0
failed=""
for check in "$src"/vm_check/checks/[0-9][0-9]-*.sh; do
    [ -f "$check" ] || continue
    name="$(basename "$check" .sh)"
    EFIS_WORK="/tmp/vm-check/$name"
    export EFIS_WORK
    mkdir -p "$EFIS_WORK"
    echo "== check $name"
    started="$(cut -d' ' -f1 /proc/uptime)"
    rc=0
    timeout 300 sh "$check" || rc=$?
    # A program a check left running would take the next checks' units: that check failed.
    if pgrep -f "$build/(efis-config|efis-cli|vm_check/efis-vm-window|virtual_unit/)" >/dev/null; then
        echo "vm-check: $name left running: $(pgrep -a -f "$build/(efis-|vm_check/|virtual_unit/)" | tr '\n' ';')"
        pkill -KILL -f "$build/(efis-config|efis-cli|vm_check/efis-vm-window|virtual_unit/)"
        [ "$rc" -ne 0 ] || rc=1
    fi
    took="$(awk -v a="$started" -v b="$(cut -d' ' -f1 /proc/uptime)" 'BEGIN { printf "%.1f", b - a }')"
    if [ "$rc" -eq 0 ]; then
        echo "-- check $name passed (${took} s)"
        passed=$((passed + 1))
    else
        echo "-- check $name FAILED (exit status $rc, ${took} s)"
        failed="$failed $name"
    fi
done

echo "vm-check: guest done after $(cut -d' ' -f1 /proc/uptime) s"
if [ -z "$failed" ] && [ "$passed" -gt 0 ]; then
    echo "vm-check: all checks passed ($passed)"
    finish pass
fi
echo "vm-check: checks failed:${failed:- none ran}"
finish fail
