#!/usr/bin/env bash
# Builds the release artefacts into build/packages/:
#   glidescape_<version>_amd64.deb         Debian package (cpack, release preset)
#   Glidescape-<version>-windows.zip       x64/ and x86/ Glidescape.scr, README.txt, LICENSE.txt
#   Glidescape-<version>-setup.exe         the Windows installer (NSIS, a 32-bit program)
#   test/Glidescape-<version>-setup-amd64.exe
#                                          the same installer as a 64-bit program, for the
#                                          Wine tests (Debian's Wine runs 64-bit programs only)
#
#   scripts/package.sh [deb|windows]...    (default: both)
# Installs what is missing (scripts/deps.sh) first.
set -euo pipefail
cd "$(dirname "$0")/.."

what=("$@")
[ ${#what[@]} -eq 0 ] && what=(deb windows)
out=build/packages
mkdir -p "$out"
jobs=$(nproc)
version=$(sed -n 's/^project(Glidescape VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

deb() {
    scripts/deps.sh build release
    cmake --preset release >/dev/null
    cmake --build --preset release -j "$jobs"
    (cd build/release && cpack -G DEB >/dev/null)
    cp "build/release/glidescape_${version}_amd64.deb" "$out/"
    echo "$out/glidescape_${version}_amd64.deb"
}

windows() {
    scripts/deps.sh build windows release
    for preset in mingw64 mingw32; do
        cmake --preset "$preset" >/dev/null
        cmake --build --preset "$preset" -j "$jobs" --target Glidescape
    done
    local stage
    stage=$(mktemp -d)
    trap 'rm -rf "$stage"' RETURN
    local dir="$stage"
    mkdir -p "$dir/x64" "$dir/x86"
    cp build/mingw64/Glidescape.scr "$dir/x64/"
    cp build/mingw32/Glidescape.scr "$dir/x86/"
    sed "s/@VERSION@/$version/g" packaging/windows/README.txt | sed 's/$/\r/' >"$dir/README.txt"
    sed 's/$/\r/' LICENSE >"$dir/LICENSE.txt"
    local zip="$out/Glidescape-$version-windows.zip"
    rm -f "$zip"
    (cd "$stage" && TZ=UTC zip -qrX "$OLDPWD/$zip" x64 x86 README.txt LICENSE.txt)
    echo "$zip"

    local nsis=(makensis -V2 -DVERSION="$version" -DSAVER64="$dir/x64/Glidescape.scr"
                -DSAVER32="$dir/x86/Glidescape.scr" -DICON="$PWD/win32/resources/Glidescape.ico"
                -DLICENSE="$dir/LICENSE.txt")
    "${nsis[@]}" -DOUTFILE="$PWD/$out/Glidescape-$version-setup.exe" packaging/windows/Glidescape.nsi
    echo "$out/Glidescape-$version-setup.exe"
    mkdir -p "$out/test"
    "${nsis[@]}" -DTARGET_AMD64 -DOUTFILE="$PWD/$out/test/Glidescape-$version-setup-amd64.exe" \
        packaging/windows/Glidescape.nsi
}

for w in "${what[@]}"; do
    case "$w" in
        deb) deb ;;
        windows) windows ;;
        *) echo "usage: scripts/package.sh [deb|windows]..." >&2; exit 2 ;;
    esac
done
