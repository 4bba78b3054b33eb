#!/usr/bin/env bash
# Builds the Debian package and checks it as a user's machine would take it:
#   - lintian finds no error (its warnings are listed);
#   - the desktop entries and the AppStream metainfo validate;
#   - it installs into a clean Debian 12 root (debootstrap minbase, then apt in a
#     chroot, so that the dependencies computed from the binaries are tried);
#   - the installed efis-config and efis-config-demo start offscreen and keep
#     running their event loop, each having printed its start-up lines;
#   - it removes and purges cleanly.
# usage: packaging/check-package.sh BUILD_DIR
# The clean root is kept under BUILD_DIR/package-check/base and reused; each run
# installs into a fresh copy of it.
set -euo pipefail

build="$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)"
suite=bookworm
mirror="${EFIS_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
work="$build/package-check"
base="$work/base"
root="$work/root"
archives="$work/archives"

fail() {
    echo "package check: $*" >&2
    exit 1
}

tools=(debootstrap lintian desktop-file-utils appstream dpkg-dev)
# shellcheck source=tools/install_missing.sh
. "$(dirname "${BASH_SOURCE[0]}")/../tools/install_missing.sh"
install_missing "${tools[@]}"
[ "$(id -u)" -eq 0 ] || fail "the clean root needs root rights (debootstrap, chroot)"

mkdir -p "$work" "$archives"
echo "-- building the package"
cmake --build "$build" -j"$(nproc)" --target package >"$work.build.log" 2>&1 ||
    { tail -n 40 "$work.build.log"; fail "package build failed"; }
deb="$(ls -t "$build"/efis-config_*.deb 2>/dev/null | head -n 1)"
[ -n "$deb" ] || fail "no efis-config_*.deb in $build"
echo "package: $deb"
dpkg-deb --field "$deb"

echo "-- lintian"
lintian_out="$(lintian --fail-on error --display-info "$deb" 2>&1)" || {
    printf '%s\n' "$lintian_out"
    fail "lintian found errors"
}
printf '%s\n' "${lintian_out:-no tags}"

echo "-- desktop entries and metainfo"
rm -rf "$work/contents"
mkdir -p "$work/contents"
dpkg-deb -x "$deb" "$work/contents"
shopt -s nullglob
desktops=("$work"/contents/usr/share/applications/*.desktop)
metainfos=("$work"/contents/usr/share/metainfo/*.metainfo.xml)
[ ${#desktops[@]} -eq 2 ] || fail "expected 2 desktop entries, found ${#desktops[@]}"
[ ${#metainfos[@]} -eq 1 ] || fail "expected 1 metainfo file, found ${#metainfos[@]}"
desktop-file-validate "${desktops[@]}"
appstreamcli validate --no-net "${metainfos[@]}"
rules=("$work"/contents/usr/lib/udev/rules.d/*.rules)
[ ${#rules[@]} -eq 1 ] || fail "expected 1 udev rule, found ${#rules[@]}"
case "$(basename "${rules[0]}")" in
[0-6][0-9]-* | 7[0-2]-*) ;;
*) fail "$(basename "${rules[0]}") sorts after 73-seat-late.rules: its uaccess tag would be ignored" ;;
esac
grep -Eq '^SUBSYSTEM=="hidraw", ATTRS\{idVendor\}=="[0-9a-f]{4}", ATTRS\{idProduct\}=="[0-9a-f]{4}", TAG\+="uaccess"$' \
    "${rules[0]}" || fail "the udev rule is not the unit's hidraw rule"

# The start-up line names the unit's IDs as the rule does, in upper case.
ids="$(sed -n 's/.*idVendor}=="\([0-9a-f]*\)", ATTRS{idProduct}=="\([0-9a-f]*\)".*/0x\1:0x\2/p' \
    "${rules[0]}" | tr 'a-f' 'A-F')"

echo "-- clean Debian 12 root"
if [ ! -x "$base/usr/bin/apt-get" ]; then
    rm -rf "$base"
    debootstrap --variant=minbase "$suite" "$base" "$mirror" >"$work/debootstrap.log" 2>&1 ||
        { tail -n 20 "$work/debootstrap.log"; fail "debootstrap failed"; }
    rm -f "$base"/var/cache/apt/archives/*.deb
else
    echo "reusing $base"
fi
rm -rf "$root"
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
cp "$deb" "$root/tmp/efis-config.deb"
cp "$archives"/*.deb "$root/var/cache/apt/archives/" 2>/dev/null || true
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
in_root apt-get update -qq
# Without recommended packages: what the package declares must be enough to start.
DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -qq --no-install-recommends \
    /tmp/efis-config.deb >"$work/install.log" 2>&1 ||
    { tail -n 30 "$work/install.log"; fail "installing the package into the clean root failed"; }
cp "$root"/var/cache/apt/archives/*.deb "$archives/" 2>/dev/null || true
in_root dpkg -L efis-config | while read -r f; do [ -d "$root$f" ] || echo "installed: $f"; done

# A program that is still running when the time-out ends it has come up and runs its
# event loop; its start-up lines must be there too (the tool writes each line out at once).
start_check() {
    local program="$1"
    shift
    local out="$work/$program.out" rc=0
    in_root env QT_QPA_PLATFORM=offscreen timeout 15 "$program" >"$out" \
        2>"$work/$program.err" || rc=$?
    if [ "$rc" -ne 124 ]; then
        cat "$out" "$work/$program.err"
        fail "$program ended by itself (exit status $rc) instead of running its event loop"
    fi
    for line in "$@"; do
        grep -Fxq "$line" "$out" || { cat "$out"; fail "$program did not print \"$line\""; }
    done
    echo "$program started and ran until stopped"
}
echo "-- starting the installed programs offscreen"
start_check efis-config "Attempting to connect to USB HID device $ids" \
    "Failed to connect via both USB HID and CAN FD"
start_check efis-config-demo "Attempting to connect to USB HID device $ids" \
    "Connected via USB HID" "CRC Check Passed."

echo "-- removing and purging"
DEBIAN_FRONTEND=noninteractive in_root apt-get remove -y -qq efis-config >"$work/remove.log" 2>&1 ||
    { cat "$work/remove.log"; fail "removing the package failed"; }
in_root dpkg --purge efis-config >>"$work/remove.log" 2>&1 ||
    { cat "$work/remove.log"; fail "purging the package failed"; }
[ ! -e "$root/usr/bin/efis-config" ] || fail "efis-config is still there after removal"
rm -rf "$root"
echo "package check passed"
