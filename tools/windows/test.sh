#!/usr/bin/env bash
# Runs the Windows build's test suites as Windows programs under wine, offscreen, against the
# simulated unit, then starts the real efis-config.exe with no unit: it must say that there is
# none and keep running. Ends with the line "windows: N passed, M failed, K skipped" (each skipped
# test is named with its reason); fails when M > 0.
#   test.sh OUT          (OUT as for build.sh: build-windows)
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out=$(cd "$1" && pwd)
build="$out/build"
qt_prefix=$(sed -n 's/^Qt6_DIR:[A-Z]*=\(.*\)\/lib\/cmake\/Qt6$/\1/p' "$build/CMakeCache.txt")
results="$out/test-results"
suite_timeout=${EFIS_WINDOWS_SUITE_TIMEOUT:-900}
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
wine_env "$out" "$qt_prefix"
trap wine_stop EXIT
rm -rf "$results" && mkdir -p "$results"

passed=0
failed=0
skipped=0
# The programs sit beside the DLLs they load, in the build's top folder.
for exe in "$build"/test_*.exe; do
    suite=$(basename "$exe" .exe)
    xml="$results/$suite.xml"
    echo "[$(date -u +%H:%M:%S)] $suite"
    # Z: is the Linux root, so the report lands where the script reads it.
    timeout -k 10 "$suite_timeout" wine "$exe" --gtest_output="xml:Z:${xml//\//\\}" \
        >"$results/$suite.log" 2>&1
    status=$?
    counts=$(python3 - "$xml" "$results/$suite.skipped" <<'EOF'
import sys
import xml.etree.ElementTree as ET
try:
    root = ET.parse(sys.argv[1]).getroot()
except Exception:
    print("0 0 0")
    sys.exit()
ran = failed = skipped = 0
for case in root.iter("testcase"):
    if case.get("result") == "skipped" or case.find("skipped") is not None:
        skipped += 1
        message = case.find("skipped")
        reason = message.get("message", "") if message is not None else ""
        with open(sys.argv[2], "a") as out:
            out.write("    skipped: %s.%s: %s\n" % (case.get("classname"), case.get("name"),
                                                  reason.strip().splitlines()[-1] if reason.strip() else ""))
        continue
    if case.get("result", "completed") != "completed" or case.get("status") == "notrun":
        continue
    ran += 1
    failed += case.find("failure") is not None or case.find("error") is not None
print(ran - failed, failed, skipped)
EOF
)
    read -r suite_passed suite_failed suite_skipped <<<"$counts"
    if { [ "$status" != 0 ] || [ ! -s "$xml" ]; } && [ "$suite_failed" = 0 ]; then
        # It crashed or hung before its report (wine may even end a crashed program with
        # status 0): the suite counts as one failure.
        echo "  $suite ended with status $status before reporting" >&2
        suite_failed=1
    fi
    if [ "$suite_failed" != 0 ]; then
        grep -E '^\[  FAILED  \]|Failure|error' "$results/$suite.log" | head -20 >&2
    fi
    echo "  $suite_passed passed, $suite_failed failed, $suite_skipped skipped"
    if [ "$suite_skipped" != 0 ]; then
        cat "$results/$suite.skipped"
    fi
    skipped=$((skipped + suite_skipped))
    passed=$((passed + suite_passed))
    failed=$((failed + suite_failed))
done

# The real program with no unit (wine's HID stack finds none): it must say so and keep running.
echo "[$(date -u +%H:%M:%S)] efis-config.exe with no unit"
timeout -k 10 40 wine "$build/efis-config.exe" >"$results/efis-config.log" 2>&1
status=$?
if [ "$status" = 124 ] && grep -q 'Failed to connect via both USB HID and CAN FD' "$results/efis-config.log"; then
    echo "  efis-config.exe said there is no unit and kept running"
    passed=$((passed + 1))
else
    echo "  efis-config.exe ended with status $status; its output:" >&2
    tail -20 "$results/efis-config.log" >&2
    failed=$((failed + 1))
fi

wine_stop
echo "windows: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
