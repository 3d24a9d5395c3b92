#!/usr/bin/env bash
# wayland-suite.sh - runs the Linux saver `glidescape` on Wayland compositors
# of its own: headless sway (layer shell: -background, -overlay, a screen
# locker's WAYLAND_SOCKET start, outputs added and removed, a compositor that
# goes away) and weston (-window, -fullscreen through xdg-shell).
#
#   wayland-suite.sh GLIDESCAPE VIRTUAL_POINTER ARTIFACT_DIR [SECTION...]
#
# Sections: cli background outputs overlay shift swayidle plugin weston
# (default: all). Needs sway, grim, wtype, swayidle, weston, Xvfb, xdotool,
# ImageMagick, python3 and util-linux (scripts/deps.sh desktops); installs
# nothing. sway refuses to run as root: as root, the compositors and the saver
# run as the user glidescape-test (made when missing), in a private runtime
# folder. Every compositor is stopped when the script ends, whatever happens.
# Screenshots and the log are kept in ARTIFACT_DIR. A saver built with
# AddressSanitizer reports leaks and errors at its exit: each saver's log is
# searched for them.
set -u

if [ $# -lt 3 ]; then
    echo "usage: $0 GLIDESCAPE VIRTUAL_POINTER ARTIFACT_DIR [SECTION...]" >&2
    exit 2
fi
saver_source=$(readlink -f "$1")
pointer_source=$(readlink -f "$2")
artifacts=$3
shift 3
sections=("$@")
[ ${#sections[@]} -eq 0 ] && sections=(cli background outputs overlay shift swayidle plugin weston)

for tool in sway swaymsg grim wtype swayidle weston weston-screenshooter Xvfb xdotool convert \
    compare python3 setpriv; do
    if ! command -v "$tool" >/dev/null; then
        echo "wayland-suite: missing $tool (run scripts/deps.sh desktops)" >&2
        exit 1
    fi
done

start_seconds=$SECONDS
work=$(mktemp -d /tmp/glidescape-wayland.XXXXXX)
chmod 755 "$work"
servers=()
children=()

. "$(dirname "$0")/../saver-common.sh"
trap end_suite EXIT
trap 'exit 130' INT TERM
start_suite_log

if ! test_user; then
    echo "wayland-suite: running as root and cannot create the user glidescape-test" >&2
    exit 1
fi
# Everything the user runs or writes lives in the work folder.
mkdir -p "$work/bin" "$work/home/.config" "$work/run" "$work/shots" "$work/logs"
cp "$saver_source" "$work/bin/glidescape"
cp "$pointer_source" "$work/bin/virtual-pointer"
chmod 755 "$work/bin" "$work/bin/"*
chmod 700 "$work/run"
if [ ${#as_user[@]} -gt 0 ]; then
    chown "$test_user" "$work/home" "$work/home/.config" "$work/run" "$work/shots" "$work/logs"
fi
saver=$work/bin/glidescape
pointer=$work/bin/virtual-pointer
# No X display unless a section makes one.
unset DISPLAY WAYLAND_DISPLAY WAYLAND_SOCKET SWAYSOCK
run=$work/run

# user_env [VAR=VALUE...] COMMAND...: runs a command as the test user with a
# clean environment: this suite's runtime folder, home and settings (none),
# the current compositor, and the sanitizers' options for the saver.
# user_exec: the same in place of the shell that calls it, so that
# `user_exec COMMAND &` leaves the command's own process id in $!.
user_env() { (user_exec "$@"); }
user_exec() {
    exec "${as_user[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/home" \
        XDG_RUNTIME_DIR="$run" XDG_CONFIG_HOME="$work/home/.config" \
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ${WAYLAND_DISPLAY:+WAYLAND_DISPLAY=$WAYLAND_DISPLAY} ${SWAYSOCK:+SWAYSOCK=$SWAYSOCK} \
        ${DISPLAY:+DISPLAY=$DISPLAY} "$@"
}

# run_saver NAME ARGS...: starts the saver on the current compositor; sets
# saver_pid and saver_log.
run_saver() {
    saver_log="$work/logs/$1.log"
    shift
    user_exec "$saver" "$@" >"$saver_log" 2>&1 &
    saver_pid=$!
    children+=("$saver_pid")
}

# ended_by PID NAME: expects the saver to end with 0 within 20 s; one that
# runs on is stopped, so that it cannot cover the next one's outputs.
ended_by() {
    wait_exit "$1" 20
    [ "$exit_code" == running ] && kill -KILL "$1" 2>/dev/null
    expect "$2" "$exit_code" 0
}

# sanitizer_clean LOG: no AddressSanitizer, LeakSanitizer or UBSan report.
sanitizer_clean() {
    if grep -q -E 'ERROR: [A-Za-z]*Sanitizer|Sanitizer has encountered|runtime error:' "$1"; then
        bad "no sanitizer report" "$(grep -m3 -E 'Sanitizer|runtime error' "$1")"
    fi
}

# shot NAME [OUTPUT]: a screenshot of every output (or one) of the current
# sway; its path on stdout.
shot() {
    local file="$work/shots/$1.png"
    rm -f "$file"
    if [ $# -gt 1 ]; then user_env grim -o "$2" "$file"; else user_env grim "$file"; fi
    cp "$file" "$artifacts/$1.png" 2>/dev/null
    echo "$artifacts/$1.png"
}

# wait_landscape NAME SECONDS [OUTPUT]: screenshots until one shows a
# landscape; its path in $landscape_shot, false after SECONDS.
wait_landscape() {
    local name=$1 limit=$2 output=${3:-}
    local start=$SECONDS
    while [ $((SECONDS - start)) -lt "$limit" ]; do
        landscape_shot=$(shot "$name" $output)
        is_landscape "$landscape_shot" && return 0
        sleep 0.5
    done
    return 1
}

# flying NAME OUTPUT: two screenshots of an output a second apart show two
# different landscapes (the camera moves).
flying() {
    local first second
    first=$(shot "$1-a" "$2")
    sleep 1
    second=$(shot "$1-b" "$2")
    is_landscape "$first" && is_landscape "$second" &&
        [ "$(differing_pixels "$first" "$second")" != 0 ]
}

# --- Compositors ----------------------------------------------------------------------------
# new_socket BEFORE: the Wayland socket in the runtime folder that is not in BEFORE.
new_socket() {
    local socket
    for _ in $(seq 1 100); do
        for socket in "$run"/wayland-*; do
            [[ "$socket" == *.lock ]] && continue
            [ -S "$socket" ] || continue
            [[ " $1 " == *" $(basename "$socket") "* ]] || { basename "$socket"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

sockets() { (cd "$run" && ls wayland-* 2>/dev/null | grep -v '\.lock$' | tr '\n' ' '); }

# start_sway: a headless sway with the outputs HEADLESS-1 and HEADLESS-2
# (640x480 side by side; a third, added later, is 480x360); sets
# WAYLAND_DISPLAY, SWAYSOCK and sway_pid.
start_sway() {
    cat >"$work/sway.conf" <<EOF
xwayland disable
output HEADLESS-1 resolution 640x480 position 0 0
output HEADLESS-2 resolution 640x480 position 640 0
output HEADLESS-3 resolution 480x360 position 1280 0
EOF
    chmod 644 "$work/sway.conf"
    local before
    before=$(sockets)
    unset WAYLAND_DISPLAY SWAYSOCK
    user_exec WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=2 WLR_LIBINPUT_NO_DEVICES=1 \
        WLR_RENDERER=pixman sway -c "$work/sway.conf" >"$work/logs/sway.log" 2>&1 &
    sway_pid=$!
    servers+=("$sway_pid")
    if ! WAYLAND_DISPLAY=$(new_socket "$before"); then
        echo "wayland-suite: sway did not start" >&2
        cat "$work/logs/sway.log" >&2
        exit 1
    fi
    export WAYLAND_DISPLAY
    export SWAYSOCK="$run/sway-ipc.$(id -u "$test_user").$sway_pid.sock"
    for _ in $(seq 1 50); do
        [ -S "$SWAYSOCK" ] && break
        sleep 0.1
    done
    note "sway on $WAYLAND_DISPLAY: $(user_env swaymsg -t get_outputs -r | python3 -c '
import json, sys
print(", ".join("%s %dx%d" % (o["name"], o["rect"]["width"], o["rect"]["height"]) for o in json.load(sys.stdin)))')"
}

stop_sway() {
    kill "$sway_pid" 2>/dev/null
    wait "$sway_pid" 2>/dev/null
    unset WAYLAND_DISPLAY SWAYSOCK
}

ensure_sway() {
    if [ -z "${sway_pid:-}" ] || ! alive "$sway_pid"; then start_sway; fi
}

# --- Sections -------------------------------------------------------------------------------
section_cli() {
    note "command line: the window system"
    local out code
    out=$("$saver" -help)
    [[ "$out" == *"-background"* && "$out" == *"-overlay"* && "$out" == *"-wayland"* ]] &&
        ok "-help names the Wayland modes" || bad "-help names the Wayland modes" "$out"
    mkdir -p "$work/empty"
    out=$(XDG_RUNTIME_DIR="$work/empty" "$saver" -background 2>&1)
    code=$?
    [ "$code" -eq 1 ] && [ "$(grep -c . <<<"$out")" -eq 1 ] && [[ "$out" == *Wayland* ]] &&
        ok "-background without a compositor: exit 1, one line: $out" ||
        bad "-background without a compositor: exit 1, one line" "exit $code: $out"
    out=$("$saver" -x11 -overlay 2>&1)
    code=$?
    [ "$code" -eq 2 ] && [[ "$out" == *"-overlay"* ]] && ok "-x11 -overlay: exit 2: $out" ||
        bad "-x11 -overlay: exit 2" "exit $code: $out"
    out=$("$saver" -wayland -root 2>&1)
    code=$?
    [ "$code" -eq 2 ] && [[ "$out" == *"-root"* ]] && ok "-wayland -root: exit 2: $out" ||
        bad "-wayland -root: exit 2" "exit $code: $out"
}

section_background() {
    note "-background: a live wallpaper on every output"
    ensure_sway
    run_saver background -background -land-size 8 -tick-stats
    local pid=$saver_pid one two
    if wait_landscape background-HEADLESS-1 60 HEADLESS-1 && one=$landscape_shot &&
        wait_landscape background-HEADLESS-2 30 HEADLESS-2 && two=$landscape_shot; then
        ok "a landscape on each output ($(colours "$one") and $(colours "$two") colours)"
        local differ
        differ=$(differing_pixels "$one" "$two")
        # Other seeds give other land: most of the pictures differ.
        [ "${differ%.*}" -gt 153600 ] && ok "the two outputs fly different landscapes ($differ of 307200 pixels differ)" ||
            bad "the two outputs fly different landscapes" "$differ pixels differ"
    else
        bad "a landscape on each output" "$(cat "$saver_log")"
    fi
    shot background-both >/dev/null
    user_env wtype -s 500 a
    user_env "$pointer" click
    user_env "$pointer" move 20 10 3 50
    sleep 0.5
    alive "$pid" && ok "keys, clicks and motion pass it by" || bad "keys, clicks and motion pass it by"
    flying background-flying HEADLESS-1 && ok "HEADLESS-1 flies on" || bad "HEADLESS-1 flies on"

    user_env swaymsg create_output >/dev/null
    if wait_landscape background-HEADLESS-3 60 HEADLESS-3; then
        ok "an output added later gets a landscape of its own ($(colours "$landscape_shot") colours)"
    else
        bad "an output added later gets a landscape of its own" "$(cat "$saver_log")"
    fi
    stop_process "$pid"
    expect "SIGTERM ends it with 0" "$exit_code" 0
    grep -q '^glidescape: HEADLESS-3: [1-9][0-9]* frame ticks at 480x360' "$saver_log" &&
        ok "HEADLESS-3 flew at its size: $(grep HEADLESS-3 "$saver_log")" ||
        bad "HEADLESS-3 flew at its size" "$(cat "$saver_log")"
    sanitizer_clean "$saver_log"
    # The next sections start from two outputs again.
    stop_sway
}

section_outputs() {
    note "outputs removed, and a compositor that goes away (sway nested in sway)"
    ensure_sway
    # The nested sway's outputs are windows of the outer one: closing a
    # window unplugs that output.
    local outer_display=$WAYLAND_DISPLAY outer_sock=$SWAYSOCK before
    before=$(sockets)
    user_exec WLR_BACKENDS=wayland WLR_WL_OUTPUTS=2 WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        sway -c "$work/sway.conf" >"$work/logs/nested-sway.log" 2>&1 &
    local nested=$!
    servers+=("$nested")
    local inner
    if ! inner=$(new_socket "$before"); then
        bad "nested sway starts" "$(cat "$work/logs/nested-sway.log")"
        return
    fi
    WAYLAND_DISPLAY=$inner SWAYSOCK="$run/sway-ipc.$(id -u "$test_user").$nested.sock"
    run_saver outputs -background -land-size 8 -tick-stats
    local pid=$saver_pid log=$saver_log
    if wait_landscape outputs-WL-1 60 WL-1 && wait_landscape outputs-WL-2 30 WL-2; then
        ok "a landscape on WL-1 and WL-2"
    else
        bad "a landscape on WL-1 and WL-2" "$(cat "$saver_log")"
    fi
    WAYLAND_DISPLAY=$outer_display SWAYSOCK=$outer_sock user_env swaymsg '[title="WL-2"] kill' >/dev/null
    local remaining=""
    for _ in $(seq 1 50); do
        remaining=$(user_env swaymsg -t get_outputs -r | python3 -c 'import json,sys; print(" ".join(o["name"] for o in json.load(sys.stdin)))')
        [ "$remaining" == "WL-1" ] && break
        sleep 0.1
    done
    expect "WL-2 is unplugged" "$remaining" "WL-1"
    sleep 1
    alive "$pid" && ok "the saver runs on" || bad "the saver runs on" "$(cat "$saver_log")"
    # WL-1 took the whole outer output: a new size for its flight.
    flying outputs-WL-1-alone WL-1 && ok "WL-1 flies on at its new size" || bad "WL-1 flies on at its new size"

    # The tick statistics are said at a normal end; a lost compositor is
    # not one, so a second saver gives them.
    run_saver outputs-stats -background -land-size 6 -tick-stats
    local stats=$saver_pid
    sleep 3
    stop_process "$stats"
    expect "SIGTERM ends the second saver with 0" "$exit_code" 0
    [ "$(grep -c 'frame ticks' "$saver_log")" -eq 1 ] && grep -q '^glidescape: WL-1: ' "$saver_log" &&
        ok "one flight, on WL-1: $(cat "$saver_log")" || bad "one flight, on WL-1" "$(cat "$saver_log")"

    kill "$nested"
    wait_exit "$pid" 20
    [ "$exit_code" != running ] && [ "$exit_code" -ne 0 ] && ok "a lost compositor ends it with $exit_code" ||
        bad "a lost compositor ends it with a non-zero exit" "$exit_code"
    local said
    said=$(cat "$log")
    [ "$(grep -c . <<<"$said")" -eq 1 ] && [[ "$said" == *"lost the connection"* ]] &&
        ok "... with one line: $said" || bad "... with one line" "$said"
    WAYLAND_DISPLAY=$outer_display SWAYSOCK=$outer_sock
    stop_sway
}

section_overlay() {
    note "-overlay: a screen saver over every output"
    ensure_sway
    run_saver overlay -overlay -land-size 8
    local pid=$saver_pid
    if wait_landscape overlay-HEADLESS-1 60 HEADLESS-1 && wait_landscape overlay-HEADLESS-2 30 HEADLESS-2; then
        ok "a landscape on each output"
    else
        bad "a landscape on each output" "$(cat "$saver_log")"
    fi
    user_env wtype -s 500 a
    ended_by "$pid" "a key ends it with 0"
    sanitizer_clean "$saver_log"

    run_saver overlay-drift -overlay -land-size 6
    pid=$saver_pid
    sleep 1.5
    # The first motion tells where the pointer is; three more pixels then
    # are a drift of 3.
    user_env "$pointer" move 1 0 4 150
    sleep 0.5
    alive "$pid" && ok "a pointer drift of 3 pixels does not end it" || bad "a pointer drift of 3 pixels does not end it"
    user_env "$pointer" move 1 0 2 150
    ended_by "$pid" "a drift of 5 pixels ends it with 0"
    sanitizer_clean "$saver_log"

    run_saver overlay-click -overlay -land-size 6
    pid=$saver_pid
    sleep 1.5
    user_env "$pointer" click
    ended_by "$pid" "a click ends it with 0"
    sanitizer_clean "$saver_log"
}

section_shift() {
    note "Shift aborts the landscape under way"
    ensure_sway
    # The largest land takes seconds; wtype's Shift is a modifier only (no
    # key press), so the overlay stays.
    run_saver shift -overlay -land-size 12 -tick-stats
    local pid=$saver_pid progress count=0 start=$SECONDS
    while [ $((SECONDS - start)) -lt 30 ]; do
        progress=$(shot shift-progress HEADLESS-1)
        convert "$progress" -crop 420x100+0+0 +repage "$work/progress.png"
        count=$(colours "$work/progress.png")
        [ "$count" -gt 2 ] && break
        sleep 0.3
    done
    [ "$count" -gt 2 ] && [ "$count" -lt 300 ] && ok "progress texts drawn ($count colours)" ||
        bad "progress texts drawn" "$count colours"
    user_env wtype -s 500 -M shift -s 500 -m shift
    sleep 4
    # The land as far as it was made: heights without colours yet, say.
    shot shift-aborted HEADLESS-1 >/dev/null
    alive "$pid" && ok "Shift alone does not end it" || bad "Shift alone does not end it"
    stop_process "$pid"
    expect "SIGTERM ends it with 0" "$exit_code" 0
    local ticks
    ticks=$(sed -n 's/^glidescape: HEADLESS-1: \([0-9]*\) frame ticks.*/\1/p' "$saver_log")
    [ "${ticks:-0}" -ge 25 ] && ok "flies on over the aborted land ($ticks frames)" ||
        bad "flies on over the aborted land" "$(cat "$saver_log")"
}

section_swayidle() {
    note "swayidle starts -overlay when the seat is idle"
    ensure_sway
    # Without input devices the seat is idle at once. Without -w, swayidle
    # goes on watching while the saver runs.
    user_exec swayidle timeout 1 "$saver -overlay -land-size 6" >"$work/logs/swayidle.log" 2>&1 &
    local idle=$! pid=""
    children+=("$idle")
    for _ in $(seq 1 100); do
        pid=$(pgrep -f "^$saver -overlay -land-size 6" | head -n1)
        [ -n "$pid" ] && break
        sleep 0.1
    done
    [ -n "$pid" ] && children+=("$pid")
    [ -n "$pid" ] && ok "swayidle started the saver" || bad "swayidle started the saver" "$(cat "$work/logs/swayidle.log")"
    # Stopped first: the key would start a new idle period.
    kill "$idle"
    wait "$idle" 2>/dev/null
    [ -n "$pid" ] || return
    sleep 1
    user_env wtype -s 500 a
    for _ in $(seq 1 100); do
        alive "$pid" || break
        sleep 0.1
    done
    if alive "$pid"; then
        kill -KILL "$pid"
        bad "a key ends the saver swayidle started"
    else
        ok "a key ends the saver swayidle started"
    fi
}

section_plugin() {
    note "a screen locker's start: the connection in WAYLAND_SOCKET, no options"
    ensure_sway
    # The connection is made here and handed over as an inherited file
    # descriptor, as a locker does; WAYLAND_DISPLAY is not set for the saver.
    cat >"$work/handover.py" <<'EOF'
import os, socket, sys
path = os.path.join(os.environ["XDG_RUNTIME_DIR"], os.environ.pop("WAYLAND_DISPLAY"))
connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
connection.connect(path)
fd = connection.detach()
os.set_inheritable(fd, True)
os.environ["WAYLAND_SOCKET"] = str(fd)
os.execv(sys.argv[1], sys.argv[1:])
EOF
    chmod 644 "$work/handover.py"
    saver_log="$work/logs/plugin.log"
    user_exec python3 "$work/handover.py" "$saver" -land-size 8 -tick-stats >"$saver_log" 2>&1 &
    local pid=$!
    children+=("$pid")
    if wait_landscape plugin-HEADLESS-1 60 HEADLESS-1 && wait_landscape plugin-HEADLESS-2 30 HEADLESS-2; then
        ok "a landscape on every output"
    else
        bad "a landscape on every output" "$(cat "$saver_log")"
    fi
    shot plugin-both >/dev/null
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -q '^WAYLAND_DISPLAY=' &&
        bad "started without WAYLAND_DISPLAY" || ok "started without WAYLAND_DISPLAY"
    user_env wtype -s 500 a
    user_env "$pointer" move 30 0 3 50
    sleep 0.5
    alive "$pid" && ok "input does not end it" || bad "input does not end it"
    stop_process "$pid"
    expect "SIGTERM ends it with 0" "$exit_code" 0
    [ "$(grep -c 'frame ticks' "$saver_log")" -eq 2 ] && ok "two flights flew" ||
        bad "two flights flew" "$(cat "$saver_log")"
    sanitizer_clean "$saver_log"
}

# start_weston NAME ARGS...: weston with the pixman renderer; sets
# WAYLAND_DISPLAY and weston_pid.
start_weston() {
    local name=$1
    shift
    user_exec weston --use-pixman --socket="$name" --idle-time=0 --debug "$@" \
        >"$work/logs/$name.log" 2>&1 &
    weston_pid=$!
    servers+=("$weston_pid")
    for _ in $(seq 1 100); do
        [ -S "$run/$name" ] && break
        sleep 0.1
    done
    [ -S "$run/$name" ] || { bad "weston starts" "$(cat "$work/logs/$name.log")"; return 1; }
    export WAYLAND_DISPLAY=$name
    unset SWAYSOCK
    sleep 1  # its shell and panel
}

# weston_shot NAME: weston-screenshooter's picture, without its alpha.
weston_shot() {
    local taken
    rm -f "$work/shots"/wayland-screenshot-*.png "$artifacts/$1.png"
    (cd "$work/shots" && user_env weston-screenshooter >/dev/null 2>&1)
    taken=$(ls "$work/shots"/wayland-screenshot-*.png 2>/dev/null | head -n1)
    [ -n "$taken" ] && convert "$taken" -alpha off "$artifacts/$1.png" 2>/dev/null
    echo "$artifacts/$1.png"
}

section_weston() {
    note "weston: -window and -fullscreen through xdg-shell"
    stop_sway 2>/dev/null
    # Headless: the window shows a landscape.
    start_weston gs-weston --backend=headless-backend.so --width=640 --height=480 || return
    run_saver weston-window -window -geometry 480x360 -land-size 8 -tick-stats
    local pid=$saver_pid shot_path start=$SECONDS found=0
    while [ $((SECONDS - start)) -lt 60 ]; do
        shot_path=$(weston_shot weston-window)
        if [ -f "$shot_path" ] && is_landscape "$shot_path"; then found=1; break; fi
        sleep 0.5
    done
    [ "$found" -eq 1 ] && ok "headless weston: the window shows a landscape ($(colours "$shot_path") colours)" ||
        bad "headless weston: the window shows a landscape" "$(cat "$saver_log")"
    stop_process "$pid"
    expect "SIGTERM ends it with 0" "$exit_code" 0
    grep -q '^glidescape: window: [1-9][0-9]* frame ticks at 480x360' "$saver_log" &&
        ok "flew at 480x360: $(cat "$saver_log")" || bad "flew at 480x360" "$(cat "$saver_log")"

    # On battery ("On Battery" 1, the default), from a power supply folder
    # that says so: one frame a tick, no frames in between (-timing log).
    mkdir -p "$work/supply/AC" "$work/supply/BAT0"
    echo Mains >"$work/supply/AC/type"
    echo 0 >"$work/supply/AC/online"
    echo Battery >"$work/supply/BAT0/type"
    echo Discharging >"$work/supply/BAT0/status"
    local timing="$work/logs/weston-battery.timing"
    saver_log="$work/logs/weston-battery.log"
    user_exec env GLIDESCAPE_POWER_SUPPLY_DIR="$work/supply" "$saver" -window -geometry 480x360 \
        -land-size 8 -smooth -timing "$timing" >"$saver_log" 2>&1 &
    pid=$!
    children+=("$pid")
    start=$SECONDS
    while [ $((SECONDS - start)) -lt 60 ] && ! grep -q '^[0-9]' "$timing" 2>/dev/null; do sleep 0.5; done
    sleep 3
    stop_process "$pid"
    expect "on battery: SIGTERM ends it with 0" "$exit_code" 0
    cp "$timing" "$artifacts/weston-battery-timing.txt" 2>/dev/null
    grep -q '^# pacing timer .* smooth 0 drawing 1' "$timing" 2>/dev/null &&
        ok "on battery: no frames in between" || bad "on battery: no frames in between" "$(grep '^#' "$timing" 2>&1)"
    [ "$(grep -c '^[0-9]' "$timing" 2>/dev/null)" -gt 20 ] &&
        awk '!/^#/ { if (seen && $2 <= last) exit 1; if (!seen) first = $2; last = $2; seen = 1; n++ } END { exit !(seen && n >= 0.9 * (last - first + 1)) }' "$timing" &&
        ok "on battery: one frame per tick ($(grep -c '^[0-9]' "$timing") frames)" ||
        bad "on battery: one frame per tick" "$(tail -n5 "$timing" 2>&1)"
    sanitizer_clean "$saver_log"
    kill "$weston_pid"
    wait "$weston_pid" 2>/dev/null

    # Weston's headless backend has no input devices: keys come through its
    # X11 backend on Xvfb, from xdotool.
    local display_file="$work/display"
    : >"$display_file"
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -ac 3>"$display_file" \
        >"$work/logs/xvfb.log" 2>&1 &
    servers+=($!)
    for _ in $(seq 1 100); do
        [ -s "$display_file" ] && break
        sleep 0.1
    done
    local x_display=":$(head -n1 "$display_file")"
    DISPLAY=$x_display start_weston gs-weston-x11 --backend=x11-backend.so --width=640 --height=480 ||
        return
    # The pointer in weston's X window gives it the keyboard (no X window
    # manager: focus follows the pointer), in a corner away from our window.
    DISPLAY=$x_display xdotool mousemove 5 470
    run_saver weston-fullscreen -fullscreen -land-size 8
    pid=$saver_pid
    found=0
    start=$SECONDS
    while [ $((SECONDS - start)) -lt 60 ]; do
        shot_path=$(weston_shot weston-fullscreen)
        if [ -f "$shot_path" ] && is_landscape "$shot_path"; then found=1; break; fi
        sleep 0.5
    done
    [ "$found" -eq 1 ] && ok "-fullscreen fills the output with a landscape" ||
        bad "-fullscreen fills the output with a landscape" "$(cat "$saver_log")"
    # Full screen: weston's panel is covered too.
    local top
    top=$(convert "$shot_path" -crop 640x30+0+0 +repage -format '%k' info: 2>/dev/null)
    [ "${top:-0}" -gt 100 ] && ok "... over weston's panel ($top colours in the top rows)" ||
        bad "... over weston's panel" "$top colours in the top rows"
    DISPLAY=$x_display xdotool key a
    ended_by "$pid" "-fullscreen: a key ends it with 0"
    sanitizer_clean "$saver_log"

    run_saver weston-window-key -window -geometry 320x240 -land-size 6
    pid=$saver_pid
    sleep 2
    DISPLAY=$x_display xdotool key a
    ended_by "$pid" "-window: a key ends it with 0"
    kill "$weston_pid"
    wait "$weston_pid" 2>/dev/null
}

for section in "${sections[@]}"; do
    if declare -F "section_$section" >/dev/null; then
        "section_$section"
    else
        bad "section $section" "no such section"
    fi
done
cp "$work/logs/"*.log "$artifacts/" 2>/dev/null

report_summary
