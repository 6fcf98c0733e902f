#!/usr/bin/env bash
# Renders the committed icon images from the vector drawings in svg/.
#   resources/icons/render.sh
# Needs rsvg-convert (Debian package librsvg2-bin) and ImageMagick's convert.
# Every PNG comes out as 8-bit RGBA without time stamps, so that rendering
# again without changes to the drawings changes no committed file.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"

for tool in rsvg-convert convert; do
  command -v "$tool" >/dev/null || { echo "render.sh: $tool is missing (apt-get install librsvg2-bin imagemagick)" >&2; exit 1; }
done

png32() { # svg size out
  local tmp
  tmp=$(mktemp --suffix=.png)
  rsvg-convert -w "$2" -h "$2" "$1" -o "$tmp"
  convert "$tmp" -strip -define png:exclude-chunks=date,time,tIME PNG32:"$3"
  rm -f "$tmp"
}

# Menu, control and arrow images at the size written in each drawing.
for svg in svg/*.svg; do
  name=$(basename "$svg" .svg)
  [[ $name == varnoks-pilot ]] && continue
  size=$(sed -n 's/.*<svg[^>]* width="\([0-9]*\)".*/\1/p' "$svg" | head -n1)
  [[ -n $size ]] || { echo "render.sh: $svg has no width" >&2; exit 1; }
  png32 "$svg" "$size" "$name.png"
done

# Application icon: one .ico with every size the tray and window managers ask for.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ico_parts=()
for size in 16 24 32 48 64 72 96 128 256; do
  png32 svg/varnoks-pilot.svg "$size" "$work/$size.png"
  ico_parts+=("$work/$size.png")
done
convert "${ico_parts[@]}" favicon.ico

# Freedesktop icon theme entries for the .desktop file.
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  png32 svg/varnoks-pilot.svg "$size" "hicolor/${size}x${size}/apps/varnoks-pilot.png"
done
mkdir -p hicolor/scalable/apps
cp svg/varnoks-pilot.svg hicolor/scalable/apps/varnoks-pilot.svg
