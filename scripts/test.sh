#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs every test:
#   1. the unit tests natively (warnings as errors),
#   2. the same under AddressSanitizer + UndefinedBehaviorSanitizer (with a
#      5,000-tick soak and, natively, a few address-space limits),
#   3. the Linux X11 saver on private Xvfb servers, with the XScreenSaver daemon,
#      then on Wayland (headless sway and weston, also under the sanitizers) and
#      under the MATE screen saver; beside them, at the lowest priority, the
#      threaded tests under ThreadSanitizer and the cross builds (the Windows
#      saver with MinGW-w64, 64-bit, and 32-bit as a compile-and-link check;
#      the web page with Emscripten),
#   4. the release files (scripts/package.sh): the Debian package checked with
#      lintian, in a scratch root and installed and removed with apt-get,
#   5. the web page tested in headless Chromium against the native renderer
#      (screenshots in build/web/artifacts/),
#   6. the Windows saver and its installer under Wine on a private Xvfb,
#   7. each libFuzzer target for 30 s (scripts/fuzz.sh SECONDS runs them
#      longer), after the Wine suites: with the fuzzers' build and runs
#      beside them, even at the lowest priority, one saver start in fifty
#      took 48 s and failed its checks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh all

jobs=$(nproc)
# One preset: configure with warnings as errors and the tests, build.
build_preset() {
    cmake --preset "$1" -DGLIDESCAPE_WERROR=ON -DGLIDESCAPE_TESTS=ON >/dev/null
    cmake --build --preset "$1" -j "$jobs"
}

for preset in default sanitize; do
    echo "=== $preset: build and unit tests ==="
    build_preset "$preset"
    ctest --preset "$preset" -j "$jobs" --no-tests=error
done

# The desktop suites mostly wait on their servers (a fifth of the machine at
# most), so other stages run beside them at the lowest priority,
# which leaves the suites the processor whenever they ask for it. Their
# output is kept and shown when they are joined.
background_pids=()
background_names=()
# A stage that fails ends the script: the jobs still running beside it go
# with it, their children first.
kill_tree() {
    local child
    for child in $(pgrep -P "$1"); do kill_tree "$child"; done
    kill "$1" 2>/dev/null || true
}
trap 'for pid in "${background_pids[@]}"; do kill_tree "$pid"; done' EXIT
background() {
    local name=$1
    shift
    ( renice -n 19 -p "$BASHPID" >/dev/null && "$@" ) >"build/$name.log" 2>&1 &
    background_pids+=($!)
    background_names+=("$name")
}
join_background() {
    local i name status=0
    for i in "${!background_pids[@]}"; do
        name=${background_names[$i]}
        echo "=== $name ==="
        if wait "${background_pids[$i]}"; then
            tail -n 30 "build/$name.log"
        else
            tail -n 200 "build/$name.log"
            echo "$name FAILED (build/$name.log)"
            status=1
        fi
    done
    background_pids=()
    background_names=()
    return $status
}
tsan_tests() {
    build_preset tsan
    ctest --preset tsan -j "$jobs" --no-tests=error
}
cross_builds() {
    local preset
    for preset in mingw64 mingw32 web; do
        echo "--- $preset"
        build_preset "$preset"
    done
}

background tsan tsan_tests
background cross-builds cross_builds

echo "=== Linux X11 saver on Xvfb ==="
ctest --test-dir build/default -L x11 --output-on-failure --no-tests=error

echo "=== Linux saver on Wayland (sway, weston) and under the MATE screen saver ==="
ctest --test-dir build/default -L 'wayland|mate' --output-on-failure --no-tests=error
ctest --test-dir build/sanitize -L wayland --output-on-failure --no-tests=error

echo "=== threaded tests under ThreadSanitizer; cross builds (MinGW-w64 64- and 32-bit, Emscripten) ==="
join_background

echo "=== release files ==="
scripts/package.sh deb windows
version=$(sed -n 's/^project(Glidescape VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
bash tests/package/check-deb.sh "build/packages/glidescape_${version}_amd64.deb" "$version" \
    build/packages/artifacts

echo "=== web: the page in headless Chromium ==="
ctest --test-dir build/web -L web --output-on-failure --no-tests=error

echo "=== Windows saver under Wine ==="
ctest --test-dir build/mingw64 -L wine --output-on-failure --no-tests=error

echo "=== fuzzing: each libFuzzer target for 30 s ==="
scripts/fuzz.sh 30
echo "All tests passed."
