#!/usr/bin/env bash
# fuzz/run.sh [BUILD_DIR]: builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer), replays every saved reproducer and seed, then runs each target for
# EFIS_FUZZ_SECONDS seconds (30 by default) on a working corpus in the build directory. A crash,
# a sanitizer finding or a broken promise of a target fails the run; the input that caused it is
# kept in BUILD_DIR/findings/TARGET/ (copy it into fuzz/TARGET/reproducers/ once mended).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=../tools/install_missing.sh
. tools/install_missing.sh

build="${1:-build-fuzz}"
seconds="${EFIS_FUZZ_SECONDS:-30}"
targets=(settings_file input_reports firmware_image)
# The longest input tried: a settings file or a run of reports fits in 4 KiB; an image's payload
# costs a pause per 64 bytes, and past its header only its length matters.
declare -A max_len=([settings_file]=4096 [input_reports]=4096 [firmware_image]=1024)

install_missing --no-recommends clang-14 libclang-rt-14-dev

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
    -DCMAKE_CXX_COMPILER=clang++-14 -DEFIS_FUZZ=ON -DEFIS_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for t in "${targets[@]}"; do
    exe="$build/fuzz/fuzz_$t"
    echo "-- $t: the saved reproducers and the seeds"
    mkdir -p "$build/corpus/$t" "$build/findings/$t"
    log="$build/findings/$t.log"
    if ! "$exe" -runs=0 "fuzz/$t/reproducers" "fuzz/$t/corpus" >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        echo "fuzz: $t fails on a saved input" >&2
        exit 1
    fi

    echo "-- $t: fuzzing for ${seconds} s"
    if ! "$exe" -max_total_time="$seconds" -max_len="${max_len[$t]}" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$t/" "$build/corpus/$t" "fuzz/$t/corpus" >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        echo "fuzz: $t found a fault; the input is in $build/findings/$t/" >&2
        exit 1
    fi
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
    echo "fuzz: $t: ${runs:-?} inputs in ${seconds} s, ${rate:-?} executions per second, no fault"
done
