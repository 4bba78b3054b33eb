#!/bin/sh
# The guest's first program, from the initramfs (busybox): mounts the host's root read-only over
# 9p under a tmpfs overlay and hands over to vm_check/guest.sh there. Any failure here ends the
# guest with the failure code on qemu's isa-debug-exit port.
export PATH=/bin

fail() {
    echo "vm-check: guest init failed: $*"
    # 0x32 on port 0xf4: qemu exits with the check's failure status.
    printf '\062' | busybox dd of=/dev/port bs=1 seek=244 count=1 conv=notrunc 2>/dev/null
    busybox poweroff -f
}

busybox mount -t proc proc /proc
busybox mount -t sysfs sysfs /sys
busybox mount -t devtmpfs devtmpfs /dev

for m in $(busybox cat /modules/boot.list); do
    busybox insmod "/modules/$m" || fail "insmod $m"
done

busybox mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 \
    hostroot /lower || fail "mounting the host's root over 9p"
busybox mount -t tmpfs -o mode=755 tmpfs /rw || fail "mounting the tmpfs"
busybox mkdir -p /rw/upper /rw/work
busybox mount -t overlay overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work /root ||
    fail "mounting the overlay"

src=""
for arg in $(busybox cat /proc/cmdline); do
    case "$arg" in
    efis_src=*) src="${arg#efis_src=}" ;;
    esac
done
[ -n "$src" ] && [ -f "/root$src/vm_check/guest.sh" ] || fail "no guest script under '$src'"

busybox mount --move /proc /root/proc
busybox mount --move /sys /root/sys
busybox mount --move /dev /root/dev
exec busybox switch_root /root /bin/sh "$src/vm_check/guest.sh"
