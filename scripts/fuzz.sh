#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset) and runs each for SECONDS
# (default 60), starting from its committed seed corpus in fuzz/corpus/.
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

status=0
for target in "${targets[@]}"; do
    seeds=fuzz/corpus/${target#fuzz_}
    work=build/fuzz/corpus/$target
    findings=build/fuzz/findings/$target
    mkdir -p "$work" "$findings"
    log=build/fuzz/$target.log
    echo "=== $target: $seconds s ==="
    if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "build/fuzz/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -timeout=120 -print_final_stats=1 -artifact_prefix="$findings/" ${FUZZ_FLAGS:-} \
        "$work" "$seeds" >"$log" 2>&1; then
        grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE' "$log" || true
    else
        echo "$target FOUND A FAULT (log: $log, inputs: $findings)"
        tail -n 40 "$log"
        status=1
    fi
done
exit $status
