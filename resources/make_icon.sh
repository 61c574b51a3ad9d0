#!/usr/bin/env bash
# Draws the program icon "nolkIcon": a blue rounded square with a white
# arrow pointing down into an orange tray (an update being installed).
# It is drawn once at 192x192 and scaled down, so the small sizes are
# smoothly anti-aliased.
#   nolkIcon.png     48x48
#   nolkIcon-32.png  32x32
#   nolkIcon.ico     both sizes, for the Windows resource file
# Needs ImageMagick; set CONVERT to use a particular convert program.
set -euo pipefail
cd "$(dirname "$0")"
convert_tool="${CONVERT:-convert}"
master="$(mktemp --suffix=.png)"
trap 'rm -f "$master"' EXIT

"$convert_tool" -size 192x192 xc:none \
  -fill '#1f4e8c' -stroke '#12325c' -strokewidth 6 -draw 'roundrectangle 8,8 184,184 34,34' \
  -stroke none -fill '#f29f1f' -draw 'roundrectangle 38,128 154,158 10,10' \
  -fill '#1f4e8c' -draw 'rectangle 58,120 134,140' \
  -fill white -draw 'rectangle 80,30 112,88' -draw 'polygon 52,84 140,84 96,132' \
  "$master"

"$convert_tool" "$master" -filter Lanczos -resize 48x48 -strip PNG32:nolkIcon.png
"$convert_tool" "$master" -filter Lanczos -resize 32x32 -strip PNG32:nolkIcon-32.png
"$convert_tool" nolkIcon.png nolkIcon-32.png nolkIcon.ico
