#!/usr/bin/env bash
# Run-now jobs through the real window, side by side with a bare zlib level-6 pass, the same
# pass with what any archive adds (CRC-32, the stream written and committed to disk) and
# zip -6 over the same bytes, in alternating rounds; then the window during a 1 GiB job.
# Runs on the virtual screen $DISPLAY. The ratios are medians of each round's own ratio,
# which cancels the slow drift of a shared machine.
#   window-rounds.sh PROGRAM HALCYONBENCH WORK_DIR [ROUNDS]
set -euo pipefail
program="$1" bench="$2" work="$3" rounds="${4:-5}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
value() { grep "^$1=" "$2" | cut -d= -f2; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds_since() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.3f\n", e - s }'; }

echo "== run now through the real window (key press to archive committed), 128 MiB database-like, $rounds rounds"
mkdir -p "$work/wdb"
"$here/make-backup.sh" 128 "$work/wdb/nightly.bak" >/dev/null
cat "$work/wdb/nightly.bak" >/dev/null
rm -f "$work"/w.* "$work"/r.*
for round in $(seq "$rounds"); do
  "$here/window-job.sh" "$program" "$work/wdb" "$work/out-wdb" nightly.rar >"$work/w.out"
  w=$(value job_seconds "$work/w.out")
  "$bench" zlib "$work/wdb/nightly.bak" >"$work/z.out"
  z=$(value zlib_seconds "$work/z.out")
  "$bench" floor "$work/wdb/nightly.bak" "$work/floor.out" >"$work/f.out"
  f=$(value floor_seconds "$work/f.out")
  rm -f "$work/floor.out"
  rm -f "$work/w-6.zip"
  start=$(date +%s.%N)
  (cd "$work/wdb" && zip -6 -q "$work/w-6.zip" nightly.bak)
  p=$(seconds_since "$start")
  echo "$w" >>"$work/w.job"; echo "$z" >>"$work/w.zlib"; echo "$p" >>"$work/w.zip"; echo "$f" >>"$work/w.floor"
  value gui_cpu_seconds "$work/w.out" >>"$work/w.gui"
  awk -v a="$w" -v b="$z" 'BEGIN { print a / b }' >>"$work/r.zlib"
  awk -v a="$w" -v b="$p" 'BEGIN { print a / b }' >>"$work/r.zip"
  awk -v a="$w" -v b="$f" 'BEGIN { print a / b }' >>"$work/r.floor"
done
rounds_of() { paste -sd' ' "$1"; }
echo "window job       median $(median <"$work/w.job") s  (rounds $(rounds_of "$work/w.job"))"
echo "  GUI thread CPU median $(median <"$work/w.gui") s  (rounds $(rounds_of "$work/w.gui"))  window peak RSS $(value peak_rss_kib "$work/w.out") KiB"
echo "zlib level 6     median $(median <"$work/w.zlib") s  (rounds $(rounds_of "$work/w.zlib"))"
echo "zlib + CRC + commit median $(median <"$work/w.floor") s  (rounds $(rounds_of "$work/w.floor"))"
echo "zip -6           median $(median <"$work/w.zip") s  (rounds $(rounds_of "$work/w.zip"))"
echo "window / zlib    $(median <"$work/r.zlib" | xargs printf '%.3f')  (rounds $(xargs printf '%.3f ' <"$work/r.zlib"))  target <= 1.02"
echo "window / (zlib + CRC + commit)  $(median <"$work/r.floor" | xargs printf '%.3f')  (rounds $(xargs printf '%.3f ' <"$work/r.floor"))"
echo "window / zip -6  $(median <"$work/r.zip" | xargs printf '%.3f')  (rounds $(xargs printf '%.3f ' <"$work/r.zip"))"
rm -rf "$work/wdb" "$work/out-wdb" "$work/w-6.zip"

echo "== the window during a 1 GiB job (database-like)"
mkdir -p "$work/wbig"
"$here/make-backup.sh" 1024 "$work/wbig/nightly.bak" >/dev/null
"$here/window-job.sh" "$program" "$work/wbig" "$work/out-wbig" nightly.rar >"$work/w.out"
echo "window job       $(value job_seconds "$work/w.out") s  GUI thread CPU $(value gui_cpu_seconds "$work/w.out") s  window peak RSS $(value peak_rss_kib "$work/w.out") KiB"
rm -rf "$work/wbig" "$work/out-wbig"
