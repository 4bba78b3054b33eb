#!/usr/bin/env bash
# Installs the installer silently under wine, in a prefix of its own with no Qt or MinGW on the
# path (the installed files must be enough), starts the installed demo offscreen (it must load its
# simulated unit), then uninstalls and checks that nothing of the installer's is left.
#   installer-check.sh OUT
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out=$(cd "$1" && pwd)
setup=$(ls "$out"/packages/efis-config-setup-*.exe)
check="$out/installer-check"
rm -rf "$check" && mkdir -p "$check"
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
wine_env "$check" /nonexistent
export WINEPATH=
trap wine_stop EXIT
fail() {
    echo "installer check: $*" >&2
    exit 1
}

folder="$WINEPREFIX/drive_c/efis-config-check"
echo "[$(date -u +%H:%M:%S)] installing $(basename "$setup") silently"
timeout -k 10 300 wine "$setup" /S /AllUsers '/D=C:\efis-config-check' || fail "the installer failed"
timeout 60 wineserver -w
for f in efis-config.exe efis-config-demo.exe efis-cli.exe Qt6Widgets.dll platforms/qwindows.dll \
    licenses/Qt-LGPL-3.0.txt uninstall.exe; do
    [ -f "$folder/$f" ] || fail "$f was not installed"
done
menu=$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'EFIS Config demo*.lnk' | head -1)
[ -n "$menu" ] || fail "no Start menu entry for the demo"

echo "[$(date -u +%H:%M:%S)] starting the installed demo"
timeout -k 10 40 wine "$folder/efis-config-demo.exe" >"$check/demo.log" 2>&1
status=$?
if [ "$status" != 124 ] || ! grep -q 'Successfully connected to USB HID device' "$check/demo.log"; then
    tail -20 "$check/demo.log" >&2
    fail "the installed demo did not load its simulated unit (status $status)"
fi
wine_stop

echo "[$(date -u +%H:%M:%S)] uninstalling"
# _?= keeps the uninstaller in place, so that the command waits for it.
timeout -k 10 120 wine "$folder/uninstall.exe" /S /AllUsers '_?=C:\efis-config-check' ||
    fail "the uninstaller failed"
timeout 60 wineserver -w
left=$(find "$folder" -type f ! -name uninstall.exe | head -5)
[ -z "$left" ] || fail "the uninstaller left $left"
echo "installer check passed: installed, the demo loaded its simulated unit, uninstalled"
