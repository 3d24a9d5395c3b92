#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset) and runs each for SECONDS
# (default 60), as many at once as the machine has cores, starting from its
# committed seed corpus in fuzz/corpus/.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# New inputs are kept in build/fuzz/corpus/<target>/, crashes in
# build/fuzz/findings/<target>/; the script fails when a target finds one.
# The last lines of each run (executions, speed) are printed. Extra libFuzzer
# flags come from FUZZ_FLAGS (e.g. FUZZ_FLAGS=-runs=10000000 to stop after
# that many executions).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
cmake --preset fuzz -DGLIDESCAPE_WERROR=ON >/dev/null
if [ ${#targets[@]} -eq 0 ]; then
    # Every target this machine builds (the Linux saver's needs Xlib).
    cmake --build --preset fuzz -j "$(nproc)"
    for target in fuzz_render_options fuzz_setting_text fuzz_frame_loop fuzz_x11_options; do
        if [ -x "build/fuzz/fuzz/$target" ]; then targets+=("$target"); fi
    done
else
    cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]}"
fi

# One target per core at a time; each reports when its batch is done.
run_target() {
    local target=$1 seeds=fuzz/corpus/${1#fuzz_} work=build/fuzz/corpus/$1
    local findings=build/fuzz/findings/$1 log=build/fuzz/$1.log
    mkdir -p "$work" "$findings"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "build/fuzz/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -timeout=120 -print_final_stats=1 -artifact_prefix="$findings/" ${FUZZ_FLAGS:-} \
        "$work" "$seeds" >"$log" 2>&1
}

status=0
cores=$(nproc)
for ((first = 0; first < ${#targets[@]}; first += cores)); do
    batch=("${targets[@]:first:cores}")
    pids=()
    for target in "${batch[@]}"; do
        echo "=== $target: $seconds s ==="
        run_target "$target" &
        pids+=($!)
    done
    for i in "${!batch[@]}"; do
        target=${batch[$i]}
        log=build/fuzz/$target.log
        if wait "${pids[$i]}"; then
            echo "--- $target"
            grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE' "$log" || true
        else
            echo "$target FOUND A FAULT (log: $log, inputs: build/fuzz/findings/$target)"
            tail -n 40 "$log"
            status=1
        fi
    done
done
exit $status
