#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Glidescape and runs the saver.
#
#   scripts/run.sh                 with a display ($WAYLAND_DISPLAY or $DISPLAY set): the Linux
#                                  saver glidescape in a window (a key, a click or moving the
#                                  mouse ends it); without a display: says so, and the headless
#                                  renderer flies over a new landscape and writes pictures into
#                                  build/run/
#   scripts/run.sh x11 [opts]      the Linux saver on X11, with glidescape options (-fullscreen, ...)
#   scripts/run.sh wayland [opts]  the Linux saver on Wayland (-fullscreen, -overlay, -background, ...)
#   scripts/run.sh windows         the Windows saver full screen under Wine
#   scripts/run.sh config          the Windows saver's configuration dialog (under Wine)
#   scripts/run.sh render [opts]   the headless renderer, with glidescape-render options
#   scripts/run.sh web [port]      the browser page: builds it, serves it on 127.0.0.1 and
#                                  prints the address to open
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
[ -n "$mode" ] && shift
if [ -z "$mode" ]; then
    if [ -n "${WAYLAND_DISPLAY:-}" ]; then
        mode=wayland
    elif [ -n "${DISPLAY:-}" ]; then
        mode=x11
    else
        echo "run.sh: no display (neither WAYLAND_DISPLAY nor DISPLAY is set): running the headless renderer instead" >&2
        mode=render
    fi
fi

render() {
    scripts/deps.sh build
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc)" --target glidescape-render
    local out=build/run
    mkdir -p "$out"
    build/default/render/glidescape-render \
        --land-size 10 --ticks 200 \
        --frame-out "$out/glidescape.png" \
        --heights-out "$out/heights.png" \
        --colours-out "$out/colours.png" \
        "$@"
    echo "Frame after 199 frames of flight: $out/glidescape.png"
    echo "Height map (greyscale):           $out/heights.png"
    echo "Colour map:                       $out/colours.png"
}

# linux_saver -x11|-wayland VARIABLE WHAT [glidescape options]: the Linux
# saver on the window system whose display VARIABLE names.
linux_saver() {
    local system=$1 variable=$2 what=$3
    shift 3
    if [ -z "${!variable:-}" ]; then
        echo "run.sh: no $what ($variable is not set); try 'scripts/run.sh render'" >&2
        exit 1
    fi
    scripts/deps.sh build
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc)" --target glidescape
    exec build/default/x11/glidescape "$system" "$@"
}

wine_saver() {
    if [ -z "${DISPLAY:-}" ]; then
        echo "run.sh: no display (DISPLAY is not set); try 'scripts/run.sh render'" >&2
        exit 1
    fi
    scripts/deps.sh build windows
    cmake --preset mingw64 >/dev/null
    cmake --build --preset mingw64 -j "$(nproc)" --target Glidescape
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml="}
    exec wine build/mingw64/Glidescape.scr "$@"
}

web_page() {
    scripts/deps.sh build web
    cmake --preset web >/dev/null
    cmake --build --preset web -j "$(nproc)"
    # The first free port from 8000 on, unless one is given.
    local port=${1:-$(python3 -c '
import socket
for port in range(8000, 8100):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            continue
        print(port)
        break')}
    echo "Glidescape in the browser: http://127.0.0.1:$port/  (Ctrl+C stops the server)"
    exec python3 -m http.server "$port" --bind 127.0.0.1 --directory build/web/site
}

case "$mode" in
    x11) linux_saver -x11 DISPLAY display "$@" ;;
    wayland) linux_saver -wayland WAYLAND_DISPLAY "Wayland display" "$@" ;;
    windows) wine_saver /s ;;
    config) wine_saver /c ;;
    render) render "$@" ;;
    web) web_page "$@" ;;
    *)
        echo "usage: scripts/run.sh [x11|wayland [glidescape options] | windows | config |" \
             "render [glidescape-render options] | web [port]]" >&2
        exit 2
        ;;
esac
