#!/usr/bin/env bash
# A long flight under AddressSanitizer with leak checking: TICKS timer ticks
# (default 100,000) at land size 6 with a new landscape every second, the
# resident memory printed every 10,000 ticks. Fails on a leak, a bad access or
# resident memory that grows after the first report.
#   scripts/soak.sh [TICKS]
set -euo pipefail
cd "$(dirname "$0")/.."

ticks=${1:-100000}
cmake --preset sanitize -DGLIDESCAPE_WERROR=ON -DGLIDESCAPE_TESTS=ON >/dev/null
cmake --build --preset sanitize -j "$(nproc)" --target glidescape_soak
# A small quarantine: freed memory held back for use-after-free checks would
# otherwise count as resident memory until the default 256 MB are full.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=16 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build/sanitize/tests/glidescape_soak "$ticks" 10000
