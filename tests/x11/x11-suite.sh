#!/usr/bin/env bash
# x11-suite.sh - runs the Linux saver `glidescape` on private Xvfb servers
# and checks its command line, its own window, a given window, resizing,
# a server without MIT-SHM, the Shift abort, a lost display, the pacing of
# frames at the display's refresh (-timing logs), drawing only when seen
# (covered, unmapped, display off, on battery, stopped) and the real
# XScreenSaver daemon.
#
#   x11-suite.sh GLIDESCAPE GLIDESCAPE_XML ARTIFACT_DIR [SECTION...]
#
# Sections: cli xml settings window windowid resize noshm shift stopped memory
# lost pacing power daemon (default: all). GLIDESCAPE_SCREENSAVER_STATE names the
# tests/x11/tools/ScreenSaverState.cpp program (the power section's check of
# the server's own screen saver is skipped without it).
# Needs Xvfb, xdotool, xwd, xlogo, ImageMagick, procps, util-linux and
# XScreenSaver (scripts/deps.sh x11); installs nothing. Every X server runs
# on a display number of its own choosing (-displayfd) and is stopped when
# the script ends, whatever happens. Screenshots and the log are kept in
# ARTIFACT_DIR. As root, the daemon section runs XScreenSaver as the user
# glidescape-test (made here when missing), since it refuses to start its
# programs as root.
set -u

if [ $# -lt 3 ]; then
    echo "usage: $0 GLIDESCAPE GLIDESCAPE_XML ARTIFACT_DIR [SECTION...]" >&2
    exit 2
fi
saver=$(readlink -f "$1")
xml=$(readlink -f "$2")
artifacts=$3
shift 3
sections=("$@")
[ ${#sections[@]} -eq 0 ] && sections=(cli xml settings window windowid resize noshm shift stopped memory lost pacing power daemon)

for tool in Xvfb xdotool xwd xwininfo xprop xlogo xset nm convert ipcs pgrep prlimit python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "x11-suite: missing $tool (run scripts/deps.sh x11)" >&2
        exit 1
    fi
done

start_seconds=$SECONDS
work=$(mktemp -d /tmp/glidescape-x11.XXXXXX)
chmod 755 "$work"
servers=()
children=()
daemon_user=""

# The XScreenSaver daemon runs as its own user: it is asked to leave.
suite_extra_cleanup() {
    if [ -n "$daemon_user" ]; then
        runuser -u "$daemon_user" -- env HOME="$work/home" DISPLAY="${daemon_display:-}" \
            xscreensaver-command -exit >/dev/null 2>&1
    fi
}

# --- Reporting, waiting, telling a landscape ------------------------------------------------
. "$(dirname "$0")/../saver-common.sh"
trap end_suite EXIT
trap 'exit 130' INT TERM
start_suite_log

# --- X servers and the saver ----------------------------------------------------------------
# start_xvfb WxH [Xvfb options...]: a new server; sets DISPLAY.
start_xvfb() {
    local size=$1
    shift
    local file="$work/display.${#servers[@]}"
    : >"$file"
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp "$@" 3>"$file" \
        >"$work/xvfb.${#servers[@]}.log" 2>&1 &
    servers+=($!)
    for _ in $(seq 1 100); do
        [ -s "$file" ] && break
        sleep 0.1
    done
    if [ ! -s "$file" ]; then
        echo "x11-suite: Xvfb did not start" >&2
        cat "$work/xvfb.$((${#servers[@]} - 1)).log" >&2
        exit 1
    fi
    export DISPLAY=":$(head -n1 "$file")"
    note "Xvfb $size on $DISPLAY $*"
}

# Settings come from this test's own (empty) folder, never the user's, and
# the landscape history goes to a folder of its own too.
export XDG_CONFIG_HOME="$work/config"
export XDG_STATE_HOME="$work/state"
mkdir -p "$XDG_CONFIG_HOME"

# run_saver LOG ARGS...: starts the saver; sets saver_pid.
run_saver() {
    local log=$1
    shift
    "$saver" "$@" >"$log" 2>&1 &
    saver_pid=$!
    children+=("$saver_pid")
}

# run_limited_kib KIB LOG ARGS...: the same under an address-space limit of
# KIB kibibytes (prlimit sets it and becomes the saver: the pid is the saver's).
run_limited_kib() {
    local kib=$1 log=$2
    shift 2
    prlimit --as=$((kib * 1024)) "$saver" "$@" >"$log" 2>&1 &
    saver_pid=$!
    children+=("$saver_pid")
}

# time_to_end PID: sends SIGTERM and waits up to 5 s for the process to end;
# sets end_ms to the time from the signal to its end, and exit_code.
time_to_end() {
    local pid=$1 started ended
    started=$(date +%s%N)
    kill -TERM "$pid"
    for _ in $(seq 1 1000); do
        alive "$pid" || break
        sleep 0.005
    done
    ended=$(date +%s%N)
    end_ms=$(((ended - started) / 1000000))
    wait_exit "$pid" 1
}

# shot NAME [WxH+X+Y]: a screenshot of the display (or a part) into the artifacts.
shot() {
    local out="$artifacts/$1.png"
    if [ $# -gt 1 ]; then
        xwd -root -silent | convert xwd:- -crop "$2" +repage "$out"
    else
        xwd -root -silent | convert xwd:- "$out"
    fi
    echo "$out"
}

# Mean red and blue (0..1) of the top (north) or bottom (south) third. The
# night sky is grey to blue (blue at least red), the land's earth colours are
# red above blue. Brightness alone cannot tell them apart: land in the shadow
# of a hill is often darker than a cloudy sky.
red_blue() {
    convert "$1" -gravity "$2" -crop 100%x33%+0+0 +repage -format '%[fx:mean.r] %[fx:mean.b]' info:
}

# wait_landscape NAME SECONDS [CROP]: screenshots until one shows a
# landscape; its path in $landscape_shot, false after SECONDS.
wait_landscape() {
    local name=$1 limit=$2 crop=${3:-}
    local start=$SECONDS
    while [ $((SECONDS - start)) -lt "$limit" ]; do
        if [ -n "$crop" ]; then landscape_shot=$(shot "$name" "$crop"); else landscape_shot=$(shot "$name"); fi
        is_landscape "$landscape_shot" && return 0
        sleep 0.5
    done
    return 1
}

# window_of PID: the id of the saver's own window.
window_of() {
    timeout 20 xdotool search --sync --onlyvisible --pid "$1" --name '^Glidescape$' 2>/dev/null |
        head -n1
}

# no_segments_of PID: true when no shared memory segment made by PID is left.
no_segments_of() { ! ipcs -m -p | awk -v pid="$1" '$3 == pid { found = 1 } END { exit !found }'; }

# --- Sections -------------------------------------------------------------------------------
section_cli() {
    note "command line"
    local out code
    out=$("$saver" -help 2>&1)
    code=$?
    expect "-help exits 0" "$code" 0
    [[ "$out" == *"-window-id ID"* && "$out" == *"-newland-wait N"* ]] && ok "-help prints the usage" ||
        bad "-help prints the usage" "$out"
    out=$("$saver" -version 2>&1)
    [[ "$out" =~ ^glidescape\ [0-9]+\.[0-9]+\.[0-9]+$ ]] && ok "-version: $out" || bad "-version" "$out"

    local cases=(
        "-speed|fast" "-land-size|" "-objects|1e3" "-output-width|5.5" "-newland-wait|0x10"
        "-autopilot|--3" "-tilt|+" "-land-seed|-1" "-view-seed|4294967296" "-window-id|0"
        "-window-id|0xZZ" "-geometry|0x768" "-geometry|big" "-display|"
    )
    local entry option value
    for entry in "${cases[@]}"; do
        option=${entry%%|*}
        value=${entry#*|}
        out=$(DISPLAY= "$saver" "$option" "$value" 2>&1)
        code=$?
        if [ "$code" -eq 2 ] && [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] && [[ "$out" == *"$option"* ]]; then
            ok "$option '$value' exits 2: $out"
        else
            bad "$option '$value' exits 2 with one line naming it" "exit $code: $out"
        fi
    done
    out=$(DISPLAY= "$saver" -tilt 2>&1)
    code=$?
    [ "$code" -eq 2 ] && [[ "$out" == *"-tilt: needs a value"* ]] && ok "missing value exits 2: $out" ||
        bad "missing value exits 2" "exit $code: $out"
    out=$(DISPLAY= "$saver" -colour 3 2>&1)
    code=$?
    [ "$code" -eq 2 ] && [[ "$out" == *"unknown option '-colour'"* ]] && ok "unknown option exits 2: $out" ||
        bad "unknown option exits 2" "exit $code: $out"
    out=$(DISPLAY=:99999 "$saver" -root 2>&1)
    code=$?
    [ "$code" -eq 1 ] && [[ "$out" == *"cannot open display"* ]] && ok "no display exits 1: $out" ||
        bad "no display exits 1" "exit $code: $out"
}

section_xml() {
    note "glidescape.xml"
    local report
    # Well-formed, and the options with both ends of their sliders (and the
    # seeds' ends) as command lines.
    if ! report=$(python3 - "$xml" <<'EOF'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "screensaver" and root.get("name") == "glidescape", "root element"
command = root.find("command")
assert command is not None and command.get("arg") == "-root", "command -root"
for number in root.iter("number"):
    arg = number.get("arg")
    assert number.get("type") == "slider", arg
    low, high, default = (int(number.get(k)) for k in ("low", "high", "default"))
    assert low <= default <= high, arg
    for value in (low, high):
        print(arg.replace("%", str(value)) + "|" + number.get("id") + "|" + str(default))
for string in root.iter("string"):
    for value in ("0", "4294967295"):
        print(string.get("arg").replace("%", value) + "|" + string.get("id") + "|")
EOF
    ); then
        bad "glidescape.xml is well-formed with a -root command and sliders" "$report"
        return
    fi
    ok "glidescape.xml is well-formed, command -root, $(grep -c . <<<"$report") option ends"
    local usage line args out code
    usage=$("$saver" -help)
    while IFS='|' read -r args _ default; do
        # shellcheck disable=SC2086
        out=$(DISPLAY= "$saver" $args -help 2>&1)
        code=$?
        if [ "$code" -ne 0 ]; then
            bad "$args accepted" "exit $code: $out"
            continue
        fi
        # The slider's end lies in the range the program states (and so is
        # used as it is, not replaced by the fall-back).
        set -- $args
        line=$(grep -- "^  $1 " <<<"$usage")
        if [[ "$line" =~ ([-0-9]+)\.\.([-0-9]+)\ \(([-0-9]+)\) ]]; then
            if [ "$2" -ge "${BASH_REMATCH[1]}" ] && [ "$2" -le "${BASH_REMATCH[2]}" ] &&
                [ "$default" == "${BASH_REMATCH[3]}" ]; then
                ok "$args accepted, in ${BASH_REMATCH[1]}..${BASH_REMATCH[2]}, default $default"
            else
                bad "$args in the program's range and default" "$line"
            fi
        else
            ok "$args accepted"
        fi
    done <<<"$report"
}

section_settings() {
    note "settings file"
    start_xvfb 1024x768
    # A FIFO in the settings file's place, with no writer: a blocking open
    # would hold the saver before it opens the display.
    local config="$work/fifo-config"
    mkdir -p "$config/glidescape"
    mkfifo "$config/glidescape/Glidescp.ini"
    XDG_CONFIG_HOME="$config" run_saver "$work/fifo.log" -geometry 320x240 -land-size 6
    local pid=$saver_pid id
    id=$(window_of "$pid")
    [ -n "$id" ] && ok "a FIFO as the settings file: the window opens" ||
        bad "a FIFO as the settings file: the window opens" "$(cat "$work/fifo.log")"
    stop_process "$pid"
    expect "... and SIGTERM ends it with 0" "$exit_code" 0
    local said
    said=$(cat "$work/fifo.log")
    [ "$(grep -c . <<<"$said")" -eq 1 ] && [[ "$said" == *"cannot read "*"Glidescp.ini: not a regular file; using the defaults" ]] &&
        ok "... saying once that it is not read: $said" || bad "... saying once that it is not read" "$said"
}

section_window() {
    note "own window"
    start_xvfb 1024x768
    # Xvfb starts with the pointer at the screen's centre (512, 384), inside
    # the 640x480 window at (0, 0): keys reach it (focus follows the pointer).
    # (xdotool moves the pointer only once a window other than the root exists.)
    run_saver "$work/window.log" -geometry 640x480
    local pid=$saver_pid id
    id=$(window_of "$pid")
    [ -n "$id" ] && ok "window 'Glidescape' is mapped" || bad "window 'Glidescape' is mapped"
    if wait_landscape window-landscape 90 640x480+0+0; then
        ok "landscape after the first land ($(colours "$landscape_shot") colours)"
    else
        bad "landscape after the first land" "last shot: $(colours "$landscape_shot") colours"
    fi
    xdotool key a
    wait_exit "$pid" 20
    expect "a key ends it with 0" "$exit_code" 0
    no_segments_of "$pid" && ok "no shared memory left" || bad "no shared memory left" "$(ipcs -m -p)"

    run_saver "$work/click.log" -geometry 640x480 -land-size 6
    pid=$saver_pid
    window_of "$pid" >/dev/null
    sleep 1
    xdotool click 1
    wait_exit "$pid" 20
    expect "a click ends it with 0" "$exit_code" 0

    run_saver "$work/drift.log" -geometry 640x480 -land-size 6
    pid=$saver_pid
    window_of "$pid" >/dev/null
    sleep 1
    local X Y SCREEN WINDOW
    eval "$(xdotool getmouselocation --shell)"
    xdotool mousemove $((X + 3)) $((Y - 1))
    sleep 1.5
    alive "$pid" && ok "a 4-pixel drift does not end it" || bad "a 4-pixel drift does not end it"
    xdotool mousemove $((X + 3)) $((Y - 2))
    wait_exit "$pid" 20
    expect "a 5-pixel drift ends it with 0" "$exit_code" 0

    # Full screen: the whole screen, the pointer hidden, closes like -window.
    run_saver "$work/fullscreen.log" -fullscreen -land-size 8
    pid=$saver_pid
    id=$(window_of "$pid")
    local geometry
    geometry=$(xdotool getwindowgeometry "$id" 2>/dev/null | tr -d '\n')
    [[ "$geometry" == *"Position: 0,0"*"Geometry: 1024x768"* ]] && ok "-fullscreen covers the screen" ||
        bad "-fullscreen covers the screen" "$geometry"
    local state
    state=$(xprop -id "$id" _NET_WM_STATE 2>&1)
    [[ "$state" == *_NET_WM_STATE_FULLSCREEN* ]] && ok "-fullscreen asks for the full-screen state" ||
        bad "-fullscreen asks for the full-screen state" "$state"
    if wait_landscape fullscreen-landscape 60; then ok "-fullscreen flies"; else bad "-fullscreen flies"; fi
    eval "$(xdotool getmouselocation --shell)"
    xdotool mousemove $((X - 10)) "$Y"
    wait_exit "$pid" 20
    expect "-fullscreen: a drift ends it with 0" "$exit_code" 0
}

section_windowid() {
    note "-window-id"
    start_xvfb 1024x768
    xlogo -geometry 480x360+100+100 >"$work/xlogo.log" 2>&1 &
    local logo=$!
    children+=("$logo")
    local id
    local shell
    shell=$(timeout 20 xdotool search --sync --onlyvisible --class '^xlogo$' 2>/dev/null | head -n1)
    # The logo widget's own window covers the shell's: draw into that one.
    id=$(xwininfo -children -id "${shell:-0}" 2>/dev/null | awk '/^ +0x[0-9a-f]+ / { print $1; exit }')
    if [ -z "$id" ]; then
        bad "a window to draw into (xlogo)"
        return
    fi
    run_saver "$work/windowid.log" -window-id "$id" -land-size 9
    local pid=$saver_pid
    if wait_landscape windowid-landscape 60 480x360+100+100; then
        ok "frames appear in the given window"
    else
        bad "frames appear in the given window"
    fi
    xdotool mousemove 300 250 key a click 1 mousemove 400 300 click 3
    sleep 1.5
    alive "$pid" && ok "key, click and motion do not end it" || bad "key, click and motion do not end it"
    stop_process "$pid"
    expect "SIGTERM ends it with 0" "$exit_code" 0
    no_segments_of "$pid" && ok "no shared memory left" || bad "no shared memory left" "$(ipcs -m -p)"

    run_saver "$work/windowid2.log" -window-id "$id" -land-size 6
    pid=$saver_pid
    sleep 2
    kill "$logo"
    wait_exit "$pid" 20
    expect "destroying the window ends it with 0" "$exit_code" 0

    # Gone in the middle of a long generation: it ends soon all the same.
    xlogo -geometry 480x360+100+100 >>"$work/xlogo.log" 2>&1 &
    logo=$!
    children+=("$logo")
    shell=$(timeout 20 xdotool search --sync --onlyvisible --class '^xlogo$' 2>/dev/null | head -n1)
    local second
    second=$(xwininfo -children -id "${shell:-0}" 2>/dev/null | awk '/^ +0x[0-9a-f]+ / { print $1; exit }')
    run_saver "$work/windowid4.log" -window-id "${second:-0}" -land-size 12
    pid=$saver_pid
    sleep 3
    kill "$logo"
    wait_exit "$pid" 10
    expect "destroyed while the land is made: exit 0 within 10 s" "$exit_code" 0

    run_saver "$work/windowid3.log" -window-id "$id"
    wait_exit "$saver_pid" 20
    expect "a window that is gone: exit 1" "$exit_code" 1
    grep -q "does not exist" "$work/windowid3.log" && ok "... saying so: $(cat "$work/windowid3.log")" ||
        bad "... saying so" "$(cat "$work/windowid3.log")"
}

section_resize() {
    note "resizing"
    start_xvfb 1024x768
    run_saver "$work/resize.log" -geometry 320x240 -land-size 8 -tick-stats
    local pid=$saver_pid id size
    id=$(window_of "$pid")
    # Out of the way of every size the window takes.
    xdotool mousemove 1000 740
    sleep 2
    for size in "900 700" "1 1" "1 700" "700 1" "640 480"; do
        # shellcheck disable=SC2086
        xdotool windowsize "$id" $size
        sleep 1.5
        alive "$pid" && ok "alive at ${size/ /x}" || bad "alive at ${size/ /x}" "$(cat "$work/resize.log")"
    done
    if wait_landscape resize-landscape 60 640x480+0+0; then ok "flies at 640x480 again"; else bad "flies at 640x480 again"; fi
    stop_process "$pid"
    expect "SIGTERM ends it with 0" "$exit_code" 0
    note "$(cat "$work/resize.log")"
}

section_noshm() {
    note "server without MIT-SHM"
    start_xvfb 1024x768 -extension MIT-SHM
    run_saver "$work/noshm.log" -root -land-size 9 -tick-stats
    local pid=$saver_pid
    if wait_landscape noshm-landscape 60; then ok "draws without MIT-SHM"; else bad "draws without MIT-SHM"; fi
    stop_process "$pid"
    expect "SIGTERM ends it with 0" "$exit_code" 0
    grep -q "XPutImage" "$work/noshm.log" && ok "used XPutImage: $(cat "$work/noshm.log")" ||
        bad "used XPutImage" "$(cat "$work/noshm.log")"
}

# The longest wait from SIGTERM during a generation to the process's end.
sigterm_limit_ms=1000

section_shift() {
    note "Shift aborts the land"
    start_xvfb 1024x768
    # The largest land takes many seconds to make; -root keeps the key from
    # ending the saver. Once aborted, the flight goes on over the partial
    # land at 25 frames a second; without the abort not even one landscape
    # would be ready in the time.
    run_saver "$work/shift.log" -root -land-size 12 -tick-stats
    local pid=$saver_pid progress count=0 start=$SECONDS
    while [ $((SECONDS - start)) -lt 60 ]; do
        progress=$(shot shift-progress 420x100+0+0)
        count=$(colours "$progress")
        [ "$count" -gt 2 ] && break
        sleep 0.3
    done
    [ "$count" -gt 2 ] && [ "$count" -lt 300 ] && ok "progress screen drawn ($count colours)" ||
        bad "progress screen drawn" "$count colours"
    # The generator asks for Shift only every few seconds at this size; the
    # key is read from the keyboard state (a window of somebody else's gets
    # no key events), so it is held until then.
    xdotool keydown shift
    sleep 5
    xdotool keyup shift
    sleep 6
    shot shift-aborted >/dev/null
    stop_process "$pid"
    expect "SIGTERM ends it with 0" "$exit_code" 0
    local ticks
    ticks=$(sed -n 's/^glidescape: \([0-9]*\) frame ticks.*/\1/p' "$work/shift.log")
    [ "${ticks:-0}" -ge 75 ] && ok "flies on over the aborted land ($ticks frames)" ||
        bad "flies on over the aborted land" "$(cat "$work/shift.log")"

    # A signal in the middle of a long generation ends it at once: the land
    # is made on a worker thread, which gives it up within milliseconds.
    run_saver "$work/shift2.log" -root -land-size 12
    pid=$saver_pid
    count=0
    start=$SECONDS
    while [ $((SECONDS - start)) -lt 60 ]; do
        count=$(colours "$(shot sigterm-progress 420x100+0+0)")
        [ "$count" -gt 2 ] && break
        sleep 0.3
    done
    # Into the synthesis, the longest step (a land-size-12 landscape takes
    # about two seconds on two cores).
    sleep 0.3
    count=$(colours "$(shot sigterm-progress 420x100+0+0)")
    [ "$count" -gt 2 ] && [ "$count" -lt 300 ] && ok "still making the land" ||
        bad "still making the land" "$count colours"
    time_to_end "$pid"
    expect "SIGTERM during the generation ends it with 0" "$exit_code" 0
    local latency=$end_ms
    note "SIGTERM latency during a land-size-12 generation: $latency ms (signal to process exit)"
    # About 0.1 s on a quiet machine; the margin is for a loaded 2-core CI
    # machine.
    [ "$latency" -le "$sigterm_limit_ms" ] && ok "SIGTERM during the generation is prompt" ||
        bad "SIGTERM during the generation is prompt" "$latency ms (limit $sigterm_limit_ms)"
    no_segments_of "$pid" && ok "no shared memory left" || bad "no shared memory left" "$(ipcs -m -p)"
}

section_stopped() {
    note "SIGTERM while the X server does not answer"
    start_xvfb 1024x768
    local server=${servers[-1]} target pid said
    # On the root window (as XScreenSaver runs it) and in a window of its own.
    for target in -root -window; do
        run_saver "$work/stopped$target.log" "$target" -land-size 8
        pid=$saver_pid
        if ! wait_landscape "stopped$target-landscape" 60; then
            bad "$target: flies before the server stops"
            stop_process "$pid"
            continue
        fi
        # Stopped while the saver flies: its next frame waits for the server.
        kill -STOP "$server"
        sleep 0.5
        time_to_end "$pid"
        kill -CONT "$server"
        note "$target: SIGTERM to the end with the server stopped: $end_ms ms"
        expect "$target: SIGTERM with the server stopped ends it with 0" "$exit_code" 0
        [ "$end_ms" -le "$sigterm_limit_ms" ] && ok "$target: ... within $sigterm_limit_ms ms ($end_ms ms)" ||
            bad "$target: ... within $sigterm_limit_ms ms" "$end_ms ms"
        said=$(cat "$work/stopped$target.log")
        [ "$(grep -c . <<<"$said")" -le 1 ] && ok "$target: ... with at most one line: ${said:-(none)}" ||
            bad "$target: ... with at most one line" "$said"
        # The server goes on, and lets go of the segment with the connection.
        sleep 0.5
        xwininfo -root >/dev/null 2>&1 && ok "$target: the server answers again" || bad "$target: the server answers again"
        no_segments_of "$pid" && ok "$target: no shared memory left" || bad "$target: no shared memory left" "$(ipcs -m -p)"
    done

    # A responsive server: the same quick end, without that line.
    run_saver "$work/stopped-running.log" -root -land-size 8
    pid=$saver_pid
    sleep 2
    time_to_end "$pid"
    expect "a server that answers: SIGTERM ends it with 0 ($end_ms ms)" "$exit_code" 0
    # (The line that the server does not answer would say the watchdog ended it.)
    [ ! -s "$work/stopped-running.log" ] && ok "... saying nothing" || bad "... saying nothing" "$(cat "$work/stopped-running.log")"
    no_segments_of "$pid" && ok "no shared memory left" || bad "no shared memory left" "$(ipcs -m -p)"
}

# shows_line SHOT: true when SHOT is black but for one line of text in the
# message grey (207, 207, 207) along its top: the line that says why the
# window does not fly, drawn on a cleared window (not over a progress screen
# or a frame).
shows_line() {
    local size colours
    size=$(convert "$1" -format '%wx%h' info:)
    colours=$(convert "$1" -unique-colors -depth 8 txt:- | awk 'NR > 1 { print $3 }' | sort | tr '\n' ' ')
    [ "$colours" == "#000000 #CFCFCF " ] &&
        [ "$(convert "$1" -gravity south -crop "${size%x*}x$((${size#*x} - 30))+0+0" +repage -format '%k' info:)" -eq 1 ]
}

# memory_probe KIB NAME ARGS...: runs the saver in a 640x480 window under an
# address-space limit of KIB kibibytes until it shows a landscape or the
# line (30 s at most) and checks what it said; sets probe_result to
# landscape, line or none. The shot of a line is kept.
memory_probe() {
    local kib=$1 name=$2
    shift 2
    local log="$work/memory-$kib.log" shot_name="memory-${kib}KiB-land${2:-10}" pid start
    run_limited_kib "$kib" "$log" -window -geometry 640x480+0+0 "$@"
    pid=$saver_pid
    start=$SECONDS
    probe_result=none
    while [ $((SECONDS - start)) -lt 30 ]; do
        shot "$shot_name" 640x480+0+0 >/dev/null
        if is_landscape "$artifacts/$shot_name.png"; then
            probe_result=landscape
            break
        elif shows_line "$artifacts/$shot_name.png"; then
            probe_result=line
            break
        fi
        sleep 0.5
    done
    stop_process "$pid"
    local label="$name, $kib KiB" repeated
    [ $((kib % 1024)) -eq 0 ] && label="$name, $((kib / 1024)) MB"
    case "$probe_result" in
        landscape)
            ok "$label: a landscape"
            rm -f "$artifacts/$shot_name.png" ;;
        line)
            if [ "$(grep -c "needs more memory than is free" "$log")" -eq 1 ]; then
                ok "$label: the line, said once: $(grep "needs more" "$log")"
            else
                bad "$label: the line, said once on stderr" "$(cat "$log")"
            fi ;;
        *)
            bad "$label: a landscape or the line" \
                "neither after 30 s: $(colours "$artifacts/$shot_name.png") colours; $(cat "$log")" ;;
    esac
    repeated=$(sort "$log" | uniq -d)
    [ -z "$repeated" ] || bad "$label: no line said twice" "$repeated"
    expect "$label: SIGTERM ends it with 0" "$exit_code" 0
}

section_memory() {
    note "under memory limits"
    # A sanitizer build reserves terabytes of address space for its shadow
    # memory and cannot start under any such limit.
    if ! prlimit --as=$((600 * 1024 * 1024)) "$saver" -version >/dev/null 2>&1; then
        note "SKIP memory: the saver does not start under a 600 MB address-space limit (a sanitizer build)"
        return
    fi
    start_xvfb 1024x768
    # Each run shows a landscape or the line that says why not (and says it
    # on stderr once), never a black window without a word, nor the line
    # over a progress screen. Where the limit falls between the two depends
    # on the machine (its cores' thread stacks count too), so only the two
    # ends of the sweep are pinned.
    local limits=(32 64 100 200 400 600) mb
    local big=(-land-size 12 -output-width 3000)
    local low_line=0 high_landscape=0
    for mb in "${limits[@]}"; do
        memory_probe $((mb * 1024)) "land 12, output width 3000" "${big[@]}"
        [ "$mb" -eq 32 ] && expect "land 12 in 32 MB shows the line" "$probe_result" line
    done
    for mb in "${limits[@]}"; do
        memory_probe $((mb * 1024)) "defaults"
        [ "$probe_result" == line ] && low_line=$((mb * 1024))
        [ "$probe_result" == landscape ] && [ "$high_landscape" -eq 0 ] && high_landscape=$((mb * 1024))
    done
    expect "the defaults in 600 MB fly" "$probe_result" landscape
    # Just where the memory runs out, a landscape may fail half way, after
    # the progress screen was drawn: halve the gap down to 256 KiB.
    if [ "$low_line" -gt 0 ] && [ "$high_landscape" -gt "$low_line" ]; then
        local middle
        while [ $((high_landscape - low_line)) -gt 256 ]; do
            middle=$(((low_line + high_landscape) / 2 / 256 * 256))
            memory_probe "$middle" "defaults"
            if [ "$probe_result" == landscape ]; then high_landscape=$middle; else low_line=$middle; fi
        done
        note "the defaults fly from $high_landscape KiB"
    fi

    # A flight without memory is tried again every second here; the line
    # stays, and stderr says it once.
    run_limited_kib $((100 * 1024)) "$work/memory-retry.log" -window -geometry 640x480+0+0 \
        -land-size 12 -newland-wait 1
    local pid=$saver_pid
    sleep 4
    shot memory-retry 640x480+0+0 >/dev/null
    shows_line "$artifacts/memory-retry.png" && ok "retried every second: the line stays" ||
        bad "retried every second: the line stays" "$(colours "$artifacts/memory-retry.png") colours"
    stop_process "$pid"
    expect "... and stderr says it once" "$(grep -c "needs more memory than is free" "$work/memory-retry.log")" 1
}

section_lost() {
    note "lost display"
    start_xvfb 1024x768
    run_saver "$work/lost.log" -root -land-size 8
    local pid=$saver_pid
    sleep 2
    kill "${servers[-1]}"
    wait_exit "$pid" 20
    expect "a lost display ends it with 1" "$exit_code" 1
    local said
    said=$(cat "$work/lost.log")
    [ "$(grep -c . <<<"$said")" -eq 1 ] && [[ "$said" == *"lost the connection"* ]] &&
        ok "... with one line: $said" || bad "... with one line" "$said"
}

# --- Timing logs (-timing) -----------------------------------------------------------------
timing_stats() { python3 "$(dirname "$0")/timing-stats.py" "$@"; }
# The monotonic clock of the logs, in microseconds.
now_us() { python3 -c 'import time; print(time.monotonic_ns() // 1000)'; }
# frames_between LOG FROM TO: frames the log shows from FROM to TO (microseconds).
frames_between() { awk -v a="$2" -v b="$3" '!/^#/ && $1 >= a && $1 <= b { n++ } END { print n + 0 }' "$1"; }
# wait_frames LOG SECONDS: true once the log shows a frame.
wait_frames() {
    local start=$SECONDS
    while [ $((SECONDS - start)) -lt "$2" ]; do
        grep -q '^[0-9]' "$1" 2>/dev/null && return 0
        sleep 0.2
    done
    return 1
}
# stat_of NAME STATS: the value of NAME in a timing-stats line.
stat_of() { tr ' ' '\n' <<<"$2" | sed -n "s/^$1=//p"; }
# context_switches PID: voluntary and involuntary switches of all its threads.
context_switches() {
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/ctxt_switches/ { n += $2 } END { print n + 0 }'
}

section_pacing() {
    note "frames at the display's pace"
    local path mode log stats fps tps cv
    # Xvfb has the Present extension (its refresh counter runs on a timer
    # near 60 Hz) and cannot be started without it; GLIDESCAPE_NO_PRESENT
    # makes the saver pace by a timer at the RandR rate (Xvfb's mode says
    # none: 60 Hz), as on a server without Present. One frame a tick
    # (-no-smooth) is always paced by a timer at the ticks.
    start_xvfb 1024x768
    local expected no_present
    for path in present timer; do
        no_present=""
        [ "$path" = timer ] && no_present=1
        for mode in smooth no-smooth; do
            expected=$path
            [ "$mode" = no-smooth ] && expected=timer
            log="$work/pacing-$path-$mode.log"
            GLIDESCAPE_NO_PRESENT=$no_present run_saver "$work/pacing-$path-$mode.out" -window -land-size 8 \
                "-$mode" -timing "$log"
            if ! wait_frames "$log" 60; then
                bad "$path, -$mode: frames are logged" "$(cat "$work/pacing-$path-$mode.out")"
                stop_process "$saver_pid"
                continue
            fi
            sleep 6
            stop_process "$saver_pid"
            expect "$path, -$mode: ends with 0" "$exit_code" 0
            cp "$log" "$artifacts/pacing-$path-$mode.txt"
            stats=$(timing_stats "$log" --skip 1)
            note "$path, -$mode: $stats"
            fps=$(stat_of fps "$stats")
            tps=$(stat_of tps "$stats")
            cv=$(stat_of cv "$stats")
            expect "$path, -$mode: paced by $expected" "$(stat_of source "$stats")" "$expected"
            # 25 ticks a second whatever the display does (loosely: the
            # machine is shared).
            python3 -c "import sys; sys.exit(0 if 15 <= $tps <= 30 else 1)" &&
                ok "$path, -$mode: about 25 ticks a second ($tps)" ||
                bad "$path, -$mode: about 25 ticks a second" "$tps"
            if [ "$mode" = smooth ]; then
                # (A slow build draws every second or third refresh: fewer
                # frames, still between the ticks.)
                [ "$(awk '!/^#/ && $3 != 0 { n++ } END { print n + 0 }' "$log")" -gt 0 ] &&
                    ok "$path, -smooth: frames in between the ticks ($fps a second, motion CV $cv)" ||
                    bad "$path, -smooth: frames in between the ticks" "$stats"
            else
                # One frame a tick: every frame line is a tick of its own.
                awk '!/^#/ { if (seen && $2 <= last) exit 1; last = $2; seen = 1 }' "$log" &&
                    ok "$path, -no-smooth: no tick drawn twice (motion CV $cv)" ||
                    bad "$path, -no-smooth: no tick drawn twice" "$stats"
                python3 -c "import sys; sys.exit(0 if abs($fps - $tps) <= 0.1 * $tps else 1)" &&
                    ok "$path, -no-smooth: a frame for every tick ($fps / $tps a second)" ||
                    bad "$path, -no-smooth: a frame for every tick" "$stats"
            fi
        done
    done
}

# pause_check NAME LOG PID START STOP: no frame between START and STOP
# (microseconds) and few wake-ups meanwhile; called at STOP.
pause_check() {
    local name=$1 log=$2 pid=$3 from=$4 to=$5 switches=$6
    local drawn
    drawn=$(frames_between "$log" "$from" "$to")
    expect "$name: no frame drawn in 3 s" "$drawn" 0
    # At most one wake-up a second: a few context switches, not hundreds.
    [ "$switches" -le 20 ] && ok "$name: $switches context switches in 3 s" ||
        bad "$name: at most a few wake-ups in 3 s" "$switches context switches"
}

# resumes_check NAME LOG: frames again within 1.5 s of now.
resumes_check() {
    local name=$1 log=$2 from
    from=$(now_us)
    sleep 1.5
    [ "$(frames_between "$log" "$from" "$(now_us)")" -gt 0 ] && ok "$name: draws again at once" ||
        bad "$name: draws again at once" "$(tail -n3 "$log")"
}

section_power() {
    note "drawing only when seen, power and the server's screen saver"
    start_xvfb 1024x768
    local log pid id from to before switches cover state
    log="$work/power-seen.log"
    run_saver "$work/power-seen.out" -window -geometry 640x480 -land-size 8 -timing "$log"
    pid=$saver_pid
    id=$(window_of "$pid")
    if ! wait_frames "$log" 60; then
        bad "frames are logged" "$(cat "$work/power-seen.out")"
        stop_process "$pid"
        return
    fi
    sleep 1

    # Covered by another window (no window manager: a new one goes on top).
    xlogo -geometry 800x600+0+0 >/dev/null 2>&1 &
    cover=$!
    children+=("$cover")
    sleep 1
    from=$(now_us)
    before=$(context_switches "$pid")
    sleep 3
    switches=$(($(context_switches "$pid") - before))
    to=$(now_us)
    pause_check "covered" "$log" "$pid" "$from" "$to" "$switches"
    kill "$cover"
    wait "$cover" 2>/dev/null
    resumes_check "uncovered" "$log"

    # Unmapped.
    xdotool windowunmap "$id"
    sleep 1
    from=$(now_us)
    before=$(context_switches "$pid")
    sleep 3
    switches=$(($(context_switches "$pid") - before))
    to=$(now_us)
    pause_check "unmapped" "$log" "$pid" "$from" "$to" "$switches"
    xdotool windowmap "$id"
    resumes_check "mapped again" "$log"

    # Stopped for 3 s: one tick after SIGCONT, then 25 a second, no burst.
    kill -STOP "$pid"
    sleep 3
    kill -CONT "$pid"
    sleep 2
    local jump
    jump=$(awk '!/^#/ { if (seen && $1 - t > 2000000) { print $2 - k; exit } t = $1; k = $2; seen = 1 }' "$log")
    [ -n "$jump" ] && [ "$jump" -le 2 ] && ok "SIGSTOP for 3 s: the flight goes on without catching up ($jump tick(s) across the pause)" ||
        bad "SIGSTOP for 3 s: no burst of catch-up ticks" "tick step across the pause: '${jump:-none}'"
    # ... and still closes by its rules.
    local X Y SCREEN WINDOW
    xdotool mousemove 320 240
    sleep 0.5
    eval "$(xdotool getmouselocation --shell)"
    xdotool mousemove $((X + 10)) "$Y"
    wait_exit "$pid" 20
    expect "after SIGCONT a drift ends it with 0" "$exit_code" 0
    cp "$log" "$artifacts/power-seen.txt"

    # The display off (DPMS): Xvfb and Xorg's dummy driver have no DPMS, so
    # the state comes from a file here (GLIDESCAPE_DPMS_FILE).
    log="$work/power-dpms.log"
    echo on >"$work/dpms"
    GLIDESCAPE_DPMS_FILE="$work/dpms" run_saver "$work/power-dpms.out" -window -geometry 640x480 -land-size 8 -timing "$log"
    pid=$saver_pid
    if wait_frames "$log" 60; then
        echo off >"$work/dpms"
        sleep 1.5
        from=$(now_us)
        before=$(context_switches "$pid")
        sleep 3
        switches=$(($(context_switches "$pid") - before))
        to=$(now_us)
        pause_check "display off" "$log" "$pid" "$from" "$to" "$switches"
        echo on >"$work/dpms"
        sleep 1
        resumes_check "display on again" "$log"
    else
        bad "display power: frames are logged" "$(cat "$work/power-dpms.out")"
    fi
    stop_process "$pid"

    # On battery ("On Battery" 1: a frame a tick; 2: nothing at all).
    mkdir -p "$work/supply/AC" "$work/supply/BAT0"
    echo Mains >"$work/supply/AC/type"
    echo 0 >"$work/supply/AC/online"
    echo Battery >"$work/supply/BAT0/type"
    echo Discharging >"$work/supply/BAT0/status"
    log="$work/power-battery.log"
    GLIDESCAPE_POWER_SUPPLY_DIR="$work/supply" run_saver "$work/power-battery.out" -window -geometry 640x480 \
        -land-size 8 -smooth -on-battery 1 -timing "$log"
    pid=$saver_pid
    if wait_frames "$log" 60; then
        sleep 4
        stop_process "$pid"
        local stats
        stats=$(timing_stats "$log" --skip 1)
        note "on battery, setting 1: $stats"
        grep -q '^# pacing timer .* smooth 0 drawing 1' "$log" && ok "on battery, setting 1: no frames in between" ||
            bad "on battery, setting 1: no frames in between" "$(grep '^#' "$log")"
        awk '!/^#/ { if (seen && $2 <= last) exit 1; if (!seen) first = $2; last = $2; seen = 1; n++ } END { exit !(seen && n >= 0.9 * (last - first + 1)) }' "$log" &&
            ok "on battery, setting 1: exactly one frame per tick" ||
            bad "on battery, setting 1: exactly one frame per tick" "$stats"
    else
        bad "on battery: frames are logged" "$(cat "$work/power-battery.out")"
        stop_process "$pid"
    fi
    log="$work/power-battery2.log"
    GLIDESCAPE_POWER_SUPPLY_DIR="$work/supply" run_saver "$work/power-battery2.out" -window -geometry 640x480 \
        -land-size 8 -on-battery 2 -timing "$log"
    pid=$saver_pid
    sleep 4
    stop_process "$pid"
    expect "on battery, setting 2: no frame at all" "$(grep -c '^[0-9]' "$log")" 0

    # The server's own screen saver still starts while the saver flies: the
    # saver never resets its timer.
    if nm -D --undefined-only "$saver" | grep -q 'XResetScreenSaver\|XForceScreenSaver\|XScreenSaverSuspend'; then
        bad "glidescape calls nothing that keeps the display awake" "$(nm -D --undefined-only "$saver" | grep ScreenSaver)"
    else
        ok "glidescape calls nothing that keeps the display awake"
    fi
    if [ -n "${GLIDESCAPE_SCREENSAVER_STATE:-}" ] && [ -x "$GLIDESCAPE_SCREENSAVER_STATE" ]; then
        log="$work/power-saver.log"
        run_saver "$work/power-saver.out" -window -geometry 640x480 -land-size 8 -timing "$log"
        pid=$saver_pid
        wait_frames "$log" 60
        # (Set while a client is connected: Xvfb resets it with its last client.)
        xset s 2 0
        sleep 4
        state=$("$GLIDESCAPE_SCREENSAVER_STATE")
        [[ "$state" == on* ]] && ok "the server's screen saver starts while glidescape -window flies ($state)" ||
            bad "the server's screen saver starts while glidescape -window flies" "$state"
        [ "$(grep -c '^[0-9]' "$log")" -gt 10 ] && ok "... while frames are drawn" || bad "... while frames are drawn"
        xset s off
        stop_process "$pid"
    else
        note "skipped: the server's screen saver (no screensaver-state program)"
    fi
}

section_daemon() {
    note "XScreenSaver daemon"
    if ! command -v xscreensaver >/dev/null || ! command -v xscreensaver-command >/dev/null; then
        bad "xscreensaver installed" "run scripts/deps.sh x11"
        return
    fi
    start_xvfb 1024x768 -ac
    daemon_display=$DISPLAY
    local user home="$work/home" run=()
    mkdir -p "$work/bin" "$home"
    cp "$saver" "$work/bin/glidescape"
    chmod 755 "$work/bin" "$work/bin/glidescape"
    if [ "$(id -u)" -eq 0 ]; then
        user=glidescape-test
        if ! id "$user" >/dev/null 2>&1; then
            if ! useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"; then
                note "SKIP daemon: running as root and cannot create the user $user"
                return
            fi
        fi
        chown "$user" "$home"
        daemon_user=$user
        run=(runuser -u "$user" --)
    else
        user=$(id -un)
    fi
    cat >"$home/.xscreensaver" <<EOF
mode: one
selected: 0
lock: False
fade: False
unfade: False
splash: False
timeout: 0:30:00
programs: $work/bin/glidescape -root \n
EOF
    [ -n "$daemon_user" ] && chown "$user" "$home/.xscreensaver"
    local env=(env HOME="$home" DISPLAY="$DISPLAY" XDG_CONFIG_HOME="$home/.config")
    # The daemon can take half a minute to answer on a loaded machine. Once
    # in a fresh-clone run it never answered and wrote nothing: a daemon that
    # stays silent for a minute is stopped and started once more, and a
    # note says how it ended.
    local ready=0 try daemon ended=""
    for try in 1 2; do
        "${run[@]}" "${env[@]}" xscreensaver -no-splash >"$work/daemon.log" 2>&1 &
        daemon=$!
        children+=("$daemon")
        for _ in $(seq 1 300); do
            if "${run[@]}" "${env[@]}" xscreensaver-command -version >/dev/null 2>&1; then
                ready=1
                break
            fi
            sleep 0.2
        done
        [ "$ready" -eq 1 ] && break
        if kill -0 "$daemon" 2>/dev/null; then
            ended="still running, silent, after 60 s"
            # The daemon itself, or runuser, which takes the daemon with it.
            kill "$daemon" 2>/dev/null
            wait "$daemon" 2>/dev/null
        else
            wait "$daemon"
            ended="exited with status $?"
        fi
        note "the daemon did not answer (try $try: $ended; log: $(head -c 300 "$work/daemon.log"))"
    done
    if [ "$ready" -ne 1 ]; then
        bad "xscreensaver daemon starts" "$ended: $(cat "$work/daemon.log")"
        return
    fi
    ok "xscreensaver daemon runs as $user"
    "${run[@]}" "${env[@]}" xscreensaver-command -activate >/dev/null 2>&1
    local pid=""
    for _ in $(seq 1 100); do
        pid=$(pgrep -u "$user" -x glidescape | head -n1)
        [ -n "$pid" ] && break
        sleep 0.2
    done
    if [ -z "$pid" ]; then
        bad "-activate starts glidescape" "$(cat "$work/daemon.log")"
        return
    fi
    ok "-activate starts glidescape ($(tr '\0' ' ' </proc/"$pid"/cmdline))"
    grep -q XSCREENSAVER_WINDOW= /proc/"$pid"/environ 2>/dev/null && ok "... on the daemon's window (XSCREENSAVER_WINDOW)" ||
        bad "... on the daemon's window (XSCREENSAVER_WINDOW)"
    if wait_landscape daemon-landscape 90; then
        ok "the screen shows a landscape ($(colours "$landscape_shot") colours)"
        # The camera may dip into a valley for a moment: one of a few shots
        # a second apart must show the sky above the land.
        local top bottom seen="" sky=0 try
        for try in 1 2 3 4 5 6 7 8; do
            [ "$try" -gt 1 ] && sleep 1 && shot daemon-landscape >/dev/null
            top=$(red_blue "$landscape_shot" north)
            bottom=$(red_blue "$landscape_shot" south)
            seen="$seen (${top// /,} / ${bottom// /,})"
            if python3 -c "import sys; t, b = [${top// /,}], [${bottom// /,}]; sys.exit(0 if t[1] >= t[0] and b[0] > b[1] else 1)"; then
                sky=1
                break
            fi
        done
        if [ "$sky" -eq 1 ]; then
            ok "grey-blue sky above, earth-red land below (red,blue top / bottom:$seen)"
        else
            bad "grey-blue sky above, earth-red land below" "red,blue top / bottom:$seen"
        fi
    else
        bad "the screen shows a landscape" "$(cat "$work/daemon.log")"
    fi
    "${run[@]}" "${env[@]}" xscreensaver-command -deactivate >/dev/null 2>&1
    local gone=0
    for _ in $(seq 1 100); do
        if ! kill -0 "$pid" 2>/dev/null; then
            gone=1
            break
        fi
        sleep 0.1
    done
    [ "$gone" -eq 1 ] && ok "-deactivate ends glidescape" || bad "-deactivate ends glidescape"
    sleep 0.5
    [ -z "$(pgrep -u "$user" -x glidescape)" ] && ok "no glidescape process left" || bad "no glidescape process left"
    no_segments_of "$pid" && ok "no shared memory left" || bad "no shared memory left" "$(ipcs -m -p)"
    grep -i "glidescape" "$work/daemon.log" | grep -iv "launching\|killing\|exited normally" | head -n5 |
        while read -r line; do note "daemon: $line"; done
    shot daemon-after >/dev/null
}

for section in "${sections[@]}"; do
    if declare -F "section_$section" >/dev/null; then
        "section_$section"
    else
        bad "section $section" "no such section"
    fi
done

report_summary
