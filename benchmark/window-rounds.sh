#!/usr/bin/env bash
# Run-now jobs through the real window, side by side with one zlib level-6 stream and
# `pigz --zip -6` over the same bytes, in alternating rounds: on every CPU (the window makes a
# compressor for each, pigz -p CPUS) and on CPU 0 alone (taskset -c 0: no compressor threads,
# pigz -p 1). Then the window during a job on BIG_FILE, if given. Runs on the virtual screen
# $DISPLAY. The ratios are medians of each round's own ratio, which cancels the slow drift of a
# shared machine.
#   window-rounds.sh PROGRAM HALCYONBENCH WORK_DIR SIZE_MIB ROUNDS [BIG_FILE]
set -euo pipefail
program="$1" bench="$2" work="$3" size_mib="$4" rounds="$5" big="${6:-}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cpus=$(nproc)
value() { grep "^$1=" "$2" | cut -d= -f2; }
median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.3f\n", v[int((NR + 1) / 2)] }'; }
seconds_since() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.3f\n", e - s }'; }
rounds_of() { xargs printf '%.3f ' <"$1" | sed 's/ $//'; }
# verdict FIGURE LIMIT: "met" or "NOT met" for FIGURE <= LIMIT
verdict() { awk -v f="$1" -v l="$2" 'BEGIN { print (f <= l) ? "met" : "NOT met" }'; }

echo "== run now through the real window (key press to archive renamed into place), $size_mib MiB database-like, $rounds rounds"
mkdir -p "$work/wdb"
"$here/make-backup.sh" "$size_mib" "$work/wdb/nightly.bak" >/dev/null
cat "$work/wdb/nightly.bak" >/dev/null
rm -f "$work"/w.* "$work"/r.*
# one ON_CPUS PIGZ_THREADS SUFFIX [taskset -c 0]: a window job, zlib and pigz in turn
one() {
  local cpu_list="$1" threads="$2" tag="$3" start w z p
  shift 3
  "$here/window-job.sh" "$program" "$work/wdb" "$work/out-wdb" nightly.rar $cpu_list >"$work/w.out"
  w=$(value job_seconds "$work/w.out")
  "$@" "$bench" zlib "$work/wdb/nightly.bak" >"$work/z.out"
  z=$(value zlib_seconds "$work/z.out")
  rm -f "$work/pigz.zip"
  start=$(date +%s.%N)
  (cd "$work/wdb" && "$@" pigz --zip -6 -p "$threads" -c nightly.bak >"$work/pigz.zip")
  p=$(seconds_since "$start")
  echo "$w" >>"$work/w.job$tag"; echo "$z" >>"$work/w.zlib$tag"; echo "$p" >>"$work/w.pigz$tag"
  value gui_cpu_seconds "$work/w.out" >>"$work/w.gui$tag"
  value process_cpu_seconds "$work/w.out" >>"$work/w.cpu$tag"
  value threads_left "$work/w.out" >>"$work/w.left"
  awk -v a="$w" -v b="$z" 'BEGIN { print a / b }' >>"$work/r.zlib$tag"
  awk -v a="$w" -v b="$p" 'BEGIN { print a / b }' >>"$work/r.pigz$tag"
}
for round in $(seq "$rounds"); do
  one "" "$cpus" ""
  one 0 1 1 taskset -c 0
done
rss=$(value peak_rss_kib "$work/w.out")
report() { # report SUFFIX LABEL
  echo "$2"
  echo "  window job     median $(median <"$work/w.job$1") s  (rounds $(rounds_of "$work/w.job$1"))"
  echo "    process CPU  median $(median <"$work/w.cpu$1") s, GUI thread $(median <"$work/w.gui$1") s"
  echo "  zlib level 6   median $(median <"$work/w.zlib$1") s  (rounds $(rounds_of "$work/w.zlib$1"))"
  echo "  pigz --zip -6  median $(median <"$work/w.pigz$1") s  (rounds $(rounds_of "$work/w.pigz$1"))"
}
report "" "on all $cpus CPUs (pigz -p $cpus)"
r=$(median <"$work/r.zlib"); echo "  window / zlib  $(printf '%.3f' "$r")  (rounds $(rounds_of "$work/r.zlib"))  target <= 0.30: $(verdict "$r" 0.30)"
r=$(median <"$work/r.pigz"); echo "  window / pigz  $(printf '%.3f' "$r")  (rounds $(rounds_of "$work/r.pigz"))  target <= 0.55: $(verdict "$r" 0.55)"
report 1 "on CPU 0 alone (taskset -c 0, pigz -p 1)"
r=$(median <"$work/r.zlib1"); echo "  window / zlib  $(printf '%.3f' "$r")  (rounds $(rounds_of "$work/r.zlib1"))"
r=$(median <"$work/r.pigz1"); echo "  window / pigz  $(printf '%.3f' "$r")  (rounds $(rounds_of "$work/r.pigz1"))  target <= 0.55: $(verdict "$r" 0.55)"
echo "  window peak RSS $rss KiB"
left=$(sort -n "$work/w.left" | tail -n 1)
echo "  threads left after a job: at most $left in $((2 * rounds)) jobs  target 0: $(verdict "$left" 0)"
rm -rf "$work/wdb" "$work/out-wdb" "$work/pigz.zip"

[ -n "$big" ] || exit 0
echo "== the window during a $(( $(stat -c %s "$big") / 1048576 )) MiB job (database-like, all CPUs)"
"$here/window-job.sh" "$program" "$(dirname "$big")" "$work/out-wbig" "$(basename "$big" .bak).rar" >"$work/w.out"
echo "  window job     $(value job_seconds "$work/w.out") s  GUI thread CPU $(value gui_cpu_seconds "$work/w.out") s  process CPU $(value process_cpu_seconds "$work/w.out") s  window peak RSS $(value peak_rss_kib "$work/w.out") KiB"
rm -rf "$work/out-wbig"
