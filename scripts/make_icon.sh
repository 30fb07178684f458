#!/usr/bin/env bash
# Draws the program's icon group from its vector source (ImageMagick's MVG):
#   make_icon.sh SOURCE.mvg OUT.ico
# Six images, 16, 20, 24, 32, 48 and 256 pixels, each drawn at its own size with
# 32-bit colour and alpha; the 256 one is stored PNG-compressed, as Windows
# expects. Metadata that would change from run to run (dates) is stripped so the
# same source always gives the same bytes.
set -euo pipefail

source=$1
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The source is drawn on a 256-unit canvas; comments are not MVG.
drawing=$(grep -v '^[[:space:]]*#' "$source")

images=()
for size in 16 20 24 32 48 256; do
  scale=$(awk -v s="$size" 'BEGIN { printf "%.6f", s / 256 }')
  convert -size "${size}x${size}" xc:none -draw "affine $scale 0 0 $scale 0 0 $drawing" \
    -strip "PNG32:$work/$size.png"
  images+=("$work/$size.png")
done
# png:format keeps the 256 image in RGBA even where fewer channels would do.
convert "${images[@]}" -strip -define png:format=png32 "$work/icon.ico"
mv "$work/icon.ico" "$out"
