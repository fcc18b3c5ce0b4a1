#!/usr/bin/env bash
# The worst day, through the real program: a SIZE_MIB backup archived by halcyon --run, then in
# ROUNDS alternating rounds halcyon --verify beside unzip -t and halcyon --extract beside
# unzip -o on the same archive, and --verify of another writer's archive (zip -6: one stream,
# no block index, inflated on one thread). Each from the page cache; medians of the rounds'
# own ratios; peak RSS from /usr/bin/time.
#   benchmark/worst-day.sh HALCYON WORK SIZE_MIB ROUNDS
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
halcyon="$1" work="$2/worst" size_mib="$3" rounds="$4"
median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.3f\n", v[int((NR + 1) / 2)] }'; }
verdict() { awk -v f="$1" -v l="$2" 'BEGIN { print (f <= l) ? "met" : "NOT met" }'; }
timed() { # timed FILE COMMAND...: seconds into FILE, peak RSS (KiB) into FILE.rss
  local out="$1"
  shift
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null
  read -r seconds rss <"$work/time"
  echo "$seconds" >>"$out"
  echo "$rss" >>"$out.rss"
}

mkdir -p "$work/src" "$work/out" "$work/other"
"$here/make-backup.sh" "$size_mib" "$work/src/nightly.bak" >/dev/null
printf '%s' "$work/src" >"$work/filepath.ini"
printf '%s' "$work/out" >"$work/CompressFileFath.ini"
(cd "$work" && "$halcyon" --run >/dev/null)
(cd "$work/src" && zip -q -6 "$work/other/nightly.rar" nightly.bak)
archive="$work/out/nightly.rar"
cat "$archive" "$work/other/nightly.rar" >/dev/null
for round in $(seq "$rounds"); do
  timed "$work/verify" "$halcyon" --verify "$work/out"
  timed "$work/unzip-t" unzip -tq "$archive"
  rm -rf "$work/x" && mkdir "$work/x"
  timed "$work/extract" "$halcyon" --extract "$archive" "$work/x"
  rm -rf "$work/y" && mkdir "$work/y"
  timed "$work/unzip-o" unzip -oq "$archive" -d "$work/y"
  timed "$work/verify-other" "$halcyon" --verify "$work/other"
  awk -v a="$(tail -1 "$work/verify")" -v b="$(tail -1 "$work/unzip-t")" 'BEGIN { print a / b }' >>"$work/r-verify"
  awk -v a="$(tail -1 "$work/extract")" -v b="$(tail -1 "$work/unzip-o")" 'BEGIN { print a / b }' >>"$work/r-extract"
done
cmp "$work/src/nightly.bak" "$work/x/nightly.bak"
rv=$(median <"$work/r-verify") re=$(median <"$work/r-extract")
echo "archive          $(stat -c %s "$archive") bytes of a $size_mib MiB backup"
echo "--verify         median $(median <"$work/verify") s, unzip -t $(median <"$work/unzip-t") s: $rv x  target <= 0.5: $(verdict "$rv" 0.5); peak RSS $(sort -n "$work/verify.rss" | tail -1) KiB"
echo "--extract        median $(median <"$work/extract") s (synced), unzip -o $(median <"$work/unzip-o") s: $re x  target <= 0.75: $(verdict "$re" 0.75); peak RSS $(sort -n "$work/extract.rss" | tail -1) KiB"
echo "--verify, zip -6 median $(median <"$work/verify-other") s (another writer's: one thread)"
rm -rf "$work"
