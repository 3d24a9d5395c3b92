#!/usr/bin/env bash
# Renders the README's pictures with glidescape-render and fixed seeds:
#   docs/flight.webp        6 seconds of a flight (224 x 125, every other frame,
#                           80 ms each, so at the saver's speed), lossless
#                           animated WebP that loops
#   docs/flight.png         a frame of a flight (640 x 360)
#   docs/land-heights.png   the height map of a land of side 256, greyscale
#   docs/land-colours.png   its colour map
#   docs/in-between-frames.png  smooth motion: the eight frames of one tick
#                           (the tick's own and seven in between), left to
#                           right, top to bottom
#
#   scripts/make-pictures.sh                       builds the renderer, rewrites docs/
#   scripts/make-pictures.sh --render BIN --out DIR [--keep-frames]
#                                                  with a given renderer, into DIR
# (the picture test uses the second form and compares DIR with docs/;
# --keep-frames leaves the animation's frames in DIR/flight-frames/).
set -euo pipefail
cd "$(dirname "$0")/.."

render=""
out=docs
keep_frames=0
while [ $# -gt 0 ]; do
    case "$1" in
        --render) render=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --keep-frames) keep_frames=1; shift ;;
        *) echo "usage: scripts/make-pictures.sh [--render BIN] [--out DIR] [--keep-frames]" >&2; exit 2 ;;
    esac
done
if [ -z "$render" ]; then
    scripts/deps.sh build
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc)" --target glidescape-render
    render=build/default/render/glidescape-render
fi
mkdir -p "$out"

# The animation: frames 46, 48, ... 194 of the flight, from a ring over the
# ridge to the mountain; at most 2 MB.
frames="$out/flight-frames"
rm -rf "$frames"
"$render" --land-size 10 --land-seed 13 --view-seed 13 --objects 12 --tilt -60 \
    --output-width 224 --client 1280x720 --ticks 196 --png-dir "$frames" --png-every 2
find "$frames" -name 'frame-*.png' | sort | head -n -75 | xargs -r rm --
ffmpeg -v error -y -framerate 12.5 -pattern_type glob -i "$frames/frame-*.png" \
    -c:v libwebp_anim -lossless 1 -compression_level 4 -loop 0 "$out/flight.webp"
[ "$keep_frames" -eq 1 ] || rm -rf "$frames"

"$render" --land-size 10 --land-seed 13 --view-seed 13 --objects 12 --tilt -60 \
    --output-width 640 --client 1280x720 --ticks 500 --frame-out "$out/flight.png"
"$render" --land-size 8 --land-seed 13 --view-seed 13 --ticks 1 \
    --heights-out "$out/land-heights.png" --colours-out "$out/land-colours.png"

# Smooth motion: the last tick's eight frames of a 100-frame flight, in a
# grid of four by two (Debian's Python with Pillow puts them together).
between="$out/between-frames"
rm -rf "$between"
"$render" --land-seed 31 --view-seed 17 --output-width 256 --ticks 101 --subframes 8 \
    --png-dir "$between"
/usr/bin/python3 - "$between" "$out/in-between-frames.png" <<'PY'
import glob
import os
import sys
from PIL import Image

names = sorted(glob.glob(os.path.join(sys.argv[1], "frame-*.png")))[-8:]
tiles = [Image.open(name).convert("RGB") for name in names]
width, height = tiles[0].size
grid = Image.new("RGB", (width * 4, height * 2))
for i, tile in enumerate(tiles):
    grid.paste(tile, ((i % 4) * width, (i // 4) * height))
grid.save(sys.argv[2], optimize=True)
PY
rm -rf "$between"
echo "wrote $out/flight.webp, $out/flight.png, $out/land-heights.png, $out/land-colours.png," \
     "$out/in-between-frames.png"
