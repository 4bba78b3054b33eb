#!/usr/bin/env bash
# Cross-builds the project for Windows with the cached dependencies (build.sh finds or makes them).
#   build-project.sh CACHE_ENTRY OUT
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
entry=$1
out=$2
prefix="$entry/prefix"

mkdir -p "$out"
export EFIS_WINDOWS_PREFIX="$prefix"
# Only the cross-built libraries' .pc files: the host's would describe Linux libraries.
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig"
export PKG_CONFIG_PATH=
# The build runs one Windows program (the demo image's maker) through wine.
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
wine_env "$out" "$prefix"
trap wine_stop EXIT
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    # Paths inside the clone hashed as relative ones: a clone elsewhere finds the same entries.
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$repo}
fi
echo "[$(date -u +%H:%M:%S)] configuring the Windows build in $out/build"
cmake -S "$repo" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DEFIS_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$here/mingw-w64.cmake" "${launcher[@]}" \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >"$out/configure.log" 2>&1 || {
    tail -30 "$out/configure.log" >&2
    exit 1
}
echo "[$(date -u +%H:%M:%S)] building for Windows (ninja -j${EFIS_WINDOWS_JOBS:-2})"
nice -n 5 ninja -C "$out/build" -j"${EFIS_WINDOWS_JOBS:-2}"
echo "[$(date -u +%H:%M:%S)] Windows build done"
