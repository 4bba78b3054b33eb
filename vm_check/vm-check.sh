#!/usr/bin/env bash
# The real-path guest check: boots Debian's stock kernel once under qemu, with this machine's
# own filesystem as the guest's root (read-only over 9p, with a tmpfs overlay for writes), and
# runs every check in vm_check/checks/ against efis-virtual-unit on the guest kernel's HID
# stack, with the real tool linked to the system hidapi library.
#   vm_check/vm-check.sh [BUILD_DIR]     (default: build/)
# The kernel package is downloaded with apt-get and unpacked, not installed; only the kernel
# image and the modules the guest loads are kept, under BUILD_DIR/vm-kernel/. qemu and busybox
# are installed with apt-get when missing. Exits non-zero on any failure and prints the guest's
# console in every case.
set -euo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$top/build}")"
cache="$build/vm-kernel"

# Modules the guest needs to reach its root (loaded from the initramfs) and the ones the checks
# use (loaded by the guest script from the cache, which the guest sees through its root). The
# CAN modules are for the CAN FD checks.
boot_modules=(virtio_pci 9pnet_virtio 9p overlay)
guest_modules=(hid hid-generic uhid can can-raw can-dev vcan)

# Pass and failure codes the guest writes to qemu's isa-debug-exit port; qemu exits with
# (code << 1) | 1.
guest_pass=$((0x31))
guest_fail=$((0x32))
qemu_pass=$(((guest_pass << 1) | 1))

say() { echo "vm-check: $*"; }
die() {
    echo "vm-check: $*" >&2
    exit 1
}

# shellcheck source=tools/install_missing.sh
. "$(dirname "${BASH_SOURCE[0]}")/../tools/install_missing.sh"

# The versioned kernel package that linux-image-amd64 stands for.
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}

# Prints the module files (paths relative to the module tree) for the given module names, each
# after the modules it depends on, each once. Names may be written with - or _.
resolve_modules() {
    local tree="$1"
    shift
    local -A seen=()
    local order=()
    visit() {
        local name="$1" file deps dep
        local key="${name//-/_}"
        [ -n "${seen[$key]:-}" ] && return 0
        seen[$key]=1
        file="$(find "$tree" \( -name "${key}.ko" -o -name "${key//_/-}.ko" \) -print -quit)"
        [ -n "$file" ] || die "module $name not found in the kernel package"
        deps="$(tr '\0' '\n' <"$file" | sed -n 's/^depends=//p' | head -n 1)"
        for dep in ${deps//,/ }; do
            visit "$dep"
        done
        order+=("${file#"$tree"/}")
    }
    local m
    for m in "$@"; do
        visit "$m"
    done
    printf '%s\n' "${order[@]}"
}

# Fetches the kernel into the cache unless it is there; prints the cache folder of the kernel.
fetch_kernel() {
    local pkg
    pkg="$(kernel_package)"
    if [ -z "$pkg" ]; then
        apt-get update -qq >&2
        pkg="$(kernel_package)"
    fi
    [ -n "$pkg" ] || die "apt cannot resolve linux-image-amd64"
    local dir="$cache/$pkg"
    if [ -f "$dir/vmlinuz" ] && [ -f "$dir/boot.list" ] && [ -f "$dir/guest.list" ]; then
        echo "$dir"
        return 0
    fi
    local tmp
    tmp="$(mktemp -d)"
    chmod 755 "$tmp" # apt's download user writes there
    say "downloading $pkg" >&2
    if ! (cd "$tmp" && apt-get download -q "$pkg" >/dev/null 2>&1); then
        apt-get update -qq >&2
        (cd "$tmp" && apt-get download -q "$pkg" >/dev/null) || die "cannot download $pkg"
    fi
    dpkg-deb -x "$tmp"/"$pkg"_*.deb "$tmp/root"
    local tree
    tree="$(find "$tmp/root/lib/modules" -mindepth 1 -maxdepth 1 -type d -print -quit)"
    rm -rf "$cache"
    mkdir -p "$dir/modules"
    cp "$tmp/root/boot"/vmlinuz-* "$dir/vmlinuz"
    local list f
    for list in boot guest; do
        local names=()
        if [ "$list" = boot ]; then names=("${boot_modules[@]}"); else names=("${guest_modules[@]}"); fi
        resolve_modules "$tree" "${names[@]}" >"$tmp/$list.list"
        : >"$dir/$list.list"
        while read -r f; do
            cp "$tree/$f" "$dir/modules/"
            basename "$f" >>"$dir/$list.list"
        done <"$tmp/$list.list"
    done
    rm -rf "$tmp"
    echo "$dir"
}

# The initramfs: busybox, the boot modules and an init that mounts the host's root and hands
# over to the guest script.
make_initramfs() {
    local kdir="$1" out="$2"
    local tmp
    tmp="$(mktemp -d)"
    mkdir -p "$tmp"/{bin,dev,proc,sys,modules,lower,rw,root}
    cp /bin/busybox "$tmp/bin/busybox"
    ln -s busybox "$tmp/bin/sh"
    local f
    while read -r f; do
        cp "$kdir/modules/$f" "$tmp/modules/"
    done <"$kdir/boot.list"
    cp "$kdir/boot.list" "$tmp/modules/boot.list"
    cp "$top/vm_check/guest-init.sh" "$tmp/init"
    chmod 755 "$tmp/init"
    (cd "$tmp" && find . | /bin/busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$out")
    rm -rf "$tmp"
}

install_missing --no-recommends qemu-system-x86 busybox-static

# The programs the checks run, built when missing or out of date.
cmake --build "$build" -j"$(nproc)" --target efis-config efis-virtual-unit efis-vm-window \
    make_demo_image >/dev/null

kdir="$(fetch_kernel)"
initramfs="$cache/initramfs.cpio.gz"
make_initramfs "$kdir" "$initramfs"

accel="tcg"
# A KVM that cannot run a stock kernel is worse than none: use it only when it is usable.
if [ -r /dev/kvm ] && [ -w /dev/kvm ] && [ "${EFIS_VM_KVM:-auto}" != "no" ]; then
    accel="kvm"
fi

console="$cache/console.log"
# run_guest ACCEL SECONDS: one boot-check-poweroff cycle, ended after SECONDS at the latest.
run_guest() {
    local accel="$1" limit="$2"
    : >"$console"
    local start end rc=0
    start="$(date +%s.%N)"
    timeout "$limit" qemu-system-x86_64 \
        -accel "$accel" -cpu max -smp 1 -m 1024 \
        -nodefaults -display none -no-reboot \
        -kernel "$kdir/vmlinuz" -initrd "$initramfs" \
        -append "console=ttyS0 panic=-1 quiet loglevel=4 efis_src=$top efis_build=$build efis_kernel=$kdir" \
        -serial "file:$console" \
        -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
        -device isa-debug-exit,iobase=0xf4,iosize=0x04 || rc=$?
    end="$(date +%s.%N)"
    guest_seconds="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')"
    return "$rc"
}

say "booting the guest ($accel, 1 CPU, 1 GiB)"
rc=0
if [ "$accel" = kvm ]; then
    # A KVM that cannot boot a stock kernel hangs or faults early: give it two minutes.
    run_guest kvm 120 || rc=$?
    if ! grep -q '^vm-check: guest ' "$console"; then
        say "the guest did not come up under KVM (exit $rc); booting it again under TCG"
        accel="tcg"
        rc=0
    fi
fi
if [ "$accel" = tcg ]; then
    run_guest tcg 600 || rc=$?
fi

echo "---- guest console ----"
cat "$console"
echo "---- end of guest console ----"
say "boot-check-poweroff cycle: ${guest_seconds} s ($accel)"

if [ "$rc" -eq "$qemu_pass" ] && grep -q '^vm-check: all checks passed' "$console"; then
    say "passed"
    exit 0
fi
case "$rc" in
"$(((guest_fail << 1) | 1))") say "FAILED: a check failed in the guest" ;;
124) say "FAILED: the guest did not finish within its time limit" ;;
*) say "FAILED: the guest ended without a result (qemu exit status $rc)" ;;
esac
exit 1
