#!/usr/bin/env bash
# mate-suite.sh - the MATE screen saver runs the installed Linux saver: it
# finds `glidescape.desktop` among its savers, starts the program on its own
# window (XSCREENSAVER_WINDOW, no arguments), pauses it with SIGSTOP and
# SIGCONT, and ends it on --deactivate.
#
#   mate-suite.sh BUILD_DIR ARTIFACT_DIR
#
# Installs the build (cmake --install) into a scratch prefix. MATE runs only
# programs in XScreenSaver's folders, so the scratch prefix's
# libexec/xscreensaver is bind-mounted over /usr/libexec/xscreensaver in a
# mount namespace of its own (needs root, as in CI; elsewhere the suite is
# skipped). Runs Xvfb, a private session bus and mate-screensaver, all
# stopped when it ends. Needs mate-screensaver, xscreensaver (the folder),
# dbus, gsettings, Xvfb, xwd, ImageMagick, procps and util-linux
# (scripts/deps.sh desktops).
set -u

phase=outer
if [ "${1:-}" == --namespace ] || [ "${1:-}" == --session ]; then
    phase=${1#--}
    shift
fi
if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR ARTIFACT_DIR" >&2
    exit 2
fi

# --- Outside: install, then the rest in a mount namespace -----------------------------------
if [ "$phase" == outer ]; then
    build=$(readlink -f "$1")
    artifacts=$(mkdir -p "$2" && readlink -f "$2")
    rm -f "$artifacts"/*.png "$artifacts"/*.log
    if [ "$(id -u)" -ne 0 ]; then
        echo "mate-suite: skipped: a private mount over /usr/libexec/xscreensaver needs root"
        echo "0 passed, 0 failed, 1 skipped"
        exit 0
    fi
    for tool in mate-screensaver mate-screensaver-command gsettings dbus-run-session Xvfb xwd \
        convert ipcs pgrep unshare mount; do
        if ! command -v "$tool" >/dev/null; then
            echo "mate-suite: missing $tool (run scripts/deps.sh desktops)" >&2
            exit 1
        fi
    done
    if [ ! -d /usr/libexec/xscreensaver ]; then
        echo "mate-suite: /usr/libexec/xscreensaver is missing (run scripts/deps.sh desktops)" >&2
        exit 1
    fi
    work=$(mktemp -d /tmp/glidescape-mate.XXXXXX)
    trap 'rm -rf "$work"' EXIT
    cmake --install "$build" --prefix "$work/usr" >"$work/install.log" 2>&1 ||
        { cat "$work/install.log"; exit 1; }
    unshare --mount --propagation private bash "$0" --namespace "$work" "$artifacts" 2>&1 |
        tee "$artifacts/suite.log"
    exit "${PIPESTATUS[0]}"
fi

work=$1
artifacts=$2

# --- In the namespace: the saver's folder, then a session bus ---------------------------------
if [ "$phase" == namespace ]; then
    mount --bind "$work/usr/libexec/xscreensaver" /usr/libexec/xscreensaver || exit 1
    exec dbus-run-session -- bash "$0" --session "$work" "$artifacts"
fi

# --- On the session bus: the tests -----------------------------------------------------------
start_seconds=$SECONDS
. "$(dirname "$0")/../saver-common.sh"

servers=()
cleanup() {
    set +e
    [ -n "${DISPLAY:-}" ] && mate-screensaver-command --exit >/dev/null 2>&1
    for pid in "${servers[@]}"; do
        kill "$pid" >/dev/null 2>&1
        wait "$pid" 2>/dev/null
    done
}
trap cleanup EXIT

desktop="$work/usr/share/applications/screensavers/glidescape.desktop"
[ -f "$desktop" ] && ok "installed $(basename "$desktop")" || bad "installed glidescape.desktop"
[ -x /usr/libexec/xscreensaver/glidescape ] && ok "the program is in /usr/libexec/xscreensaver" ||
    bad "the program is in /usr/libexec/xscreensaver"
grep -qx 'Exec=glidescape' "$desktop" && grep -qx 'TryExec=/usr/libexec/xscreensaver/glidescape' "$desktop" &&
    grep -qx 'Categories=Screensaver;' "$desktop" && ok "Exec, TryExec and Categories as MATE wants them" ||
    bad "Exec, TryExec and Categories as MATE wants them" "$(cat "$desktop")"

: >"$work/display"
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
servers+=($!)
for _ in $(seq 1 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
export DISPLAY=":$(head -n1 "$work/display")"
note "Xvfb 640x480 on $DISPLAY"

# MATE's settings in a key file of this test; the saver's own settings file
# (a small land, so landscapes come quickly) in the home MATE passes on.
export GSETTINGS_BACKEND=keyfile XDG_CONFIG_HOME="$work/config" HOME="$work/home"
export XDG_DATA_DIRS="$work/usr/share:/usr/share"
mkdir -p "$XDG_CONFIG_HOME" "$HOME/.config/glidescape"
printf '[Glidescape]\nLand Size=8\n' >"$HOME/.config/glidescape/Glidescp.ini"
gsettings set org.mate.screensaver mode single
gsettings set org.mate.screensaver themes "['screensavers-glidescape']"
gsettings set org.mate.screensaver lock-enabled false
gsettings set org.mate.screensaver idle-activation-enabled false

mate-screensaver --no-daemon >"$work/mate.log" 2>&1 &
mate=$!
servers+=("$mate")
for _ in $(seq 1 100); do
    mate-screensaver-command --query >/dev/null 2>&1 && break
    sleep 0.1
done
mate-screensaver-command --query >/dev/null 2>&1 && ok "mate-screensaver answers on the session bus" ||
    bad "mate-screensaver answers on the session bus" "$(cat "$work/mate.log")"

shot() {
    xwd -root -silent | convert xwd:- "$artifacts/$1.png"
    echo "$artifacts/$1.png"
}

mate-screensaver-command --activate >/dev/null 2>&1
pid=""
for _ in $(seq 1 100); do
    pid=$(pgrep -P "$mate" -x glidescape | head -n1)
    [ -n "$pid" ] && break
    sleep 0.1
done
if [ -z "$pid" ]; then
    bad "--activate starts glidescape" "$(cat "$work/mate.log")"
    report_summary
    exit
fi
ok "--activate starts glidescape ($(tr '\0' ' ' </proc/"$pid"/cmdline))"
[ "$(tr '\0' '\n' </proc/"$pid"/cmdline | wc -l)" -eq 1 ] && ok "... without arguments" ||
    bad "... without arguments" "$(tr '\0' ' ' </proc/"$pid"/cmdline)"
tr '\0' '\n' </proc/"$pid"/environ | grep -q '^XSCREENSAVER_WINDOW=0x' &&
    ok "... on MATE's window (XSCREENSAVER_WINDOW)" || bad "... on MATE's window (XSCREENSAVER_WINDOW)"

landscape=""
start=$SECONDS
while [ $((SECONDS - start)) -lt 60 ]; do
    landscape=$(shot mate-landscape)
    is_landscape "$landscape" && break
    sleep 0.5
done
is_landscape "$landscape" && ok "the screen shows a landscape ($(colours "$landscape") colours)" ||
    bad "the screen shows a landscape" "$(colours "$landscape") colours"

# Paused: the picture stands still; continued: it flies on.
kill -STOP "$pid"
sleep 0.5
first=$(shot mate-stopped-a)
sleep 1
second=$(shot mate-stopped-b)
expect "stopped: the picture stands still" "$(differing_pixels "$first" "$second")" 0
kill -CONT "$pid"
sleep 1
first=$(shot mate-continued-a)
sleep 1
second=$(shot mate-continued-b)
if alive "$pid" && is_landscape "$second" && [ "$(differing_pixels "$first" "$second")" != 0 ]; then
    ok "continued: it flies on"
else
    bad "continued: it flies on"
fi

mate-screensaver-command --deactivate >/dev/null 2>&1
gone=0
for _ in $(seq 1 100); do
    if ! alive "$pid"; then
        gone=1
        break
    fi
    sleep 0.1
done
[ "$gone" -eq 1 ] && ok "--deactivate ends glidescape" || bad "--deactivate ends glidescape"
sleep 0.5
[ -z "$(pgrep -x glidescape -P "$mate")" ] && ok "no glidescape process left" || bad "no glidescape process left"
! ipcs -m -p | awk -v pid="$pid" '$3 == pid { found = 1 } END { exit !found }' &&
    ok "no shared memory left" || bad "no shared memory left" "$(ipcs -m -p)"
shot mate-after >/dev/null
cp "$work/mate.log" "$artifacts/" 2>/dev/null

report_summary
