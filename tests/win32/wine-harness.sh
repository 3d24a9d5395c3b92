# wine-harness.sh - sourced by the Wine test scripts once the prefix is made
# and tests/win32/Harness.cpp is copied to C:\glide\harness.exe: the small
# verbs they drive the saver with. Uses $work (the script's temporary folder)
# and $artifacts (where screenshots go).
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

winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

# Carriage returns are dropped from the harness's output.
H() {
    wine 'C:\glide\harness.exe' "$@" >"$work/h.out" 2>"$work/h.err"
    local rc=$?
    tr -d '\r' <"$work/h.out"
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
    wine 'C:\glide\harness.exe' idle "$(winpath "$work/idle.txt")" >"$work/idle.out" 2>&1 &
    idle_pid=$!
    for _ in $(seq 1 300); do
        [ -s "$work/idle.txt" ] && break
        sleep 0.1
    done
    idle_window=$(tr -d '\r' <"$work/idle.txt" 2>/dev/null | head -n1)
    [ -n "$idle_window" ]
}
