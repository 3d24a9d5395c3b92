#!/usr/bin/env bash
# Installs the Debian 12 packages Glidescape needs, only those missing.
#   scripts/deps.sh build     compiler, CMake, Ninja, libpng, libinih, Xlib (Present, RandR), Wayland (client library,
#                             scanner, protocols, xkbcommon), FreeType, fontconfig, GoogleTest,
#                             Google Benchmark, FFmpeg (videos and their tests), Pillow (the README
#                             animation's test), FFTW (only as the benchmarks' comparator for the
#                             land's transform; never linked into a program), time (the peak-memory
#                             and page-fault figures of bench/README.md)
#   scripts/deps.sh windows   + MinGW-w64, Wine and its fonts, Xvfb, Xephyr, xdotool, ImageMagick (Windows saver and its tests)
#   scripts/deps.sh x11       + Xvfb, xdotool, xset, XScreenSaver, ImageMagick (Linux saver tests)
#   scripts/deps.sh desktops  + sway, grim, wtype, swayidle, weston, the MATE screen saver, a
#                             session bus (Linux saver tests on Wayland and under MATE)
#   scripts/deps.sh web       + Emscripten, Chromium, ChromeDriver, Selenium (web page and its tests)
#   scripts/deps.sh release   + NSIS, lintian, dpkg-dev, zip (packages and installers)
#   scripts/deps.sh fuzz      + clang with libFuzzer
#   scripts/deps.sh all       every group
#   scripts/deps.sh --list GROUP...   prints the packages of the groups, one a line, installs nothing
# Runs apt-get as root, or through sudo. Packages are installed without their
# recommendations, so every package whose commands a script or test calls is
# named here itself (tests/deps/check-commands.py checks that).
set -euo pipefail

build_pkgs=(g++ cmake ninja-build pkg-config python3 libpng-dev libinih-dev libx11-dev libxext-dev
            libxpresent-dev libxrandr-dev libxss-dev
            libwayland-dev libwayland-bin wayland-protocols libxkbcommon-dev libfreetype-dev
            libfontconfig-dev fonts-dejavu-core
            libgtest-dev libgmock-dev googletest libbenchmark-dev ffmpeg python3-pil
            libfftw3-dev time)
# wine64 only recommends wine, which holds the wine, wineboot and wineserver commands.
# fonts-wine: Wine's own Tahoma, MS Sans Serif and Marlett, which the Wine
# tests put into their prefixes, so the dialog is drawn in the fonts it has on
# Windows (without them Wine falls back to a wider font).
windows_pkgs=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine fonts-wine xvfb xserver-xephyr
              xdotool x11-apps x11-utils imagemagick procps util-linux)
x11_pkgs=(xvfb xdotool x11-apps x11-utils x11-xserver-utils imagemagick xscreensaver procps util-linux
          passwd)
# xscreensaver gives the folder where the MATE screen saver runs its programs.
desktops_pkgs=(sway grim wtype swayidle weston xvfb xdotool x11-apps imagemagick procps util-linux
               passwd mate-screensaver xscreensaver dbus-daemon libglib2.0-bin)
web_pkgs=(emscripten nodejs chromium chromium-driver python3-selenium)
release_pkgs=(nsis lintian dpkg-dev fakeroot file zip unzip)
fuzz_pkgs=(clang libclang-rt-14-dev)

list_only=0
if [ "${1:-}" = "--list" ]; then
    list_only=1
    shift
fi

want=("${build_pkgs[@]}")
for group in "$@"; do
    case "$group" in
        build) ;;
        windows) want+=("${windows_pkgs[@]}") ;;
        x11) want+=("${x11_pkgs[@]}") ;;
        desktops) want+=("${desktops_pkgs[@]}") ;;
        web) want+=("${web_pkgs[@]}") ;;
        release) want+=("${release_pkgs[@]}") ;;
        fuzz) want+=("${fuzz_pkgs[@]}") ;;
        all) want+=("${windows_pkgs[@]}" "${x11_pkgs[@]}" "${desktops_pkgs[@]}" "${web_pkgs[@]}"
                    "${release_pkgs[@]}" "${fuzz_pkgs[@]}") ;;
        *) echo "deps.sh: unknown group '$group' (build, windows, x11, desktops, web, release, fuzz, all)" >&2; exit 2 ;;
    esac
done

if [ "$list_only" -eq 1 ]; then
    printf '%s\n' "${want[@]}" | sort -u
    exit 0
fi

missing=()
for p in $(printf '%s\n' "${want[@]}" | sort -u); do
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
# Unpacking without an fsync per file: a crash midway leaves the packages to
# be installed again, which this script does anyway.
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    -o Dpkg::Options::=--force-unsafe-io "${missing[@]}"
