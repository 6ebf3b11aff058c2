#!/usr/bin/env bash
# Draws the wizard artwork and the application icon with ImageMagick.
# Shapes only (no fonts) and no time stamps, so a rerun gives the same files.
# Usage: resources/make_artwork.sh   (writes next to this script)
set -euo pipefail
cd "$(dirname "$0")"

DEEP='#0b2545'
MID='#13315c'
TEAL='#1b998b'
LIGHT='#e8f1f2'
GOLD='#f4b942'
TRACE='#ffffff38'

# Writes the canvas built by the arguments as 8-bit RGBA without date chunks.
save() {
  local file=$1; shift
  convert "$@" -depth 8 -strip -define png:exclude-chunks=date,time "PNG32:$file"
}

# Appends to `draw` a Compact Flash card at x,y of w x h: body, label, contacts.
card() {
  local x=$1 y=$2 w=$3 h=$4
  local x2=$((x + w)) y2=$((y + h))
  local lx=$((x + w / 8)) lx2=$((x + w - w / 8))
  draw+=(-fill "$LIGHT" -stroke "$DEEP" -strokewidth 2 -draw "roundrectangle $x,$y $x2,$y2 6,6"
         -stroke none -fill "$TEAL" -draw "rectangle $lx,$((y + h / 4)) $lx2,$((y2 - h / 5))"
         -fill "$GOLD" -draw "rectangle $lx,$((y + h / 12)) $lx2,$((y + h / 12 + h / 16))")
}

# Appends to `draw` thin circuit traces: horizontal runs ending in a pad.
traces() {
  local w=$1 h=$2 step=$3 d="" y x1 x2
  for ((y = step; y < h; y += step)); do
    x1=$(( (y * 37) % (w / 2) )); x2=$(( w / 2 + (y * 53) % (w / 2) ))
    d+=" line $x1,$y $x2,$y circle $x2,$y $((x2 + 2)),$y"
  done
  draw+=(-stroke "${TRACE}" -strokewidth 1 -fill "${TRACE}" -draw "$d")
}

draw=(); traces 200 320 24; card 50 150 100 120
save zel_recovery_background.png -size 200x320 "gradient:$DEEP-$TEAL" "${draw[@]}"

# Banner: light, since the wizard writes the page title on it in dark text.
draw=(); TRACE='#1b998b40' traces 500 60 12
draw+=(-stroke none -fill "$TEAL" -draw "rectangle 0,57 499,59")
save zel_recovery_banner.png -size 60x500 "gradient:#c6dfe3-#ffffff" -rotate 90 "${draw[@]}"

# Logo: a small card next to a chip, on a transparent ground.
draw=(); card 10 6 36 48
draw+=(-fill "$GOLD" -stroke "$DEEP" -strokewidth 2 -draw "roundrectangle 60,16 100,44 4,4"
       -draw "line 66,16 66,8 line 80,16 80,8 line 94,16 94,8 line 66,44 66,52 line 80,44 80,52 line 94,44 94,52")
save zel_recovery_logo.png -size 128x60 xc:none "${draw[@]}"

# Watermark: an arrow into the card, the restore.
draw=(); traces 128 320 20; card 24 180 80 96
draw+=(-fill "$GOLD" -stroke none -draw "polygon 64,150 88,115 74,115 74,60 54,60 54,115 40,115")
save zel_recovery_watermark.png -size 128x320 "gradient:$MID-$TEAL" "${draw[@]}"

# Application icon, 128 x 128: a card on a rounded tile.
draw=(-fill "$MID" -stroke none -draw "roundrectangle 4,4 123,123 20,20"); card 30 18 68 92
save zel_recovery_icon.png -size 128x128 xc:none "${draw[@]}"
convert zel_recovery_icon.png -depth 8 zel_recovery.ico
