#!/bin/sh
# Draws Quillet's icons with ImageMagick (convert), from nothing but the shapes
# below: the program icon (a quill over a page with a "*") at the usual sizes,
# and the 16 x 16 glyphs of the window's buttons. Every shape is drawn at a
# large size and scaled down, so edges come out smooth.
# Usage: src/gui/resources/make_icons.sh   (writes the PNGs beside itself)
set -eu
cd "$(dirname "$0")"
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT INT TERM

# Strip dates and other chunks so that the files only change when the drawing does.
png() { convert "$@" -strip -define png:exclude-chunks=date,time "PNG32:$OUT"; }

# The program icon, drawn on a 256 x 256 canvas.
convert -size 256x256 xc:none \
  -fill '#1d4f91' -draw "polygon 44,22 172,22 216,66 216,238 44,238" \
  -fill white -draw "polygon 52,30 168,30 208,70 208,230 52,230" \
  -fill '#c9d6ea' -draw "polygon 168,30 168,70 208,70" \
  -stroke '#1d4f91' -strokewidth 4 -draw "line 168,30 168,70" -draw "line 168,70 208,70" \
  -stroke '#9aa7b8' -strokewidth 8 -draw "line 72,60 140,60" -draw "line 72,88 150,88" \
  -draw "line 140,206 188,206" \
  -stroke '#e2571e' -strokewidth 22 -draw "line 100,118 100,202" \
  -draw "line 63.6,139 136.4,181" -draw "line 63.6,181 136.4,139" \
  -stroke none -fill '#2a2a2a' -draw "polygon 148,196 140,226 162,206" \
  -fill '#0f7a6c' -draw "path 'M 150,204 C 150,150 190,70 246,12 C 236,80 206,150 162,212 Z'" \
  -fill '#2bb39f' -draw "path 'M 156,196 C 166,140 200,80 240,24 C 226,90 200,146 162,204 Z'" \
  -stroke '#0a4f46' -strokewidth 3 -fill none -draw "path 'M 154,206 C 180,150 210,90 244,16'" \
  "$TMP/quillet-256.png"
for size in 16 32 48 64 128 256; do
  OUT=quillet-$size.png png "$TMP/quillet-256.png" -filter Lanczos -resize ${size}x${size}
done

# The button glyphs, drawn on 64 x 64 and scaled to 16 x 16.
glyph() { # name, then the drawing options
  name=$1; shift
  convert -size 64x64 xc:none "$@" "$TMP/$name"
  OUT=$name png "$TMP/$name" -filter Lanczos -resize 16x16
}

# Execute: a play triangle on a round button; the disabled image in greys.
glyph execute.png -fill '#1e8c3a' -draw "circle 32,32 32,3" \
  -fill '#3cc05f' -draw "circle 32,32 32,8" \
  -fill white -draw "polygon 24,17 24,47 49,32"
glyph execute_disabled.png -fill '#8c8c8c' -draw "circle 32,32 32,3" \
  -fill '#b4b4b4' -draw "circle 32,32 32,8" \
  -fill '#eeeeee' -draw "polygon 24,17 24,47 49,32"

# Home page: a house with a red roof and a blue door.
glyph homepage.png -fill '#b8321f' -draw "polygon 32,4 2,32 10,32 32,12 54,32 62,32" \
  -fill '#f3e3c0' -stroke '#7a5a2a' -strokewidth 3 -draw "polygon 12,30 32,13 52,30 52,58 12,58" \
  -stroke none -fill '#1d4f91' -draw "rectangle 26,38 38,58"

# E-mail: an envelope.
glyph email.png -fill '#f4f4f4' -stroke '#1d4f91' -strokewidth 4 -draw "rectangle 4,14 60,50" \
  -fill none -draw "polyline 5,15 32,36 59,15"

# Open directory: a yellow folder.
glyph opendir.png -fill '#c99a1c' -draw "polygon 4,12 24,12 30,18 60,18 60,54 4,54" \
  -fill '#f2c94c' -draw "polygon 4,24 60,24 60,54 4,54" \
  -stroke '#9a7412' -strokewidth 2 -fill none -draw "polygon 4,12 24,12 30,18 60,18 60,54 4,54"

# Open file list: a page with list lines.
glyph openfile.png -fill white -stroke '#1d4f91' -strokewidth 4 -draw "polygon 10,4 42,4 54,16 54,60 10,60" \
  -stroke '#1d4f91' -strokewidth 5 -draw "line 18,22 46,22" -draw "line 18,33 46,33" \
  -draw "line 18,44 46,44" -draw "line 18,53 36,53"
