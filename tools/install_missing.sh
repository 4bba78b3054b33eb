# shellcheck shell=bash
# install_missing [--no-recommends] PACKAGE...: installs with apt-get those of the Debian
# packages that are not installed yet (through sudo when not root). Sourced by the scripts that
# set up a machine.
install_missing() {
    local options=() missing=() p
    if [ "${1:-}" = "--no-recommends" ]; then
        options+=(--no-install-recommends)
        shift
    fi
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${options[@]}" "${missing[@]}" \
        >/dev/null
}
