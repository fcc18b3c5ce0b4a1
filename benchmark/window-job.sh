#!/usr/bin/env bash
# Run-now jobs through the real window on the virtual screen $DISPLAY, timed from the key
# press on 立即执行 to the archive's rename into place (the commit), each in a fresh window.
#   window-job.sh PROGRAM SOURCE_DIR OUTPUT_DIR ARCHIVE_NAME
# Prints job_seconds and the window's peak_rss_kib over the job as key=value lines.
set -euo pipefail
program="$(realpath "$1")" src="$2" out="$3" archive="$4"
work="$(mktemp -d)"
pid="" watcher=""
trap 'kill $pid $watcher 2>/dev/null || true; rm -rf "$work"' EXIT

rm -rf "$out"
mkdir -p "$out"
printf '%s' "$src" >"$work/filepath.ini"
printf '%s' "$out" >"$work/CompressFileFath.ini"
(cd "$work" && exec env QT_QPA_PLATFORM=xcb LANG=zh_CN.UTF-8 "$program") >"$work/log" 2>&1 &
pid=$!
window="$(timeout 60 xdotool search --sync --onlyvisible --pid "$pid" --name '^Halcyon' | head -n 1)"
[ -n "$window" ] || { cat "$work/log" >&2; echo "the window did not appear" >&2; exit 1; }
timeout 20 xdotool windowfocus --sync "$window"
xdotool key Tab # from the path field to 立即执行
sleep 1         # settle: the first paint is not part of the job

# QSaveFile links a new archive into place (create) or renames over an older one (moved_to).
coproc watch { exec inotifywait -q -m -e create -e moved_to --format %f "$out"; }
watcher=$watch_PID
sleep 0.3 # the watch is in place
start=$(date +%s.%N)
xdotool key space
while read -r -u "${watch[0]}" name; do
  [ "$name" = "$archive" ] && break
done
end=$(date +%s.%N)
rss=$(awk '/^VmHWM:/ { print $2 }' /proc/"$pid"/status)
awk -v s="$start" -v e="$end" 'BEGIN { printf "job_seconds=%.3f\n", e - s }'
echo "peak_rss_kib=$rss"
