#!/usr/bin/env bash
# Builds Glidescape and flies glidescape-render over a fresh landscape:
# writes a picture of the flight and the land maps into build/run/.
#   scripts/run.sh [extra glidescape-render options]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target glidescape-render

out=build/run
mkdir -p "$out"
build/default/render/glidescape-render \
    --land-size 10 --ticks 200 \
    --frame-out "$out/glidescape.png" \
    --heights-out "$out/heights.png" \
    --colours-out "$out/colours.png" \
    "$@"

echo "Frame after 199 frames of flight: $out/glidescape.png"
echo "Height map (greyscale):           $out/heights.png"
echo "Colour map:                       $out/colours.png"
