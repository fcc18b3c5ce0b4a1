#!/usr/bin/env bash
# Run-now jobs through the real window, side by side with a bare zlib level-6 pass and
# zip -6 over the same bytes, in alternating rounds; then the window during a 1 GiB job.
# Runs on the virtual screen $DISPLAY.
#   window-rounds.sh PROGRAM HALCYONBENCH WORK_DIR [ROUNDS]
set -euo pipefail
program="$1" bench="$2" work="$3" rounds="${4:-3}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
value() { grep "^$1=" "$2" | cut -d= -f2; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
seconds_since() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.3f\n", e - s }'; }

echo "== run now through the real window (key press to archive committed), 128 MiB database-like, medians of $rounds rounds"
mkdir -p "$work/wdb"
"$here/make-backup.sh" 128 "$work/wdb/nightly.bak" >/dev/null
cat "$work/wdb/nightly.bak" >/dev/null
: >"$work/w.times"; : >"$work/z.times"; : >"$work/zip.times"
for round in $(seq "$rounds"); do
  "$here/window-job.sh" "$program" "$work/wdb" "$work/out-wdb" nightly.rar >"$work/w.out"
  value job_seconds "$work/w.out" >>"$work/w.times"
  "$bench" zlib "$work/wdb/nightly.bak" >"$work/z.out"
  value zlib_seconds "$work/z.out" >>"$work/z.times"
  rm -f "$work/w-6.zip"
  start=$(date +%s.%N)
  (cd "$work/wdb" && zip -6 -q "$work/w-6.zip" nightly.bak)
  seconds_since "$start" >>"$work/zip.times"
done
w=$(median <"$work/w.times") z=$(median <"$work/z.times") p=$(median <"$work/zip.times")
echo "window job       $w s  (rounds $(paste -sd' ' "$work/w.times"))  window peak RSS $(value peak_rss_kib "$work/w.out") KiB"
echo "zlib level 6     $z s  (rounds $(paste -sd' ' "$work/z.times"))"
echo "zip -6           $p s  (rounds $(paste -sd' ' "$work/zip.times"))"
echo "window / zlib    $(ratio "$w" "$z")   (target <= 1.02)"
echo "window / zip -6  $(ratio "$w" "$p")"
rm -rf "$work/wdb" "$work/out-wdb" "$work/w-6.zip"

echo "== the window during a 1 GiB job (database-like)"
mkdir -p "$work/wbig"
"$here/make-backup.sh" 1024 "$work/wbig/nightly.bak" >/dev/null
"$here/window-job.sh" "$program" "$work/wbig" "$work/out-wbig" nightly.rar >"$work/w.out"
echo "window job       $(value job_seconds "$work/w.out") s  window peak RSS $(value peak_rss_kib "$work/w.out") KiB"
rm -rf "$work/wbig" "$work/out-wbig"
