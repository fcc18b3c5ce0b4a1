#!/usr/bin/env bash
# Redraws every picture of the program and writes them into the repository:
#   app/Resources/{background,title}.jpg and {start,stop,winrar}.png  (embedded images)
#   app/icons/hicolor/<size>x<size>/apps/halcyon.png                   (desktop icon)
#   app/windows/halcyon.ico                                            (Windows icon)
# Usage: tools/imagegen/generate.sh [BUILD_DIR]   (default /tmp/halcyon-imagegen)
# Needs qtbase5-dev, cmake, g++, fonts-wqy-microhei and imagemagick. Same output on every run.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-/tmp/halcyon-imagegen}"
# The real ImageMagick, not a wrapper that may sit earlier on PATH.
convert=/usr/bin/convert

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null
frames="$build/frames"
mkdir -p "$frames"
QT_QPA_PLATFORM=offscreen "$build/imagegen" "$root" "$frames"

# One frame per size, drawn at that size; the encoder stores 256 px as PNG and the rest as 32-bit BMP.
icons=()
for size in 32 48 64 72 80 96 128 256; do icons+=("$frames/icon-$size.png"); done
mkdir -p "$root/app/windows"
"$convert" "${icons[@]}" "$root/app/windows/halcyon.ico"
echo "pictures written under $root/app"
