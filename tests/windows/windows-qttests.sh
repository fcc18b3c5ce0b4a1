# The suite's QtTest programs cross-built for Windows (engine, window, shell), run under
# Wine: build-win64/, which tools/windows/package.sh configures, built whole and tested.
#   bash windows-qttests.sh SOURCE_DIR VERSION
set -euo pipefail
build="$1/build-win64"
[ -f "$build/CMakeCache.txt" ] ||
  { echo "SKIP: no $build: configure it with tools/windows/package.sh" >&2; exit 77; }
. "$1/tools/ensure-deps.sh"
ensure_packages wine wine64

cmake --build "$build" -j2
# A Windows of this run's own, gone with it.
scratch="$(mktemp -d)"
export WINEPREFIX="$scratch/wine"
trap 'wineserver -k 2>/dev/null || true; rm -rf "$scratch"' EXIT
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j2 --timeout 900
