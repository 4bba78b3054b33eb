#!/usr/bin/env bash
# What a Windows user downloads, from the Windows build: the installer
# efis-config-setup-VERSION.exe and efis-config-VERSION-windows-x64.zip (the same files), with the
# Qt libraries as DLLs, the MinGW runtime, every licence and notice, and beside them the exact Qt
# source that the DLLs were built from (the LGPL's offer).
#   package.sh CACHE_ENTRY OUT
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
entry=$1
out=$(cd "$2" && pwd)
prefix="$entry/prefix"
build="$out/build"
runtime_dirs=(/usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)

version=$(sed -n 's/^project(efis_config VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
name="efis-config-$version"
packages="$out/packages"
stage="$out/stage/$name"
rm -rf "$out/stage" "$packages"
mkdir -p "$stage/licenses" "$packages"
echo "[$(date -u +%H:%M:%S)] staging $name"

# The programs: the tool, its demo over the simulated unit, the command line and its demo.
for exe in efis-config efis-config-demo efis-cli efis-cli-demo; do
    cp "$build/$exe.exe" "$stage/"
done
cp "$build/demo-firmware.bin" "$stage/"
# Qt, as shared libraries a user may replace, with the plugins the window needs.
cp "$prefix"/bin/Qt6Core.dll "$prefix"/bin/Qt6Gui.dll "$prefix"/bin/Qt6Widgets.dll "$stage/"
cp "$prefix/bin/libhidapi.dll" "$stage/" 2>/dev/null || cp "$prefix"/bin/*hidapi*.dll "$stage/"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/imageformats"
cp "$prefix/plugins/platforms/qwindows.dll" "$prefix/plugins/platforms/qoffscreen.dll" "$stage/platforms/"
cp "$prefix"/plugins/styles/*.dll "$stage/styles/"
cp "$prefix"/plugins/imageformats/*.dll "$stage/imageformats/"
# The MinGW runtime.
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    found=$(find "${runtime_dirs[@]}" -maxdepth 1 -name "$dll" | head -1)
    [ -n "$found" ] || { echo "the MinGW runtime lacks $dll" >&2; exit 1; }
    cp "$found" "$stage/"
done
find "$stage" -name '*.exe' -o -name '*.dll' | xargs x86_64-w64-mingw32-strip --strip-unneeded

# Every DLL a program or plugin imports is shipped or is part of Windows.
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|imm32|winmm|ws2_32|uxtheme|dwmapi|shlwapi|version|netapi32|userenv|mpr|setupapi|cfgmgr32|hid|winspool\.drv|dwrite|d2d1|shcore|d3d9|d3d11|d3d12|dxgi|dcomp|authz|wtsapi32|rpcrt4|msvcrt|crypt32|bcrypt|ntdll|api-ms-win-.*)\.dll$'
missing=0
while read -r binary; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p'); do
        lower=$(echo "$dll" | tr 'A-Z' 'a-z')
        if ! echo "$lower" | grep -qE "$system_dlls" && [ ! -f "$stage/$dll" ]; then
            echo "$(basename "$binary") imports $dll, which is not shipped" >&2
            missing=1
        fi
    done
done < <(find "$stage" -name '*.exe' -o -name '*.dll')
[ "$missing" = 0 ] || exit 1

# Licences and notices.
lic="$stage/licenses"
cp "$repo/LICENSE" "$lic/LICENSE.txt"
qt_orig=$(ls "$entry"/source/qt6-base_*.orig.tar.xz)
# tar ends on a broken pipe once head has its line: that is no failure.
qt_top=$( (tar -tJf "$qt_orig" || true) | head -1 | cut -d/ -f1)
notices_src="$out/stage/qt-notices"
mkdir -p "$notices_src"
tar -xJf "$qt_orig" -C "$notices_src" --wildcards "$qt_top/LICENSES/*" '*qt_attribution.json' \
    '*/3rdparty/*LICENSE*' '*/3rdparty/*COPYING*' '*/3rdparty/*LICENCE*' '*/3rdparty/*/README*' 2>/dev/null || true
cp "$notices_src/$qt_top/LICENSES/LGPL-3.0-only.txt" "$lic/Qt-LGPL-3.0.txt"
cp "$notices_src/$qt_top/LICENSES/GPL-3.0-only.txt" "$lic/Qt-GPL-3.0.txt"
cp "$notices_src/$qt_top/LICENSES/GPL-2.0-only.txt" "$lic/Qt-GPL-2.0.txt"
python3 "$here/qt_notices.py" "$notices_src/$qt_top" >"$lic/Qt-third-party-notices.txt"
hidapi_orig=$(ls "$entry"/source/hidapi_*.orig.tar.*)
tar -xf "$hidapi_orig" -C "$out/stage" --wildcards '*/LICENSE-bsd.txt'
cp "$out"/stage/*/LICENSE-bsd.txt "$lic/hidapi-BSD-3-Clause.txt"
cp /usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright "$lic/GCC-runtime-libraries-and-exception.txt"
cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$lic/MinGW-w64-and-winpthreads.txt"
cat >"$stage/README-Windows.txt" <<EOF
EFIS Config $version for Windows (64-bit)

efis-config.exe         the configuration tool; plug the unit in by USB first (no driver needed)
efis-config-demo.exe    the same window over a simulated unit, to try every flow without hardware
efis-cli.exe            the command line program (efis-cli.exe --help)
efis-cli-demo.exe       the command line over the simulated unit
demo-firmware.bin       a small image to try the demo's firmware update with

CAN FD is not available on Windows: the tool works over USB HID.

This program uses the Qt libraries (Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll and the plugins)
under the GNU Lesser General Public License version 3 (licenses\\Qt-LGPL-3.0.txt); you may
replace them with your own build of the same Qt version. The exact Qt source these DLLs were
built from (Debian's qt6-base $(basename "$qt_orig" .orig.tar.xz | sed 's/^qt6-base_//') with its
patches, the one patch of ours and the configure line) is published beside this package as
$name-qt-source.tar; for three years from this release the maintainers also send it on request.
The notices of the code inside the Qt DLLs, of hidapi (BSD-3-Clause) and of the MinGW runtime
(GCC Runtime Library Exception, winpthreads) are in licenses\\.
EOF
# Text files as Windows' own editors expect them.
find "$stage" -name '*.txt' -exec sed -i 's/\r\?$/\r/' {} +

# The Qt source offered under the LGPL: Debian's source package as built, and our patch.
tar -cf "$packages/$name-qt-source.tar" -C "$entry/source" \
    $(cd "$entry/source" && ls qt6-base_* qtbase-directwrite3-needs-direct2d.patch qtbase-configure-line.txt)

# The zip and the installer, from the same folder. Times are the last commit's, so that the same
# sources give the same zip.
epoch=$(git -C "$repo" log -1 --format=%ct 2>/dev/null || date +%s)
find "$out/stage/$name" -exec touch -h -d "@$epoch" {} +
(cd "$out/stage" && find "$name" -print | LC_ALL=C sort | zip -q -X -9 "$packages/$name-windows-x64.zip" -@)

file_list="$out/stage/uninstall-files.nsh"
(
    cd "$stage"
    find . -type f | LC_ALL=C sort | sed 's|^\./||; s|/|\\|g; s|^|Delete "$INSTDIR\\|; s|$|"|'
    find . -mindepth 1 -type d | LC_ALL=C sort -r | sed 's|^\./||; s|/|\\|g; s|^|RMDir "$INSTDIR\\|; s|$|"|'
) >"$file_list"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DFILE_LIST="$file_list" \
    -DOUTFILE="$packages/efis-config-setup-$version.exe" "$here/installer.nsi"
echo "[$(date -u +%H:%M:%S)] packages:"
for file in "$packages"/*; do
    echo "  $(basename "$file") $(stat -c %s "$file") bytes"
done
