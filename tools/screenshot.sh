#!/usr/bin/env bash
# Photographs the real window on a virtual screen into docs/screenshot.png.
#   tools/screenshot.sh [path/to/halcyon]     (default: build/app/halcyon)
# It runs in an empty working directory, so no skin.css or saved paths show, and in the
# operators' locale zh_CN.UTF-8 (the time edit's format follows the locale).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$root/tools/ensure-deps.sh"
ensure_packages xvfb xauth xdotool imagemagick
ensure_locale zh_CN

program="$(realpath "${1:-$root/build/app/halcyon}")"
if [ ! -x "$program" ]; then
  echo "No program at $program: build it first (./run, or cmake --build build)." >&2
  exit 1
fi
out="$root/docs/screenshot.png"
mkdir -p "$(dirname "$out")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

export program out work
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  set -euo pipefail
  cd "$work"
  env -u LC_ALL LANG=zh_CN.UTF-8 QT_QPA_PLATFORM=xcb "$program" &
  pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  window="$(timeout 30 xdotool search --sync --onlyvisible --name "^Halcyon" | head -n 1)"
  [ -n "$window" ] || { echo "The window did not appear." >&2; exit 1; }
  sleep 1 # first paint
  import -window "$window" "$out"
'
echo "$out"
