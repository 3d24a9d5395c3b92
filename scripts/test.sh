#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs every test:
#   1. the unit tests natively (warnings as errors),
#   2. the same under AddressSanitizer + UndefinedBehaviorSanitizer (with a
#      5,000-tick soak and, natively, a few address-space limits), then the
#      threaded tests under ThreadSanitizer,
#   3. the Linux X11 saver on private Xvfb servers, with the XScreenSaver daemon,
#      then on Wayland (headless sway and weston, also under the sanitizers) and
#      under the MATE screen saver; beside them, at the lowest priority, the
#      cross builds (the Windows saver with MinGW-w64, 64-bit, and 32-bit as a
#      compile-and-link check; the web page with Emscripten) and each libFuzzer
#      target for 30 s (scripts/fuzz.sh SECONDS runs them longer),
#   4. the release files (scripts/package.sh): the Debian package checked with
#      lintian, in a scratch root and installed and removed with apt-get,
#   5. the web page tested in headless Chromium against the native renderer
#      (screenshots in build/web/artifacts/),
#   6. the Windows saver and its installer under Wine on a private Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh all

jobs=$(nproc)
for preset in default sanitize; do
    echo "=== $preset: build and unit tests ==="
    cmake --preset "$preset" -DGLIDESCAPE_WERROR=ON -DGLIDESCAPE_TESTS=ON >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs" --no-tests=error
done

echo "=== tsan: threaded tests under ThreadSanitizer ==="
cmake --preset tsan -DGLIDESCAPE_WERROR=ON -DGLIDESCAPE_TESTS=ON >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs" --no-tests=error

# The desktop suites below mostly wait on their servers (a tenth of the
# machine), so the cross builds, the page's build and the fuzzers run beside
# them at the lowest priority, which leaves the suites the CPU they ask for.
# Their output is kept and shown once they are done.
background_pids=()
background_names=()
trap 'kill "${background_pids[@]}" 2>/dev/null || true' EXIT
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
            tail -n 20 "build/$name.log"
        else
            tail -n 200 "build/$name.log"
            echo "$name FAILED (build/$name.log)"
            status=1
        fi
    done
    background_pids=()
    return $status
}
cross_builds() {
    local preset
    for preset in mingw64 mingw32 web; do
        echo "--- $preset"
        cmake --preset "$preset" -DGLIDESCAPE_WERROR=ON -DGLIDESCAPE_TESTS=ON >/dev/null
        cmake --build --preset "$preset" -j "$jobs"
    done
}
background cross-builds cross_builds
background fuzzing scripts/fuzz.sh 30

echo "=== Linux X11 saver on Xvfb ==="
ctest --test-dir build/default -L x11 --output-on-failure --no-tests=error

echo "=== Linux saver on Wayland (sway, weston) and under the MATE screen saver ==="
ctest --test-dir build/default -L 'wayland|mate' --output-on-failure --no-tests=error
ctest --test-dir build/sanitize -L wayland --output-on-failure --no-tests=error

echo "=== cross builds (MinGW-w64 64- and 32-bit, Emscripten) and fuzzing (30 s a target) ==="
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
echo "All tests passed."
