# Jobs that meet a fault, each followed by a healthy job on a fresh small tree. After
# both: the program is alive and answers, the output directory holds only sound
# archives and nothing temporary, and the sources are unchanged.
#   bash faults.sh PROGRAM X11TOOL CASE SYNCFAULT
# CASE: full-disk full-disk-last-bytes growing shrinking vanishing odd-entries output-below-file
#       many-files sync-fails range-sync-fails
# SYNCFAULT: the library that makes chosen syncs fail (syncfault.c)

. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
FAULT="${1:?which case}"
SYNC_FAULT="$(realpath "${2:?which sync fault library}")"

# Source tree "src" with the parts a case changes on purpose in "src/mut", and the last
# file of the walk "zz-sentinel.bak", whose archive shows that the walk went on after a
# failure deeper down.
prepare() {
  WORK="$CASE_DIR/work" SRC="$CASE_DIR/src" OUT="${1:-$CASE_DIR/out}"
  mkdir -p "$WORK" "$SRC"
  random_file "$SRC/zz-sentinel.bak" 2000
  write_path_files "$WORK" "$SRC" "$OUT"
}

sentinel_written() { [ -f "$OUT/zz-sentinel.rar" ]; }

first_job() {
  start_program "$WORK" "$@"
  focus_run_now_from_start
  keys space
}

after_job() {
  no_boxes || fail "a warning box appeared"
  only_sound_archives "$OUT"
  assert_responsive
}

healthy_written() { [ -f "$OUT/healthy-1.rar" ] && [ -f "$OUT/healthy-2.rar" ]; }

# A fresh small tree at the same source path, run with the same window.
healthy_second_job() {
  mv "$SRC" "$CASE_DIR/src.first"
  random_file "$SRC/healthy-1.bak" 5000
  random_file "$SRC/sub/healthy-2.bak" 70000
  record_tree "$SRC"
  keys space
  wait_job healthy_written
  healthy_written || fail "the healthy job after the fault wrote no archives"
  check_archive "$OUT/healthy-1.rar" "$SRC/healthy-1.bak"
  check_archive "$OUT/healthy-2.rar" "$SRC/sub/healthy-2.bak"
  after_job
  same_tree "$SRC"
}

# older_archive NAME: a sound older archive OUT/NAME.rar, which older_kept NAME finds unchanged.
older_archive() {
  mkdir -p "$OUT"
  random_file "$CASE_DIR/older/$1.bak" 500
  bsdtar -cf "$OUT/$1.rar" --format zip -C "$CASE_DIR/older" "$1.bak"
  sha256sum <"$OUT/$1.rar" >"$CASE_DIR/older/$1.sum"
}
older_kept() {
  [ "$(sha256sum <"$OUT/$1.rar")" = "$(cat "$CASE_DIR/older/$1.sum")" ] || fail "the older $1.rar was replaced"
}

source_open() { open_files_in "$SRC/mut" | grep -qx "$SRC/mut/$1"; }

# small_output_disk SIZE: the output directory becomes a tmpfs of SIZE (as mount -o size),
# which the disk itself fills: no reserve stops the job before.
small_output_disk() {
  printf '[output]\nreserve=0\n' >"$WORK/halcyon.ini"
  mkdir -p "$OUT"
  mount -t tmpfs -o size="$1" tmpfs "$OUT" 2>"$CASE_DIR/mount.err" ||
    skip "mounting a $1 tmpfs is not permitted here: $(cat "$CASE_DIR/mount.err")"
  CASE_MOUNTS+=("$OUT")
}

# --- cases -----------------------------------------------------------------------------

full_disk() {
  prepare
  small_output_disk 1m
  random_file "$SRC/d/big.bak" $((4 * 1024 * 1024)) # random bytes do not shrink
  record_tree "$SRC"
  first_job
  wait_job sentinel_written
  [ ! -e "$OUT/big.rar" ] || fail "big.rar was kept although it cannot fit"
  check_archive "$OUT/zz-sentinel.rar" "$SRC/zz-sentinel.bak"
  after_job
  same_tree "$SRC"
  healthy_second_job
}

# The disk fills up with the archive's last buffered bytes: the older archive stays.
full_disk_last_bytes() {
  prepare
  small_output_disk 64k
  older_archive last
  random_file "$SRC/last.bak" 61312 # leaves its archive's last bytes no room
  record_tree "$SRC"
  first_job
  wait_job sentinel_written
  older_kept last
  check_archive "$OUT/zz-sentinel.rar" "$SRC/zz-sentinel.bak"
  after_job
  same_tree "$SRC"
  umount "$OUT"
  healthy_second_job
}

growing() {
  prepare
  local file="$SRC/mut/grow.bak" pool="$CASE_DIR/pool" start_size=$((32 * 1024 * 1024))
  random_file "$file" "$start_size"
  random_file "$pool" $((256 * 1024))
  older_archive grow
  record_tree "$SRC" mut
  first_job
  wait_until 60 source_open grow.bak || fail "the copy of grow.bak was not seen"
  (
    n=0
    while [ "$n" -lt 200 ] && [ ! -f "$OUT/zz-sentinel.rar" ]; do
      cat "$pool" >>"$file"
      n=$((n + 1))
      sleep 0.02
    done
  ) &
  local appender=$!
  CASE_PIDS+=("$appender")
  wait_job sentinel_written
  wait "$appender" || true
  older_kept grow
  check_archive "$OUT/zz-sentinel.rar" "$SRC/zz-sentinel.bak"
  after_job
  same_tree "$SRC" mut
  healthy_second_job
}

shrinking() {
  prepare
  local file="$SRC/mut/shrink.bak"
  random_file "$file" $((128 * 1024 * 1024))
  older_archive shrink
  record_tree "$SRC" mut
  first_job
  wait_until 60 source_open shrink.bak || fail "the copy of shrink.bak was not seen"
  truncate -s 1M "$file"
  wait_job sentinel_written
  older_kept shrink
  check_archive "$OUT/zz-sentinel.rar" "$SRC/zz-sentinel.bak"
  after_job
  same_tree "$SRC" mut
  healthy_second_job
}

vanishing() {
  prepare
  random_file "$SRC/mut/a-big.bak" $((128 * 1024 * 1024))
  random_file "$SRC/mut/b-gone.bak" 1000
  older_archive a-big
  record_tree "$SRC" mut
  first_job
  # The walk has listed the directory; both go while the first is being copied.
  wait_until 60 source_open a-big.bak || fail "the copy of a-big.bak was not seen"
  rm "$SRC/mut/a-big.bak" "$SRC/mut/b-gone.bak"
  wait_job sentinel_written
  [ ! -e "$OUT/b-gone.rar" ] || fail "an archive of a backup that was gone before it was read"
  older_kept a-big
  check_archive "$OUT/zz-sentinel.rar" "$SRC/zz-sentinel.bak"
  after_job
  same_tree "$SRC" mut
  healthy_second_job
}

# The disk reports an error only when the archive is synced: the older archive stays.
sync_fails() {
  prepare
  older_archive doomed
  random_file "$SRC/doomed.bak" 3000
  record_tree "$SRC"
  # A sanitized program wants its runtime first; the fault library comes before it here.
  first_job LD_PRELOAD="$SYNC_FAULT" HALCYON_FAIL_SYNC="$OUT/doomed.rar" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
  wait_job sentinel_written
  older_kept doomed
  check_archive "$OUT/zz-sentinel.rar" "$SRC/zz-sentinel.bak"
  after_job
  same_tree "$SRC"
  healthy_second_job
}

# The disk's error reaches the program while it writes behind itself, not at its final sync.
range_sync_fails() {
  prepare
  older_archive doomed
  random_file "$SRC/doomed.bak" $((20 * 1024 * 1024)) # past two of the ranges it writes behind
  record_tree "$SRC"
  first_job LD_PRELOAD="$SYNC_FAULT" HALCYON_FAIL_RANGE_SYNC="$OUT/doomed.rar" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
  wait_job sentinel_written
  older_kept doomed
  after_job
}

# Nothing here may be archived as x.rar, and nothing may hold the walk up.
odd_entries() {
  prepare
  ln -s . "$SRC/loop"
  mkdir -p "$SRC/d1" "$SRC/d2/x.bak" "$SRC/d3" "$SRC/d4" "$SRC/d5"
  ln -s .. "$SRC/d1/up"
  ln -s missing-target.bak "$SRC/d1/x.bak"
  random_file "$SRC/d2/x.bak/inner2.bak" 700
  mkfifo "$SRC/d3/x.bak"
  (cd "$SRC/d4" && "$E2E_TOOL" socket x.bak) || fail "cannot make a socket"
  [ -S "$SRC/d4/x.bak" ] || fail "no socket at d4/x.bak"
  ln -s /dev/zero "$SRC/d5/x.bak"
  local i
  for i in 1 2 3 4 5; do random_file "$SRC/d$i/y$i.bak" $((i * 1000)); done
  record_tree "$SRC"
  first_job
  E2E_JOB_TIMEOUT=120 wait_job sentinel_written
  expect_archives "$OUT" y1.rar y2.rar y3.rar y4.rar y5.rar inner2.rar zz-sentinel.rar
  for i in 1 2 3 4 5; do check_archive "$OUT/y$i.rar" "$SRC/d$i/y$i.bak"; done
  check_archive "$OUT/inner2.rar" "$SRC/d2/x.bak/inner2.bak"
  after_job
  same_tree "$SRC"
  healthy_second_job
}

output_below_file() {
  local blocker="$CASE_DIR/blocker"
  prepare "$blocker/out"
  random_file "$SRC/a.bak" 3000
  random_file "$SRC/sub/b.bak" 3000
  echo "a plain file where a directory is wanted" >"$blocker"
  local blocker_sum
  blocker_sum="$(sha256sum <"$blocker")"
  record_tree "$SRC"
  first_job
  wait_job
  [ -f "$blocker" ] && [ "$(sha256sum <"$blocker")" = "$blocker_sum" ] || fail "the blocking file was changed"
  after_job
  same_tree "$SRC"
  # The same output path becomes possible.
  rm "$blocker"
  mkdir "$blocker"
  healthy_second_job
}

# 10 000 backups in 100 directories: every one archived, each into its own archive.
many_archives() {
  prepare
  local i j
  for i in $(seq -w 0 99); do
    mkdir -p "$SRC/d$i"
    for j in $(seq -w 0 99); do printf 'backup %s-%s\n' "$i" "$j" >"$SRC/d$i/f$i-$j.bak"; done
  done
  record_tree "$SRC"
  first_job
  E2E_JOB_TIMEOUT=540 wait_job sentinel_written
  local count
  count="$(find "$OUT" -name '*.rar' | wc -l)"
  [ "$count" -eq 10001 ] || fail "$count archives for 10000 backups and the sentinel"
  check_archive "$OUT/f00-00.rar" "$SRC/d00/f00-00.bak"
  check_archive "$OUT/f57-31.rar" "$SRC/d57/f57-31.bak"
  check_archive "$OUT/f99-99.rar" "$SRC/d99/f99-99.bak"
  only_sound_archives "$OUT"
  program_alive || fail "the program is gone (see $PROG_LOG)"
  same_tree "$SRC"
}

# The same, and then the healthy job: the window takes the next command only once it has
# shown every row of the first.
many_files() {
  many_archives
  E2E_JOB_TIMEOUT=420 healthy_second_job
}

start_xvfb
case "$FAULT" in
  full-disk) run_case "$FAULT" full_disk ;;
  full-disk-last-bytes) run_case "$FAULT" full_disk_last_bytes ;;
  growing) run_case "$FAULT" growing ;;
  shrinking) run_case "$FAULT" shrinking ;;
  vanishing) run_case "$FAULT" vanishing ;;
  odd-entries) run_case "$FAULT" odd_entries ;;
  output-below-file) run_case "$FAULT" output_below_file ;;
  many-files) run_case "$FAULT" many_files ;;
  sync-fails) run_case "$FAULT" sync_fails ;;
  range-sync-fails) run_case "$FAULT" range_sync_fails ;;
  *) fail "unknown case $FAULT" ;;
esac
finish
