#!/usr/bin/env bash
# The Windows build from one command, on Debian 12 (as root, for apt-get):
#   tools/windows/build.sh              # everything: toolchain, project, wine tests, packages, installer check
#   tools/windows/build.sh --deps-only  # only make sure the cross-built Qt, hidapi and GoogleTest are cached
#   tools/windows/build.sh --no-tests   # build and package without running anything under wine
#   tools/windows/build.sh --cached     # install what is missing, then say whether the dependencies
#                                       # are cached (status 0) or not yet (status 1); builds nothing
#
# The cross-built dependencies live outside the repository in a cache keyed by every input (the
# Debian source packages' versions and hashes, the patches, the recipe with its flags, the
# compilers' and the host Qt's versions): EFIS_WINDOWS_CACHE, by default /var/cache/efis-windows.
# The first build on a machine takes 30 to 60 minutes on two cores; later builds find the entry.
# Output: build-windows/ (the project's build, then packages/ with the installer, the zip and the
# Qt source offered under the LGPL).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
cache_root=${EFIS_WINDOWS_CACHE:-/var/cache/efis-windows}
out=${EFIS_WINDOWS_OUT:-$repo/build-windows}

deps_only=0
run_tests=1
only_ask=0
for arg in "$@"; do
    case $arg in
    --deps-only) deps_only=1 ;;
    --no-tests) run_tests=0 ;;
    --cached) only_ask=1 ;;
    *)
        echo "usage: $0 [--deps-only] [--no-tests] [--cached]" >&2
        exit 2
        ;;
    esac
done

stamp() { echo "[$(date -u +%H:%M:%S)] $*"; }

# ---- what a fresh Debian 12 lacks
packages=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    binutils-mingw-w64-x86-64 wine wine64 fonts-wine fonts-dejavu-core nsis ninja-build cmake
    pkg-config dpkg-dev xz-utils zip unzip python3 qt6-base-dev qt6-base-dev-tools googletest
    libhidapi-dev
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    stamp "installing ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# ---- Debian's sources, through a deb-src list of our own (the system's apt configuration stays as it is)
apt_dir="$cache_root/apt"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
    grep -l 'debian' /etc/apt/sources.list.d/*.sources | xargs cat |
        sed 's/^Types: deb$/Types: deb-src/' >"$apt_dir/sources.list.d/efis-src.sources"
fi
if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' /etc/apt/sources.list >"$apt_dir/sources.list.d/efis-src.list"
fi
apt_private=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o APT::Sandbox::User=root)

version_of() { dpkg-query -W -f='${Version}' "$1"; }
# The cross Qt must be the host Qt's version exactly: the host's tools (moc, uic, rcc) build it.
qt_version=$(version_of qt6-base-dev)
hidapi_version=$(version_of libhidapi-dev)
sources=("qt6-base=$qt_version" "hidapi=$hidapi_version")

source_uris() { apt-get "${apt_private[@]}" --print-uris -qq source "${sources[@]}" 2>/dev/null; }
if ! uris=$(source_uris) || [ -z "$uris" ]; then
    stamp "reading Debian's source lists"
    apt-get "${apt_private[@]}" -qq update
    uris=$(source_uris) || {
        echo "Debian's archive offers no source for ${sources[*]}" >&2
        exit 1
    }
fi

# ---- the cache key: every input of the dependencies' build
key_inputs() {
    echo "recipe $(sha256sum <"$here/deps.sh")"
    echo "toolchain $(sha256sum <"$here/mingw-w64.cmake")"
    echo "qt-patch $(sha256sum <"$here/qtbase-directwrite3-needs-direct2d.patch")"
    echo "$uris" | awk '{print "source", $2, $3, $4}' | sort
    for p in qt6-base-dev qt6-base-dev-tools g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
        mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 googletest cmake; do
        echo "package $p $(version_of "$p")"
    done
    echo "compiler $(x86_64-w64-mingw32-g++-posix --version | head -1)"
}
key=$(key_inputs | sha256sum | cut -c1-16)
entry="$cache_root/deps-$key"
export EFIS_WINDOWS_PREFIX="$entry/prefix"
if [ "$only_ask" = 1 ]; then
    [ -f "$entry/complete" ] && exit 0
    exit 1
fi

if [ ! -f "$entry/complete" ]; then
    # One build per machine at a time; whoever waits finds the entry afterwards.
    exec 9>"$cache_root/build.lock"
    stamp "waiting for the dependency cache lock"
    flock 9
fi
if [ ! -f "$entry/complete" ]; then
    log="$cache_root/deps-$key.log"
    stamp "building the Windows dependencies into $entry (log: $log)"
    tmp="$entry.partial"
    rm -rf "$tmp" "$entry"
    mkdir -p "$tmp/source"
    key_inputs >"$tmp/key-inputs.txt"
    (cd "$tmp/source" && apt-get "${apt_private[@]}" -qq source --download-only "${sources[@]}") >"$log" 2>&1
    cp "$here/qtbase-directwrite3-needs-direct2d.patch" "$tmp/source/"
    start=$(date +%s)
    # The recipe's flags are all in the recipe: none from the environment (CI sets -Werror).
    if ! env -u CFLAGS -u CXXFLAGS -u CPPFLAGS -u LDFLAGS EFIS_WINDOWS_PREFIX= \
        nice -n 5 "$here/deps.sh" "$tmp/source" "$tmp/work" "$entry/prefix" >>"$log" 2>&1; then
        tail -30 "$log" >&2
        echo "the dependency build failed; its log: $log" >&2
        exit 1
    fi
    rm -rf "$tmp/work"
    echo "$(($(date +%s) - start)) s" >"$tmp/build-time.txt"
    # The prefix was installed under its final path; move the rest beside it.
    mv "$tmp/source" "$tmp/key-inputs.txt" "$tmp/build-time.txt" "$entry/"
    rm -rf "$tmp"
    touch "$entry/complete"
    stamp "dependencies built in $(cat "$entry/build-time.txt")"
else
    stamp "dependencies cached in $entry"
fi
exec 9>&-

[ "$deps_only" = 1 ] && exit 0

"$here/build-project.sh" "$entry" "$out"
if [ "$run_tests" = 1 ]; then
    "$here/test.sh" "$out"
fi
"$here/package.sh" "$entry" "$out"
if [ "$run_tests" = 1 ]; then
    "$here/installer-check.sh" "$out"
fi
