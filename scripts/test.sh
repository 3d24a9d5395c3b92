#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs every test:
#   1. the unit tests natively (warnings as errors),
#   2. the same under AddressSanitizer + UndefinedBehaviorSanitizer (with a
#      5,000-tick soak and, natively, a few address-space limits), the
#      threaded tests under ThreadSanitizer, then each libFuzzer target for
#      30 s (scripts/fuzz.sh SECONDS runs them longer),
#   3. the Linux X11 saver on private Xvfb servers, with the XScreenSaver daemon,
#      then on Wayland (headless sway and weston, also under the sanitizers) and
#      under the MATE screen saver,
#   4. the Windows saver cross-built with MinGW-w64 (64-bit, and 32-bit as a
#      compile-and-link check),
#   5. the release files (scripts/package.sh): the Debian package checked with
#      lintian, in a scratch root and installed and removed with apt-get,
#   6. the web page built with Emscripten and tested in headless Chromium
#      against the native renderer (screenshots in build/web/artifacts/),
#   7. the Windows saver and its installer under Wine on a private Xvfb.
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

echo "=== fuzzing: each libFuzzer target for 30 s ==="
scripts/fuzz.sh 30

echo "=== Linux X11 saver on Xvfb ==="
ctest --test-dir build/default -L x11 --output-on-failure --no-tests=error

echo "=== Linux saver on Wayland (sway, weston) and under the MATE screen saver ==="
ctest --test-dir build/default -L 'wayland|mate' --output-on-failure --no-tests=error
ctest --test-dir build/sanitize -L wayland --output-on-failure --no-tests=error

for preset in mingw64 mingw32; do
    echo "=== $preset: cross build ==="
    cmake --preset "$preset" -DGLIDESCAPE_WERROR=ON -DGLIDESCAPE_TESTS=ON >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done
echo "=== release files ==="
scripts/package.sh deb windows
version=$(sed -n 's/^project(Glidescape VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
bash tests/package/check-deb.sh "build/packages/glidescape_${version}_amd64.deb" "$version" \
    build/packages/artifacts

echo "=== web: the page in headless Chromium ==="
cmake --preset web -DGLIDESCAPE_WERROR=ON -DGLIDESCAPE_TESTS=ON >/dev/null
cmake --build --preset web -j "$jobs"
ctest --test-dir build/web -L web --output-on-failure --no-tests=error

echo "=== Windows saver under Wine ==="
ctest --test-dir build/mingw64 -L wine --output-on-failure --no-tests=error
echo "All tests passed."
