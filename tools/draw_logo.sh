#!/usr/bin/env bash
# Draws the program's pictures with ImageMagick:
#   resources/images/logo.jpg   64x64 window icon
#   resources/images/logo_g.gif 131x131 looping animation for the about dialog
# The picture is a sun over a flat-plate solar collector that feeds a storage
# tank, in a few flat colours; in the animation the sun's rays pulse.
# Run from anywhere; the output overwrites the committed pictures.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/resources/images
mkdir -p "$out"
command -v convert >/dev/null || { echo "draw_logo.sh: ImageMagick's convert is missing (scripts/setup.sh installs it)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

size=131
sun_x=94 sun_y=34
sun_r=17      # radius of the sun's disc
ray_gap=5     # room between the disc and the inner end of a ray
rays=12

sky='#d6ecfb' ground='#6fa83a'
sun_fill='#ffc928' sun_edge='#f08c00' ray='#ffa000'
glass='#1d4f91' glass_line='#6f9bd6' frame='#8c969e'
flow='#d93a2b' back='#2f7fd6'
tank='#eceff1' tank_edge='#55636b'

# The twelve rays as one draw string; $1 is the ray length in pixels.
rays_of() {
  awk -v cx=$sun_x -v cy=$sun_y -v r0=$((sun_r + ray_gap)) -v len="$1" -v n=$rays 'BEGIN {
    pi = atan2(0, -1)
    for (i = 0; i < n; i++) {
      a = 2 * pi * i / n
      printf "line %.1f,%.1f %.1f,%.1f ", cx + r0 * cos(a), cy + r0 * sin(a), cx + (r0 + len) * cos(a), cy + (r0 + len) * sin(a)
    }
  }'
}

# One full scene with rays of length $1, written to $2.
scene() {
  local len=$1 file=$2
  convert -size ${size}x${size} "xc:$sky" \
    -fill "$ground" -stroke none -draw "rectangle 0,118 $((size - 1)),$((size - 1))" \
    -stroke "$ray" -strokewidth 3 -draw "stroke-linecap round $(rays_of "$len")" \
    -fill "$sun_fill" -stroke "$sun_edge" -strokewidth 2 \
      -draw "circle $sun_x,$sun_y $((sun_x + sun_r)),$sun_y" \
    -stroke "$frame" -strokewidth 3 \
      -draw "line 20,112 20,119" -draw "line 68,112 68,119" -draw "line 90,86 90,119" \
    -fill "$glass" -stroke "$frame" -strokewidth 3 -draw "polygon 10,112 78,112 96,74 28,74" \
    -fill none -stroke "$glass_line" -strokewidth 1.5 \
      -draw "line 27,112 45,74" -draw "line 44,112 62,74" -draw "line 61,112 79,74" \
      -draw "line 19,93 87,93" \
    -fill none -stroke "$flow" -strokewidth 3 -draw "polyline 96,76 114,76 114,88" \
    -stroke "$back" -draw "polyline 79,110 104,110" \
    -fill "$tank" -stroke "$tank_edge" -strokewidth 2 -draw "roundrectangle 104,88 124,124 4,4" \
    -stroke "$flow" -strokewidth 2 -draw "line 108,96 120,96" \
    -stroke "$back" -draw "line 108,116 120,116" \
    "$file"
}

# Rays grow and shrink again: four frames of 200 ms, looping for ever.
frames=()
for len in 4 7 10 7; do
  scene "$len" "$work/frame_${#frames[@]}.png"
  frames+=("$work/frame_${#frames[@]}.png")
done
# One palette for all frames, so that only the rays change from frame to frame.
convert "${frames[@]}" +append +dither -colors 64 -unique-colors "$work/palette.png"
convert -delay 20 -loop 0 "${frames[@]}" +dither -remap "$work/palette.png" -layers Optimize -strip "$out/logo_g.gif"

# The window icon is the scene at rest, scaled down.
scene 7 "$work/still.png"
convert "$work/still.png" -resize 64x64 -quality 92 -sampling-factor 1x1 -strip "$out/logo.jpg"

identify "$out/logo.jpg" "$out/logo_g.gif"
