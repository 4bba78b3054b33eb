# Sourced by the Windows scripts: a wine prefix of the build's own, quiet, reporting Windows 10,
# with the offscreen Qt platform (wine passes QT_* variables on only with a WINE prefix).
#   wine_env OUT QT_PREFIX
wine_env() {
    local out=$1 qt_prefix=$2
    export WINEPREFIX="$out/wine" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEQT_QPA_PLATFORM=offscreen
    export WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\dejavu'
    local gcc_dir
    gcc_dir=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix | head -1)
    export WINEPATH="Z:${qt_prefix//\//\\}\\bin;Z:${gcc_dir//\//\\};Z:\\usr\\x86_64-w64-mingw32\\lib"
    # No display: nothing may wait for a window of wine's own.
    unset DISPLAY WAYLAND_DISPLAY
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "[$(date -u +%H:%M:%S)] making the wine prefix $WINEPREFIX"
        timeout 300 wineboot -i >/dev/null 2>&1 || true
        timeout 60 wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1 || true
        timeout 60 wineserver -w || true
    fi
}

wine_stop() {
    wineserver -k 2>/dev/null || true
}
