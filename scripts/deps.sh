#!/usr/bin/env bash
# Installs the Debian 12 packages Glidescape needs, only those missing.
#   scripts/deps.sh build     compiler, CMake, Ninja, libpng, GoogleTest, Google Benchmark
#   scripts/deps.sh windows   + MinGW-w64, Wine, Xvfb, xdotool, ImageMagick (Windows saver and its tests)
# Runs apt-get as root, or through sudo.
set -euo pipefail

build_pkgs=(g++ cmake ninja-build pkg-config libpng-dev libgtest-dev libgmock-dev googletest libbenchmark-dev)
windows_pkgs=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 xvfb xdotool x11-apps x11-utils imagemagick)

want=("${build_pkgs[@]}")
for group in "$@"; do
    case "$group" in
        build) ;;
        windows) want+=("${windows_pkgs[@]}") ;;
        *) echo "deps.sh: unknown group '$group' (build, windows)" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${want[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    sudo_cmd=()
elif command -v sudo >/dev/null; then
    sudo_cmd=(sudo)
else
    echo "deps.sh: need root or sudo to install: ${missing[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
