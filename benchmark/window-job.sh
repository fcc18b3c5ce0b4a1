#!/usr/bin/env bash
# Run-now jobs through the real window on the virtual screen $DISPLAY, timed from the key
# press on 立即执行 to the archive's rename into place (the commit), each in a fresh window.
#   window-job.sh PROGRAM SOURCE_DIR OUTPUT_DIR ARCHIVE_NAME [CPU_LIST]
# With CPU_LIST the program runs on those CPUs only (taskset -c), and makes its threads for them.
# Prints as key=value lines job_seconds, the window's peak_rss_kib, the CPU seconds that its
# GUI thread (gui_cpu_seconds) and the whole process (process_cpu_seconds) spent on the job,
# and the threads the job left behind (threads_left, given up to a second after the rename).
set -euo pipefail
program="$(realpath "$1")" src="$2" out="$3" archive="$4" cpus="${5:-}"
work="$(mktemp -d)"
pid="" watcher=""
trap 'kill $pid $watcher 2>/dev/null || true; rm -rf "$work"' EXIT

rm -rf "$out"
mkdir -p "$out"
printf '%s' "$src" >"$work/filepath.ini"
printf '%s' "$out" >"$work/CompressFileFath.ini"
pin=()
[ -z "$cpus" ] || pin=(taskset -c "$cpus")
(cd "$work" && exec env QT_QPA_PLATFORM=xcb LANG=zh_CN.UTF-8 "${pin[@]}" "$program") >"$work/log" 2>&1 &
pid=$!
window="$(timeout 60 xdotool search --sync --onlyvisible --pid "$pid" --name '^Halcyon' | head -n 1)"
[ -n "$window" ] || { cat "$work/log" >&2; echo "the window did not appear" >&2; exit 1; }
timeout 20 xdotool windowfocus --sync "$window"
xdotool key Tab # from the path field to 立即执行
sleep 1         # settle: the first paint is not part of the job

# The archive is renamed into place from its temporary name beside it (moved_to).
# CPU ticks of /proc/PID/stat or /proc/PID/task/TID/stat: user + system time.
ticks() { sed -E 's/.*\) //' "$1" | awk '{ print $12 + $13 }'; }
tick=$(getconf CLK_TCK)

coproc watch { exec inotifywait -q -m -e create -e moved_to --format %f "$out"; }
watcher=$watch_PID
sleep 0.3 # the watch is in place
threads() { find /proc/"$pid"/task -mindepth 1 -maxdepth 1 | wc -l; }
threads0=$(threads)
gui0=$(ticks /proc/"$pid"/task/"$pid"/stat) all0=$(ticks /proc/"$pid"/stat)
start=$(date +%s.%N)
xdotool key space
while read -r -u "${watch[0]}" name; do
  [ "$name" = "$archive" ] && break
done
end=$(date +%s.%N)
gui1=$(ticks /proc/"$pid"/task/"$pid"/stat) all1=$(ticks /proc/"$pid"/stat)
rss=$(awk '/^VmHWM:/ { print $2 }' /proc/"$pid"/status)
awk -v s="$start" -v e="$end" 'BEGIN { printf "job_seconds=%.3f\n", e - s }'
echo "peak_rss_kib=$rss"
awk -v a="$gui0" -v b="$gui1" -v t="$tick" 'BEGIN { printf "gui_cpu_seconds=%.2f\n", (b - a) / t }'
awk -v a="$all0" -v b="$all1" -v t="$tick" 'BEGIN { printf "process_cpu_seconds=%.2f\n", (b - a) / t }'
# The worker and the compressors end just after the rename.
for _ in $(seq 100); do [ "$(threads)" -gt "$threads0" ] || break; sleep 0.01; done
echo "threads_left=$(( $(threads) - threads0 ))"
