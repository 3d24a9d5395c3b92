# saver-common.sh - sourced by the Linux saver's desktop suites
# (tests/wayland/wayland-suite.sh, tests/x11/mate-suite.sh): reporting,
# waiting for processes, telling a landscape from a black or progress screen,
# and the unprivileged user that compositors and screen savers insist on.
#
# Needs $start_seconds (and for end_suite $work, $children and $servers) set
# by the suite. Counts come from tests/report.sh.
. "$(dirname "${BASH_SOURCE[0]}")/report.sh"

note() { printf '[%4ds] %s\n' $((SECONDS - start_seconds)) "$*"; }

# end_suite (the suites' EXIT trap): ends what the suite started, the pids in
# $children, then those in $servers (each waited for), and removes $work. A
# suite with more to end defines suite_extra_cleanup, which runs first.
end_suite() {
    set +e
    if declare -F suite_extra_cleanup >/dev/null; then suite_extra_cleanup; fi
    for pid in "${children[@]}"; do kill "$pid" >/dev/null 2>&1; done
    for pid in "${servers[@]}"; do
        kill "$pid" >/dev/null 2>&1
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}

# start_suite_log: a fresh $artifacts, everything the suite prints also
# going to $artifacts/suite.log.
start_suite_log() {
    mkdir -p "$artifacts"
    rm -f "$artifacts"/*.png "$artifacts"/*.txt "$artifacts"/*.log
    exec > >(tee "$artifacts/suite.log") 2>&1
}

alive() { kill -0 "$1" 2>/dev/null; }

# wait_exit PID SECONDS: sets exit_code to the process's exit code, or to
# "running" when it still runs after SECONDS. (Not in a subshell: only this
# shell can wait for its children.)
wait_exit() {
    local pid=$1 limit=$(($2 * 10))
    exit_code=running
    for _ in $(seq 1 "$limit"); do
        if ! alive "$pid"; then
            wait "$pid"
            exit_code=$?
            return
        fi
        sleep 0.1
    done
}

# stop_process PID: SIGTERM, then wait_exit (20 s).
stop_process() {
    kill -TERM "$1" 2>/dev/null
    wait_exit "$1" 20
}

colours() { convert "$1" -alpha off -format '%k' info: 2>/dev/null || echo 0; }

# A landscape has thousands of colours; black has one and the progress
# screen a handful.
is_landscape() { [ "$(colours "$1")" -gt 1500 ]; }

# Pixels that differ between two pictures of the same size.
differing_pixels() {
    compare -metric AE "$1" "$2" null: 2>&1 | sed 's/[^0-9.e+].*//'
}

# test_user: the user to run a program as when this runs as root (sets
# test_user and as_user; made when missing), else this user with as_user
# empty. False when no such user can be had.
test_user() {
    as_user=()
    if [ "$(id -u)" -ne 0 ]; then
        test_user=$(id -un)
        return 0
    fi
    test_user=glidescape-test
    if ! id "$test_user" >/dev/null 2>&1; then
        useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
            "$test_user" || return 1
    fi
    as_user=(setpriv "--reuid=$(id -u "$test_user")" "--regid=$(id -g "$test_user")" --clear-groups)
}
