#!/usr/bin/env bash
# check-pictures.sh RENDER_BIN - the README's pictures in docs/ are exactly
# what scripts/make-pictures.sh renders today, byte for byte (so they never
# show something the program no longer draws), and each stays small.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d /tmp/glidescape-pictures.XXXXXX)
trap 'rm -rf "$out"' EXIT
bash "$root/scripts/make-pictures.sh" --render "$1" --out "$out" >/dev/null || exit 1
failed=0
for picture in flight.png land-heights.png land-colours.png; do
    if ! cmp -s "$root/docs/$picture" "$out/$picture"; then
        echo "FAIL docs/$picture differs from what scripts/make-pictures.sh renders now"
        failed=$((failed + 1))
    elif [ "$(stat -c %s "$root/docs/$picture")" -gt 307200 ]; then
        echo "FAIL docs/$picture is larger than 300 KB"
        failed=$((failed + 1))
    else
        echo "ok docs/$picture"
    fi
done
echo "$((3 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
