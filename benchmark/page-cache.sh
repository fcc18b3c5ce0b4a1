#!/usr/bin/env bash
# The page cache a job leaves: a 512 MiB backup of which the first 128 MiB are cached before
# the job (as the database's own pages would be) and the rest is not, archived by the engine's
# job in ROUNDS alternating rounds with the cache rules and without them (leave-cache). The
# backup's and the archive's resident MiB after each job (fincore), the cached-before pages
# kept (the backup's resident after over before: nothing else of it stays), the medians of the
# job's times and their ratio.
#   benchmark/page-cache.sh HALCYONBENCH WORK ROUNDS
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bench="$1" work="$2/page-cache" rounds="$3"
median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.3f\n", v[int((NR + 1) / 2)] }'; }
verdict() { awk -v f="$1" -v l="$2" 'BEGIN { print (f < l) ? "met" : "NOT met" }'; }
resident() { fincore -b -n -o RES "$1" | awk '{ printf "%.1f\n", $1 / 1048576 }'; }

mkdir -p "$work/src"
backup="$work/src/nightly.bak"
"$here/make-backup.sh" 512 "$backup" >/dev/null
sync
for round in $(seq "$rounds"); do
  for mode in rules leave-cache; do
    rm -rf "$work/out"
    dd if="$backup" iflag=nocache count=0 status=none
    dd if="$backup" of=/dev/null bs=1M count=128 status=none
    resident "$backup" >>"$work/before-$mode"
    args=()
    [ "$mode" = rules ] || args=(leave-cache)
    "$bench" job "$work/src" "$work/out" "${args[@]}" >"$work/job.out"
    grep '^job_seconds=' "$work/job.out" | cut -d= -f2 >>"$work/seconds-$mode"
    resident "$backup" >>"$work/backup-$mode"
    resident "$work/out/nightly.rar" >>"$work/archive-$mode"
  done
  awk -v a="$(tail -1 "$work/seconds-rules")" -v b="$(tail -1 "$work/seconds-leave-cache")" 'BEGIN { print a / b }' >>"$work/ratio"
done
before=$(median <"$work/before-rules") after=$(median <"$work/backup-rules")
kept=$(awk -v a="$after" -v b="$before" 'BEGIN { printf "%.1f", 100 * (a < b ? a : b) / b }')
r=$(median <"$work/ratio")
echo "cached before    $before MiB of the backup"
echo "after the job    backup $after MiB (cached-before kept $kept %), archive $(median <"$work/archive-rules") MiB  target <= 64 MiB beyond what was cached"
echo "without rules    backup $(median <"$work/backup-leave-cache") MiB, archive $(median <"$work/archive-leave-cache") MiB"
echo "job time         median $(median <"$work/seconds-rules") s, without the rules $(median <"$work/seconds-leave-cache") s: $r x  target < 1.05: $(verdict "$r" 1.05)"
rm -rf "$work"
