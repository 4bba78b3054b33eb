#!/usr/bin/env bash
# Drives the demo under a virtual X display through a firmware update with the
# demo image and takes a screenshot of the window when the update is done, then
# one with View → Log open:
#   tools/demo_screenshot.sh [update.png [log.png]]
#   (default: docs/demo-after-firmware-update.png, docs/demo-log-panel.png)
# or, with --preview, types a Vne below Vn0 and a roll correction into the form and
# takes the window with its display preview:
#   tools/demo_screenshot.sh --preview [output.png]   (default: docs/demo-display-preview.png)
# Needs Xvfb, xdotool and ImageMagick (apt-get install xvfb xdotool imagemagick)
# and a built demo (tools/quickstart.sh demo, or cmake --build build).
# The clicks go to the form's fixed geometry, relative to the window.
set -euo pipefail

usage="usage: $0 [UPDATE.png [LOG.png]] | --preview [PREVIEW.png]
  takes the demo's window after a firmware update, and with View → Log open
  (defaults: docs/demo-after-firmware-update.png, docs/demo-log-panel.png);
  with --preview, the window with its display preview (docs/demo-display-preview.png)"
case "${1:-}" in
--preview) ;;
-h | --help)
    echo "$usage"
    exit 0
    ;;
-*)
    echo "$0: unknown option \"$1\"" >&2
    echo "$usage" >&2
    exit 2
    ;;
esac
if [ $# -gt 2 ]; then
    echo "$usage" >&2
    exit 2
fi

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${EFIS_BUILD_DIR:-$top/build}"
mode=update
if [ "${1:-}" = "--preview" ]; then
    mode=preview
    shift
fi
if [ "$mode" = preview ]; then
    out="${1:-$top/docs/demo-display-preview.png}"
else
    out="${1:-$top/docs/demo-after-firmware-update.png}"
    log_out="${2:-$top/docs/demo-log-panel.png}"
fi
display=":${EFIS_DEMO_DISPLAY:-97}"
work="$(mktemp -d)"

for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
[ -x "$build/efis-config-demo" ] && [ -f "$build/demo-firmware.bin" ] ||
    { echo "build the demo first: tools/quickstart.sh demo" >&2; exit 1; }

Xvfb "$display" -screen 0 1400x1024x24 >"$work/xvfb.log" 2>&1 &
xvfb=$!
demo=""
cleanup() {
    [ -n "$demo" ] && kill "$demo" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY="$display"

# Waits up to $2 seconds for the demo's output to hold the text $1.
wait_for_line() {
    for _ in $(seq $(( $2 * 10 ))); do
        grep -qF "$1" "$work/demo.log" && return 0
        sleep 0.1
    done
    echo "the demo did not print \"$1\"; its output:" >&2
    cat "$work/demo.log" >&2
    return 1
}

sleep 1
stdbuf -o0 "$build/efis-config-demo" >"$work/demo.log" 2>&1 &
demo=$!
wait_for_line "CRC Check Passed." 20
window="$(xdotool search --sync --name '^RK_62 EFIS Config$' | head -n 1)"
sleep 1

click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.5; }
# Replaces the text of the spin box at $1,$2 with $3.
type_into() {
    click "$1" "$2"
    xdotool key ctrl+a
    xdotool type --delay 50 "$3"
    sleep 0.5
}

if [ "$mode" = preview ]; then
    type_into 300 335 115  # Vne, below Vn0 120: the yellow arc runs backwards
    type_into 765 292 5.0  # Roll Correction
    sleep 0.5
    mkdir -p "$(dirname "$out")"
    import -window "$window" "$out"
    echo "screenshot: $out"
    exit 0
fi
click 147 42   # the "Firmware Update" tab, below the menu bar
click 392 201  # "Select Firmware File"
sleep 1
xdotool type --delay 10 "$build/demo-firmware.bin"
xdotool key Return
sleep 0.5
click 392 321  # "Start Update"
sleep 1
xdotool key alt+n  # "No" to the backup offered before the update
wait_for_line "Firmware update process finished" 120
grep -qF "send_fw: Firmware transmission completed successfully" "$work/demo.log" ||
    { echo "the firmware update did not complete:" >&2; cat "$work/demo.log" >&2; exit 1; }
sleep 0.5

mkdir -p "$(dirname "$out")"
import -window "$window" "$out"
echo "screenshot: $out"

# View → Log: the panel below the form, holding what the demo printed.
click 114 8  # the "View" menu
xdotool key l  # its "Log"
sleep 1
mkdir -p "$(dirname "$log_out")"
import -window "$window" "$log_out"
echo "screenshot: $log_out"
