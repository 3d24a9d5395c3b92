#!/usr/bin/env bash
# wine-monitors.sh - the full-screen saver on a desktop of two monitors under
# Wine: the window covers both, each monitor gets its own landscape (mode 0),
# only the primary one flies (mode 1), one landscape spans both (mode 2), a
# mouse drift over either monitor ends the saver, and the configuration
# dialog's "Monitors" list reads, writes and restores the setting.
#
#   wine-monitors.sh SAVER.scr HARNESS.exe ARTIFACT_DIR
#
# Two monitors side by side: Xvfb puts every screen of its own at 0,0, so a
# private Xvfb hosts Xephyr with two heads, 800x600 at 0,0 (the primary) and
# 640x480 at 800,0, joined by Xinerama; Wine's X11 driver, told not to use
# XRandR, reads those heads as monitors of a 1440x600 virtual screen. Makes
# its own displays and Wine prefix and removes them on exit. Screenshots are
# kept in ARTIFACT_DIR, with the time between frames and the time each
# flight took to draw (from Wine's GDI trace) in frame-times.txt. GLIDESCAPE_WINE_DPI gives the screen another
# DPI than 96 (Wine's LogPixels).
set -u
. "$(dirname "$0")/wine-prefix.sh"
. "$(dirname "$0")/wine-harness.sh"

if [ $# -ne 3 ]; then
    echo "usage: $0 SAVER HARNESS ARTIFACT_DIR" >&2
    exit 2
fi
saver_build=$1
harness_build=$2
artifacts=$3
require_tools wine-monitors wine wineboot wineserver Xvfb Xephyr xdotool xwd convert compare
# The screen's DPI (Wine's LogPixels): monitors, window and blits stay in pixels.
dpi=${GLIDESCAPE_WINE_DPI:-96}

start_seconds=$SECONDS
work=$(mktemp -d /tmp/glidescape-monitors.XXXXXX)
xvfb_pid=""
xephyr_pid=""
idle_pid=""
cleanup() {
    end_wine_test "$work" "$idle_pid" "$xephyr_pid" "$xvfb_pid"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$artifacts"
rm -f "$artifacts"/*.png "$artifacts"/*.txt
exec > >(tee "$artifacts/monitors.log") 2>&1

. "$(dirname "$0")/../report.sh"
note() { printf '[%4ds] %s\n' $((SECONDS - start_seconds)) "$*"; }

# --- Displays and prefix ----------------------------------------------------------------------
if ! start_private_xvfb "$work"; then
    echo "wine-monitors: Xvfb did not start" >&2
    exit 1
fi
: >"$work/xephyr-display"
Xephyr -displayfd 3 -screen 800x600+0+0 -screen 640x480+800+0 +xinerama -nolisten tcp \
    3>"$work/xephyr-display" >"$work/xephyr.log" 2>&1 &
xephyr_pid=$!
for _ in $(seq 1 100); do
    [ -s "$work/xephyr-display" ] && break
    sleep 0.1
done
if [ ! -s "$work/xephyr-display" ]; then
    echo "wine-monitors: Xephyr did not start" >&2
    cat "$work/xephyr.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$work/xephyr-display")"
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset WAYLAND_DISPLAY
note "two heads on $DISPLAY, prefix $WINEPREFIX"
# Should this script be killed outright (a test timeout), a watchdog still
# ends the servers and the prefix's processes and removes the folder.
suite_pid=$$
(
    trap '' INT TERM
    while kill -0 "$suite_pid" 2>/dev/null; do sleep 2; done
    wineserver -k >/dev/null 2>&1
    kill "$xephyr_pid" "$xvfb_pid" >/dev/null 2>&1
    rm -rf "$work"
) </dev/null >/dev/null 2>&1 &

if ! make_wine_prefix "$work/wineboot.log"; then
    echo "wine-monitors: wineboot failed" >&2
    cat "$work/wineboot.log" >&2
    exit 1
fi
# set_driver_keys: Xinerama's heads instead of RandR's one screen, the DPI;
# the driver reads them when the desktop process starts, and a new
# wineserver starts a new one.
set_driver_keys() {
    {
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /d N /f
        wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f
    } >>"$work/reg.log" 2>&1
    new_wineserver
}
set_driver_keys
note "prefix ready"

drive_c="$WINEPREFIX/drive_c"
mkdir -p "$drive_c/glide"
cp "$saver_build" "$drive_c/glide/Glidescape.scr"
cp "$harness_build" "$drive_c/glide/harness.exe"
saver='C:\glide\Glidescape.scr'
appdata=$(ls -d "$drive_c"/users/*/AppData/Roaming | grep -v /Public/ | head -n1)
user_ini="$appdata/Glidescape/Glidescp.ini"


write_ini() {  # KEY=VALUE...
    mkdir -p "$(dirname "$user_ini")"
    {
        printf '[Glidescape]\r\n'
        for pair in "$@"; do printf '%s\r\n' "$pair"; done
    } >"$user_ini"
}

# The heads. (Xephyr keeps no picture for the corner of the virtual screen
# that neither head shows: screenshots say nothing about it.)
primary_head=800x600+0+0
second_head=640x480+800+0

# blits NAME X,Y WxH: how many frames the saver has stretched onto the
# window's rectangle at X,Y of size WxH so far (from Wine's GDI trace).
blits() { grep -c "NtGdiStretchBlt src .* dst .* log=$2 $3 " "$work/$1.out"; }

# blit_counts NAME: the frames on the primary head, the second head and the
# whole window.
blit_counts() {
    echo "$(blits "$1" 0,0 800x600) $(blits "$1" 800,0 640x480) $(blits "$1" 0,0 1440x600)"
}

# enough COUNT: at least 10 frames.
enough() { [ "$1" -ge 10 ] && echo many || echo "$1"; }

# colours NAME GEOMETRY: the number of colours of a region of a screenshot.
colours() { convert "$artifacts/$1.png" -crop "$2" +repage -format '%k' info:; }

# shot_heads NAME MODE: a screenshot NAME and the colours of each head in
# colours_primary and colours_second.
shot_heads() {
    shot "$1"
    colours_primary=$(colours "$1" "$primary_head")
    colours_second=$(colours "$1" "$second_head")
    note "$2: colours primary $colours_primary, second $colours_second"
}

# expect_landscape WHAT HEADS: the last shot shows a landscape (500 colours
# and more) on the primary head, or on both heads.
expect_landscape() {
    if [ "$colours_primary" -ge 500 ] && { [ "$2" = primary ] || [ "$colours_second" -ge 500 ]; }; then
        ok "$1"
    else
        bad "$1" "$colours_primary / $colours_second colours"
    fi
}

# difference NAME: how far apart the two heads' pictures are, each scaled to
# the frame's 512x384 (normalised RMSE, 0 ... 1; the same flight on both
# would give little more than the scaling's own error).
difference() {
    convert "$artifacts/$1.png" -crop "$primary_head" +repage -resize '512x384!' "$work/a.png"
    convert "$artifacts/$1.png" -crop "$second_head" +repage -resize '512x384!' "$work/b.png"
    compare -metric RMSE "$work/a.png" "$work/b.png" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p'
}

if ! start_idle_helper; then
    echo "wine-monitors: the idle helper did not start" >&2
    exit 1
fi
# two_heads: Wine's virtual screen spans both heads, asked for up to 10 s
# (a desktop process that has just started may still list the screens of
# the one before).
two_heads() {
    local _
    for _ in $(seq 1 10); do
        [ "$(field virtual "$(H monitors)")" = "0 0 1440 600" ] && return 0
        sleep 1
    done
    return 1
}
# One run in many saw RandR's single screen to the end: the keys are then
# written again with a new wineserver (the heads checked below still say
# what Wine saw in the end).
for _ in 1 2 3; do
    two_heads && break
    note "Wine sees one screen: the driver's keys again" \
        "($(tr -d '\r' 2>/dev/null <"$work/reg.log" | tail -n 3 | tr '\n' ' '))"
    set_driver_keys  # the old wineserver's end ends the idle helper too
    wait "$idle_pid" 2>/dev/null
    if ! start_idle_helper; then
        echo "wine-monitors: the idle helper did not restart" >&2
        exit 1
    fi
done

# --- What Wine sees ---------------------------------------------------------------------------
out=$(H monitors)
note "$(tr '\n' ';' <<<"$out")"
expect "the screen at $dpi DPI" "$(field dpi "$out")" "$dpi"
expect "virtual screen of both heads" "$(field virtual "$out")" "0 0 1440 600"
expect "two monitors, the first primary" "$(grep '^monitor' <<<"$out" | tr '\n' ';')" \
    "monitor 0 0 800 600 1;monitor 800 0 1440 480 0;"

# start_saver NAME MODE X Y: the pointer at X,Y, then /s with "Monitors"
# MODE and a small land, its GDI calls traced; prints the window's facts once
# the first land is made.
start_saver() {
    # Fixed seeds and no rings: a ring passing close to the camera can fill a
    # head with one colour at the moment of the screenshot.
    write_ini "Land Size=7" "Object Count=0" "Newland Wait=1200" "Monitors=$2"
    xdotool mousemove "$3" "$4"
    sleep 0.2
    GLIDESCAPE_TEST_LAND_SEED=5 GLIDESCAPE_TEST_VIEW_SEED=5 \
        WINEDEBUG=-all,+timestamp,+bitblt launch "$1" 120000 "$saver /s"
    H find WindowsScreenSaverClass 'Screen Saver' 60000 sync
}

# close_by_drift NAME WHAT [X Y]: a drift of the pointer (to X,Y, else by 10
# pixels) while the launched saver NAME is WHAT ends it with 0; notes the
# time from the drift to the end of the process.
close_by_drift() {
    local latency state
    state=$(exit_of "$1" 0)
    if [ "$state" != running ]; then
        bad "still $2 when the pointer drifts" "the saver's state: $state" \
            "$(tr -d '\r' <"$work/$1.log" 2>/dev/null | tr '\n' ' ')"
        return
    fi
    if [ $# -ge 4 ]; then
        latency=$(move_until_exit "$1" mousemove "$3" "$4")
    else
        latency=$(move_until_exit "$1" mousemove_relative 10 0)
    fi
    expect "a drift while $2 ends the saver with 0" "$(exit_of "$1" 15)" "0"
    if [ -n "$latency" ]; then
        note "close latency while $2: $latency ms (drift to process exit)"
    fi
}

# --- Mode 0: a landscape on each monitor ------------------------------------------------------
note "mode 0: progress while two big lands are made"
write_ini "Land Size=12" "Newland Wait=1200" "Monitors=0"
xdotool mousemove 400 300
sleep 0.2
launch gen 120000 "$saver /s"
out=$(H find WindowsScreenSaverClass 'Screen Saver' 20000)
sleep 1.5
shot monitors-generating
text_primary=$(colours monitors-generating 400x80+0+0)
text_second=$(colours monitors-generating 400x80+800+0)
rest=$(colours monitors-generating 640x380+800+100)
note "progress: text colours primary $text_primary, second $text_second; below them $rest"
if [ "$text_primary" -ge 3 ] && [ "$text_second" -ge 3 ] && [ "$rest" -le 2 ]; then
    ok "mode 0: each monitor shows its own progress texts"
else
    bad "mode 0: each monitor shows its own progress texts" "$text_primary / $text_second / $rest"
fi
close_by_drift gen "making two land-size-12 lands"

# The same close with one flight across both monitors, for comparison.
write_ini "Land Size=12" "Newland Wait=1200" "Monitors=2"
xdotool mousemove 400 300
sleep 0.2
launch gen1 120000 "$saver /s"
H find WindowsScreenSaverClass 'Screen Saver' 20000 >/dev/null
sleep 1.5
close_by_drift gen1 "making one land-size-12 land across both"

note "mode 0"
out=$(start_saver each 0 1000 300)
expect "mode 0: the window covers both monitors" "$(field rect "$out")" "0 0 1440 600"
expect "mode 0: first lands made" "$(field sync "$out")" "1"
sleep 3
shot_heads monitors-each "mode 0"
expect_landscape "mode 0: each monitor shows a landscape" both
counts=($(blit_counts each))
note "mode 0: frames on the primary, the second head, the whole window: ${counts[*]}"
expect "mode 0: frames go to each monitor's rectangle, none across both" \
    "$(enough "${counts[0]}") $(enough "${counts[1]}") ${counts[2]}" "many many 0"
apart=$(difference monitors-each)
note "mode 0: the heads' pictures differ by $apart (RMSE)"
if [ -n "$apart" ] && fless 0.1 "$apart"; then
    ok "mode 0: the two monitors show different landscapes"
else
    bad "mode 0: the two monitors show different landscapes" "RMSE '$apart'"
fi
close_by_drift each "flying over the second monitor" 1006 300

# Frame time with two flights: at each refresh that draws, the primary's
# blit comes first and the second's follows the second flight's whole frame.
grep 'NtGdiStretchBlt' "$work/each.out" |
    sed -n 's/^ *\([0-9]*\.[0-9]*\):.*dst .* log=\([0-9]*\),0 \([0-9]*\)x\([0-9]*\) .*/\1 \2/p' \
        >"$work/blits.txt"
awk '
    $2 == 0 { t0 = $1; have = 1; if (last0 != "") { tick += $1 - last0; ticks++ } last0 = $1; next }
    $2 == 800 && have { second += $1 - t0; seconds++; have = 0 }
    END {
        if (ticks > 0 && seconds > 0)
            printf "frames %d, %.1f ms apart, second flight %.1f ms after the first\n",
                ticks, 1000 * tick / ticks, 1000 * second / seconds
    }' "$work/blits.txt" >"$artifacts/frame-times.txt"
note "two monitors: $(cat "$artifacts/frame-times.txt")"

# The drift over the primary monitor ends it too.
out=$(start_saver each2 0 400 300)
xdotool mousemove 400 306
expect "mode 0: a drift over the primary monitor ends the saver with 0" "$(exit_of each2 15)" "0"

# --- Mode 1: the primary monitor only ---------------------------------------------------------
note "mode 1"
out=$(start_saver primary 1 400 300)
expect "mode 1: the window covers both monitors" "$(field rect "$out")" "0 0 1440 600"
sleep 2
shot_heads monitors-primary "mode 1"
expect_landscape "mode 1: the primary monitor shows a landscape" primary
expect "mode 1: the second monitor stays black" \
    "$(convert "$artifacts/monitors-primary.png" -crop "$second_head" +repage -format '%k %[fx:maxima]' info:)" \
    "1 0"
counts=($(blit_counts primary))
expect "mode 1: frames go to the primary monitor only" \
    "$(enough "${counts[0]}") ${counts[1]} ${counts[2]}" "many 0 0"
xdotool key a
expect "mode 1: a key ends the saver with 0" "$(exit_of primary 15)" "0"

# --- Mode 2: one landscape across both --------------------------------------------------------
note "mode 2"
out=$(start_saver span 2 400 300)
sleep 2
shot_heads monitors-span "mode 2"
expect_landscape "mode 2: both monitors show the landscape" both
counts=($(blit_counts span))
expect "mode 2: frames go across the whole window only" \
    "${counts[0]} ${counts[1]} $(enough "${counts[2]}")" "0 0 many"
xdotool click 1
expect "mode 2: a click ends the saver with 0" "$(exit_of span 15)" "0"

# --- The dialog's list ------------------------------------------------------------------------
note "configuration dialog"
open_dialog() {
    launch dialog 60000 "$saver /c:$idle_window"
    field window "$(H find '#32770' 'Glidescape Screensaver Setup' 15000)"
}
write_ini "Tilt=5" "Monitors=2"
dialog=$(open_dialog)
out=$(H dialog-get "$dialog")
expect "the list offers the three modes" \
    "$(field monitors-items "$out")|$(field monitors-item0 "$out")|$(field monitors-item1 "$out")|$(field monitors-item2 "$out")" \
    "3|A landscape on each monitor|One landscape on the primary monitor|One landscape across all monitors"
expect "the list shows the stored mode" "$(field monitors "$out")" "2"
H command "$dialog" 1002 >/dev/null
expect "Cancel ends the dialog with 0" "$(exit_of dialog 15)" "0"
rm -f "$user_ini"
dialog=$(open_dialog)
H select "$dialog" 1012 1 >/dev/null
H command "$dialog" 1001 >/dev/null
expect "OK ends the dialog with 1" "$(exit_of dialog 15)" "1"
expect "OK writes Monitors after the seven keys" \
    "$(tr -d '\r' <"$user_ini" 2>/dev/null | tr '\n' '|')" \
    "[Glidescape]|Flight Speed=25|Land Size=10|Output Width=512|Object Count=6|Newland Wait=1200|AutoPilot Intensity=30|Tilt=0|Monitors=1|Smooth Motion=1|On Battery=1|"
write_ini "Monitors=3"
dialog=$(open_dialog)
expect "a mode out of range shows mode 0" "$(field monitors "$(H dialog-get "$dialog")")" "0"
H select "$dialog" 1012 2 >/dev/null
H command "$dialog" 1011 >/dev/null
sleep 0.3
expect "Restore Defaults selects mode 0" "$(field monitors "$(H dialog-get "$dialog")")" "0"
H command "$dialog" 1002 >/dev/null
expect "Cancel after Restore Defaults ends the dialog with 0" "$(exit_of dialog 15)" "0"
expect "Cancel writes nothing" "$(tr -d '\r' <"$user_ini" | tr '\n' '|')" "[Glidescape]|Monitors=3|"

note "done"
report_summary
