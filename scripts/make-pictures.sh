#!/usr/bin/env bash
# Renders the README's pictures with glidescape-render and fixed seeds:
#   docs/flight.png         a frame of a flight (640 x 360)
#   docs/land-heights.png   the height map of a land of side 256, greyscale
#   docs/land-colours.png   its colour map
#
#   scripts/make-pictures.sh                       builds the renderer, rewrites docs/
#   scripts/make-pictures.sh --render BIN --out DIR   with a given renderer, into DIR
# (the picture test uses the second form and compares DIR with docs/).
set -euo pipefail
cd "$(dirname "$0")/.."

render=""
out=docs
while [ $# -gt 0 ]; do
    case "$1" in
        --render) render=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        *) echo "usage: scripts/make-pictures.sh [--render BIN] [--out DIR]" >&2; exit 2 ;;
    esac
done
if [ -z "$render" ]; then
    scripts/deps.sh build
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc)" --target glidescape-render
    render=build/default/render/glidescape-render
fi
mkdir -p "$out"

"$render" --land-size 10 --land-seed 13 --view-seed 13 --objects 12 --tilt -60 \
    --output-width 640 --client 1280x720 --ticks 500 --frame-out "$out/flight.png"
"$render" --land-size 8 --land-seed 13 --view-seed 13 --ticks 1 \
    --heights-out "$out/land-heights.png" --colours-out "$out/land-colours.png"
echo "wrote $out/flight.png, $out/land-heights.png, $out/land-colours.png"
