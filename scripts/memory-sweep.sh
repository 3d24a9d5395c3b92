#!/usr/bin/env bash
# Runs glidescape-render under address-space limits (prlimit --as) and checks
# that every run either succeeds with exactly the pictures and maps of an
# unlimited run, or exits 1 with one line on stderr. Nothing else (a crash,
# an abort, a different picture, a silent failure, a partial or temporary file
# left behind) is allowed.
#
#   scripts/memory-sweep.sh [--quick] [RENDERER]
#
# The full sweep goes from 16 MB to 600 MB in steps of 16 MB at land sizes 10
# and 12, with the default frame and the 3000-column frame of a 1920 x 1080
# screen. --quick checks a few points at land size 10 (the test command runs
# that). RENDERER defaults to build/default/render/glidescape-render.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
if [ "${1:-}" = "--quick" ]; then
    quick=1
    shift
fi
renderer=${1:-build/default/render/glidescape-render}
command -v prlimit >/dev/null || { echo "memory-sweep: prlimit missing (util-linux)" >&2; exit 1; }
[ -x "$renderer" ] || { echo "memory-sweep: no renderer at $renderer" >&2; exit 1; }

work=$(mktemp -d /tmp/glidescape-memory.XXXXXX)
trap 'rm -rf "$work"' EXIT

if [ $quick = 1 ]; then
    configs=("10|" "10|--output-width 3000 --client 1920x1080")
    limits_mb=(16 24 32 40 64 128)
else
    configs=("10|" "10|--output-width 3000 --client 1920x1080"
             "12|" "12|--output-width 3000 --client 1920x1080")
    limits_mb=($(seq 16 16 600))
fi

# complete_or_absent REF RUN: every output a refused run left (an earlier
# one, written before the failure) is whole, and no temporary file is left.
complete_or_absent() {
    local file
    for file in $(ls -A "$2"); do
        [ "$file" = err ] && continue
        cmp -s "$1/$file" "$2/$file" || return 1
    done
}

failures=0
for config in "${configs[@]}"; do
    size=${config%%|*}
    # shellcheck disable=SC2206
    frame=(${config#*|})
    args=(--land-size "$size" "${frame[@]}" --ticks 3 --land-seed 1 --view-seed 2)
    name="land $size${frame[*]:+ ${frame[*]}}"
    ref=$work/ref
    mkdir -p "$ref"
    "$renderer" "${args[@]}" --frame-out "$ref/f.png" --heights-out "$ref/h.raw" \
        --colours-out "$ref/c.raw" 2>"$ref/err"
    ok=0
    refused=0
    for mb in "${limits_mb[@]}"; do
        run=$work/run
        rm -rf "$run"
        mkdir -p "$run"
        set +e
        prlimit --as=$((mb * 1024 * 1024)) "$renderer" "${args[@]}" --frame-out "$run/f.png" \
            --heights-out "$run/h.raw" --colours-out "$run/c.raw" 2>"$run/err"
        code=$?
        set -e
        lines=$(wc -l <"$run/err")
        if [ $code = 0 ] && cmp -s "$ref/f.png" "$run/f.png" && cmp -s "$ref/h.raw" "$run/h.raw" &&
            cmp -s "$ref/c.raw" "$run/c.raw" && [ "$lines" = 0 ]; then
            ok=$((ok + 1))
        elif [ $code = 1 ] && [ "$lines" = 1 ] && grep -q '^glidescape-render: ' "$run/err" &&
            complete_or_absent "$ref" "$run"; then
            refused=$((refused + 1))
            printf '  %-48s %4d MB: exit 1: %s\n' "$name" "$mb" "$(cat "$run/err")"
        else
            failures=$((failures + 1))
            printf 'FAIL %-48s %4d MB: exit %d, %s stderr lines:\n' "$name" "$mb" "$code" "$lines"
            head -n 5 "$run/err"
        fi
    done
    printf '%s: %d limits gave the unlimited run'"'"'s output, %d a one-line refusal\n' \
        "$name" "$ok" "$refused"
done
if [ $failures != 0 ]; then
    echo "memory-sweep: $failures runs neither matched nor failed cleanly"
    exit 1
fi
echo "memory-sweep: every run matched or failed cleanly"
