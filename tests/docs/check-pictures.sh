#!/usr/bin/env bash
# check-pictures.sh RENDER_BIN - the README's pictures in docs/ are exactly
# what scripts/make-pictures.sh renders today (so they never show something
# the program no longer draws), and each stays small: the stills byte for
# byte, the animation frame by frame (decoded by Pillow, against the frames
# rendered now, since another libwebp may pack the same frames otherwise).
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d /tmp/glidescape-pictures.XXXXXX)
trap 'rm -rf "$out"' EXIT
bash "$root/scripts/make-pictures.sh" --render "$1" --out "$out" --keep-frames >/dev/null || exit 1
failed=0
passed=0
for picture in flight.png land-heights.png land-colours.png; do
    if ! cmp -s "$root/docs/$picture" "$out/$picture"; then
        echo "FAIL docs/$picture differs from what scripts/make-pictures.sh renders now"
        failed=$((failed + 1))
    elif [ "$(stat -c %s "$root/docs/$picture")" -gt 307200 ]; then
        echo "FAIL docs/$picture is larger than 300 KB"
        failed=$((failed + 1))
    else
        echo "ok docs/$picture"
        passed=$((passed + 1))
    fi
done
# Debian's Python, which has Pillow (python3-pil), whatever python3 is first on PATH.
if /usr/bin/python3 - "$root/docs/flight.webp" "$out/flight-frames" <<'PY'; then
import glob
import os
import sys
from PIL import Image

animation, frames = sys.argv[1], sorted(glob.glob(os.path.join(sys.argv[2], "frame-*.png")))
problems = []
if os.path.getsize(animation) > 2 * 1024 * 1024:
    problems.append(f"{os.path.getsize(animation)} bytes, more than 2 MB")
with Image.open(animation) as image:
    if image.format != "WEBP" or image.info.get("loop") != 0:
        problems.append(f"not a looping WebP ({image.format}, loop {image.info.get('loop')})")
    if image.n_frames != len(frames) or len(frames) != 75:
        problems.append(f"{image.n_frames} frames, {len(frames)} rendered, 75 wanted")
    for i, name in enumerate(frames[:image.n_frames]):
        image.seek(i)
        # Pillow gives the first frame's time only once a later one was read.
        if i > 0 and image.info.get("duration") != 80:
            problems.append(f"frame {i + 1} lasts {image.info.get('duration')} ms, not 80")
        with Image.open(name) as rendered:
            if image.convert("RGB").tobytes() != rendered.convert("RGB").tobytes():
                problems.append(f"frame {i + 1} differs from {os.path.basename(name)}")
for problem in problems[:5]:
    print("   ", problem)
sys.exit(1 if problems else 0)
PY
    echo "ok docs/flight.webp"
    passed=$((passed + 1))
else
    echo "FAIL docs/flight.webp is not the animation scripts/make-pictures.sh renders now"
    failed=$((failed + 1))
fi
# The grid of in-between frames, pixel for pixel (Pillow may pack it otherwise).
if /usr/bin/python3 - "$root/docs/in-between-frames.png" "$out/in-between-frames.png" <<'PY'; then
import sys
from PIL import Image
with Image.open(sys.argv[1]) as a, Image.open(sys.argv[2]) as b:
    same = a.size == b.size and a.convert("RGB").tobytes() == b.convert("RGB").tobytes()
sys.exit(0 if same else 1)
PY
    echo "ok docs/in-between-frames.png"
    passed=$((passed + 1))
else
    echo "FAIL docs/in-between-frames.png differs from what scripts/make-pictures.sh renders now"
    failed=$((failed + 1))
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
