#!/usr/bin/env bash
# run-core-tests.sh - runs the core's unit tests, built with MinGW-w64, under
# Wine, so that the golden checksums (land pipeline, view tables, sky, frames)
# are checked with the Windows compiler and C runtime as well.
#
#   run-core-tests.sh ARTIFACT_DIR TEST.exe...
#
# Makes a fresh Wine prefix in a temporary folder and removes it on exit. No
# display is needed: the tests are console programs. Each program's output is
# kept in ARTIFACT_DIR/<name>.txt. Left out: the tests that compare the
# portable functions with the C library's own, since under Wine they would
# measure the Windows runtime's sin, cos and pow rather than the core.
set -u
. "$(dirname "$0")/wine-prefix.sh"

if [ $# -lt 2 ]; then
    echo "usage: $0 ARTIFACT_DIR TEST.exe..." >&2
    exit 2
fi
artifacts=$1
shift
for tool in wine wineboot wineserver; do
    if ! command -v "$tool" >/dev/null; then
        echo "run-core-tests: missing $tool (run scripts/deps.sh windows)" >&2
        exit 1
    fi
done

start_seconds=$SECONDS
work=$(mktemp -d /tmp/glidescape-core-wine.XXXXXX)
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
    end_wine_test "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$artifacts"
# Wine's background processes inherit the output streams: always files, never
# pipes, or the wineserver keeps a pipe open for ever.
if ! make_wine_prefix "$artifacts/wineboot.txt"; then
    echo "run-core-tests: wineboot failed (see $artifacts/wineboot.txt)" >&2
    exit 1
fi
echo "prefix ready after $((SECONDS - start_seconds)) s"

failed=0
for exe in "$@"; do
    name=$(basename "$exe" .exe)
    log=$artifacts/$name.txt
    began=$SECONDS
    wine "$exe" --gtest_filter='-PortableMath.*Library*' >"$log" 2>&1
    code=$?
    summary=$(grep -E '^\[  (PASSED|FAILED) ' "$log" | head -n 1)
    printf '%-12s exit %d in %3d s  %s\n' "$name" "$code" $((SECONDS - began)) "$summary"
    if [ "$code" -ne 0 ] || ! grep -q '^\[  PASSED  \]' "$log"; then
        failed=$((failed + 1))
        grep -E '^\[  FAILED  \]|Failure|Expected|Which is' "$log" | head -n 40
    fi
done
echo "core tests under Wine: $# programs, $failed failed, $((SECONDS - start_seconds)) s"
[ "$failed" -eq 0 ]
