#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine for the tool and then does one job:
#   tools/quickstart.sh demo   build and start the demo (the window over a simulated unit)
#   tools/quickstart.sh run    build and start efis-config with a real unit
#   tools/quickstart.sh test   build everything and run every test suite
# Missing packages are installed with apt-get (through sudo when not root).
set -euo pipefail

usage="usage: $0 demo|run|test
  demo   build and start the demo (the window over a simulated unit)
  run    build and start efis-config with a real unit
  test   build everything and run every test suite"
job="${1:-}"
if [ "$job" = "--help" ] || [ "$job" = "-h" ]; then
    echo "$usage"
    exit 0
fi
if [ $# -gt 1 ]; then
    echo "$0: one job only, not \"$*\"" >&2
    echo "$usage" >&2
    exit 2
fi
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${EFIS_BUILD_DIR:-$top/build}"

# fonts-dejavu-core: Debian's default fonts, the ones the window's form is laid out for and
# the window tests measure its texts with.
packages=(g++ cmake make pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev libhidapi-dev
          libgtest-dev clang-format fonts-dejavu-core)

# shellcheck source=tools/install_missing.sh
. "$top/tools/install_missing.sh"

configure_and_build() {
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)" "$@"
}

case "$job" in
demo)
    install_missing "${packages[@]}"
    configure_and_build --target efis-config-demo
    exec "$build/efis-config-demo"
    ;;
run)
    install_missing "${packages[@]}"
    configure_and_build --target efis-config
    exec "$build/efis-config"
    ;;
test)
    install_missing "${packages[@]}"
    configure_and_build
    cd "$build"
    exec ctest --output-on-failure -j"$(nproc)"
    ;;
*)
    [ -n "$job" ] && echo "$0: unknown job \"$job\"" >&2
    echo "$usage" >&2
    exit 2
    ;;
esac
