#!/usr/bin/env bash
# The recipe for the Windows dependencies: Qt (qtbase, shared), hidapi (shared) and GoogleTest
# (static), cross-built with MinGW-w64 from the Debian source packages in SOURCE_DIR into PREFIX.
# build.sh calls this only when its cache has no entry for the exact inputs; this file is one of
# those inputs, so any change to a flag here builds a new cache entry.
#
#   deps.sh SOURCE_DIR WORK_DIR PREFIX
set -euo pipefail

source_dir=$1
work=$2
prefix=$3
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
toolchain="$here/mingw-w64.cmake"
jobs=${EFIS_WINDOWS_JOBS:-2}

stamp() { echo "[$(date -u +%H:%M:%S)] $*"; }

# Tells which of Debian's patches dpkg-source applied (all of them, or the build stops).
check_debian_patches() {
    local tree=$1
    [ -f "$tree/debian/patches/series" ] || return 0
    local wanted applied
    wanted=$(grep -cvE '^\s*(#|$)' "$tree/debian/patches/series" || true)
    applied=$(wc -l <"$tree/.pc/applied-patches" 2>/dev/null || echo 0)
    stamp "$(basename "$tree"): $applied of $wanted Debian patches applied"
    [ "$wanted" = "$applied" ] || { echo "Debian's patches did not all apply" >&2; exit 1; }
}

mkdir -p "$work" "$prefix"
cd "$work"

# ---- qtbase
stamp "unpacking qtbase"
rm -rf qtbase
dpkg-source --no-check -x "$source_dir"/qt6-base_*.dsc qtbase >/dev/null
check_debian_patches qtbase
patch -d qtbase -p1 <"$here/qtbase-directwrite3-needs-direct2d.patch"

qt_configure=(
    -prefix "$prefix" -qt-host-path /usr -xplatform win32-g++ -release -shared
    -nomake tests -nomake examples -no-opengl -no-dbus -no-icu -no-glib -no-fontconfig
    -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre -qt-harfbuzz -qt-freetype
    -no-feature-sql -no-feature-network -no-feature-printsupport -no-feature-concurrent
    -no-feature-xml -no-feature-vulkan -no-feature-tabletevent -no-feature-direct2d
)
# Written beside the source for the LGPL offer: how these DLLs were configured.
printf '%s\n' "configure ${qt_configure[*]/#$prefix/PREFIX}" \
    "  -- -G Ninja -DCMAKE_TOOLCHAIN_FILE=mingw-w64.cmake -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake" \
    >"$source_dir/qtbase-configure-line.txt"

stamp "configuring qtbase"
rm -rf qtbase-build && mkdir qtbase-build
(cd qtbase-build && ../qtbase/configure "${qt_configure[@]}" -- -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake) >qtbase-configure.log 2>&1 || {
    tail -40 qtbase-configure.log >&2
    exit 1
}
stamp "building qtbase (ninja -j$jobs)"
ninja -C qtbase-build -j"$jobs"
stamp "installing qtbase"
cmake --install qtbase-build >/dev/null

# ---- hidapi (its Windows backend; hid.dll and cfgmgr32.dll are loaded at run time)
stamp "building hidapi"
rm -rf hidapi hidapi-build
dpkg-source --no-check -x "$source_dir"/hidapi_*.dsc hidapi >/dev/null
check_debian_patches hidapi
cmake -S hidapi -B hidapi-build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
    -DHIDAPI_BUILD_HIDTEST=OFF >/dev/null
ninja -C hidapi-build -j"$jobs"
cmake --install hidapi-build >/dev/null

# ---- GoogleTest (static; only the test programs link it)
stamp "building GoogleTest"
rm -rf googletest-build
cmake -S /usr/src/googletest -B googletest-build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF >/dev/null
ninja -C googletest-build -j"$jobs"
cmake --install googletest-build >/dev/null

stamp "dependencies installed in $prefix"
