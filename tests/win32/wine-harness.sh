# wine-harness.sh - sourced by the Wine test scripts once the prefix is made
# and tests/win32/Harness.cpp is copied to C:\glide\harness.exe: the small
# verbs they drive the saver with. Uses $work (the script's temporary folder),
# $artifacts (where screenshots go) and $saver (the saver's Windows path).
#
#   winpath PATH                      a Unix path as Wine's Z: path
#   H ARGS...                         runs the harness, prints its output
#   field NAME TEXT                   the value of the "NAME value" line of TEXT
#   launch NAME TIMEOUT_MS CMDLINE    starts a program through the harness
#   exit_of NAME SECONDS              its exit code once it ended, else "running"
#   still_running NAME                true while it has not ended
#   shot NAME                         a screenshot to $artifacts/NAME.png
#   fless A B                         true when the number A < B
#   start_idle_helper                 the idle GUI process (sets idle_pid, idle_window)
#   start_preview NAME W H TAIL       the harness makes a W x H parent and starts "$saver TAIL"
#                                     with the parent's handle after it; prints the handle
#   end_preview NAME                  destroys the parent; the saver's exit code
#   start_desktop_preview NAME W H    starts "$saver /p" with the desktop window of a W x H Wine
#                                     virtual desktop named glidescape-NAME as its parent, GDI
#                                     calls traced; end_preview ends it (the saver's window gets
#                                     WM_CLOSE)
#   shot_desktop NAME DESKTOP         a screenshot of virtual desktop glidescape-DESKTOP alone
#   move_until_exit NAME MOVE...      xdotool MOVE... (a pointer move), then the ms until the
#                                     launched program NAME ended (nothing if not within 20 s)

winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

# Carriage returns are dropped from the harness's output. The harness's
# first line, "harness VERB", says it ran: now and then under load Wine
# did not start it at all, and a verb that never ran is run again, up to
# twice more (what Wine said stays in the log). A verb that ran is never repeated.
H() {
    local rc attempt
    for attempt in 1 2 3; do
        wine 'C:\glide\harness.exe' "$@" >"$work/h.out" 2>"$work/h.err"
        rc=$?
        if head -n1 "$work/h.out" | grep -q '^harness '; then
            tr -d '\r' <"$work/h.out" | tail -n +2
            return $rc
        fi
        printf "the harness did not run for '%s' (try %d, exit %d): %s\n" "$*" "$attempt" "$rc" \
            "$(tr -d '\r' <"$work/h.err" | tail -n 3 | tr '\n' ' ')" >&2
        sleep 0.5
    done
    # Never ran: whatever Wine printed, and a failure even if Wine said 0.
    tr -d '\r' <"$work/h.out"
    [ "$rc" -eq 0 ] && rc=1
    return $rc
}

field() { sed -n "s/^$1 //p" <<<"$2" | head -n1; }

# The harness records "pid N" and then "exit N" (or "timeout", or an error
# line) in $work/NAME.log; its own output goes to $work/NAME.out.
launch() {
    rm -f "$work/$1.log"
    wine 'C:\glide\harness.exe' launch "$(winpath "$work/$1.log")" "$2" "$3" \
        >"$work/$1.out" 2>&1 &
}

exit_of() {
    local deadline=$((SECONDS + $2))
    while [ $SECONDS -le $deadline ]; do
        if grep -q '^exit \|^timeout\|^error' "$work/$1.log" 2>/dev/null; then
            tr -d '\r' <"$work/$1.log" | sed -n 's/^exit //p; s/^\(timeout\|error.*\)$/\1/p' | head -n1
            return
        fi
        sleep 0.1
    done
    echo running
}

still_running() { ! grep -q '^exit \|^timeout' "$work/$1.log" 2>/dev/null; }

shot() { xwd -root -silent | convert xwd:- "$artifacts/$1.png"; }

fless() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

# One idle GUI process for a whole run: Wine's desktop process ends with the
# last GUI program, and windows cannot be made until it is back. Returns 1
# when it did not start.
start_idle_helper() {
    rm -f "$work/idle.txt"
    wine 'C:\glide\harness.exe' idle "$(winpath "$work/idle.txt")" >"$work/idle.out" 2>&1 &
    idle_pid=$!
    for _ in $(seq 1 300); do
        [ -s "$work/idle.txt" ] && break
        sleep 0.1
    done
    idle_window=$(tr -d '\r' <"$work/idle.txt" 2>/dev/null | head -n1)
    [ -n "$idle_window" ]
}

# started NAME WHAT: true once the harness NAME has started its saver. A busy
# machine can take a while to start a Wine process: up to 60 s. Otherwise
# says so; the harness's output is then in $artifacts/NAME-start.txt.
started() {
    for _ in $(seq 1 600); do
        grep -q '^pid' "$work/$1.log" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "$2 $1 did not start; its output is in $1-start.txt" >&2
    cp "$work/$1.out" "$artifacts/$1-start.txt" 2>/dev/null
    return 1
}

# Wine 8 shows nothing that a process draws into another process's window
# (into a child window, or through GetDC on the window itself): a preview's
# blits go to Wine's GDI trace in $work/NAME.out (wine-suite.sh counts them),
# and start_desktop_preview shows its picture. Prints nothing when the
# harness did not start.
start_preview() {
    rm -f "$work/$1.log" "$work/$1.log.destroy"
    WINEDEBUG=-all,+bitblt wine 'C:\glide\harness.exe' preview "$(winpath "$work/$1.log")" \
        "$2" "$3" "$saver $4" >"$work/$1.out" 2>&1 &
    started "$1" "preview harness" || return
    tr -d '\r' <"$work/$1.log" | sed -n 's/^parent //p' | head -n1
}

# The desktop window of a Wine virtual desktop is the one parent whose
# children of other processes get their own X window: a preview made there
# is seen on the screen, stretched exactly as into any other parent. The
# desktop's X window is titled "glidescape-NAME - Wine desktop"; it goes away
# with the last process on it.
start_desktop_preview() {
    rm -f "$work/$1.log" "$work/$1.log.destroy"
    WINEDEBUG=-all,+bitblt wine explorer "/desktop=glidescape-$1,$2x$3" 'C:\glide\harness.exe' \
        desktop-preview "$(winpath "$work/$1.log")" "$saver /p" >"$work/$1.out" 2>&1 &
    started "$1" "desktop preview"
}

shot_desktop() {
    local id
    id=$(xdotool search --name "^glidescape-$2 - Wine desktop\$" 2>/dev/null | head -n1)
    [ -n "$id" ] && xwd -id "$id" -silent | convert xwd:- "$artifacts/$1.png"
}

end_preview() {
    touch "$work/$1.log.destroy"
    exit_of "$1" 30
}

move_until_exit() {
    local name=$1 started
    shift
    started=$(date +%s%N)
    xdotool "$@"
    for _ in $(seq 1 2000); do
        if grep -q '^exit ' "$work/$name.log" 2>/dev/null; then
            echo $((($(date +%s%N) - started) / 1000000))
            return
        fi
        sleep 0.01
    done
}
