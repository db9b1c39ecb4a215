#!/usr/bin/env bash
# Installs what is missing, builds the Linux (ASan + UBSan) and Windows
# targets, and runs every test: natively, and the Windows build under wine.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then
  bash scripts/install-deps.sh
else
  sudo bash scripts/install-deps.sh
fi

jobs=$(nproc)
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
# The optimised build is what the run command uses (and the benchmarks).
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$jobs"

# One wine prefix for the whole session, its wineserver kept alive so that each
# test start costs about two seconds instead of a new prefix's seven or eight.
export WINEDEBUG=-all
# Debian's wine64 keeps wineserver outside the PATH.
WINESERVER=/usr/lib/wine/wineserver
WINEPREFIX=$(mktemp -d /tmp/kvwine-test.XXXXXX)
export WINEPREFIX
cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
"$WINESERVER" -p >/dev/null 2>&1 || true

status=0
echo "== Linux tests =="
ctest --preset linux -j "$jobs" || status=1
echo "== Windows tests (wine) =="
ctest --preset windows || status=1

# Both packages, built in every run, and their install tests (the Debian
# package installs only in the CI's fresh Debian, where FRESH_DEBIAN=1).
echo "== Packages =="
if bash scripts/package.sh >/tmp/kvpackage.log 2>&1; then
  ls -l dist/
  python3 tests/process/package_test.py || status=1
else
  tail -30 /tmp/kvpackage.log
  echo "packaging failed"
  status=1
fi

# The parsers under libFuzzer for a bounded time (clang, ASan + UBSan).
echo "== Fuzzing the parsers (${KV_FUZZ_SECONDS:-30} s) =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" >/dev/null
corpus=$(mktemp -d /tmp/kvfuzz.XXXXXX)
cp fuzz/corpus/* "$corpus"/
if build/fuzz/parsers_fuzz -max_total_time="${KV_FUZZ_SECONDS:-30}" -print_final_stats=0 \
    "$corpus" >"$corpus.log" 2>&1; then
  echo "fuzzing: no failure"
else
  tail -40 "$corpus.log"
  echo "fuzzing found a failure"
  status=1
fi
rm -rf "$corpus" "$corpus.log"

# Every test stops what it started: nothing of ours may still run.
"$WINESERVER" -k >/dev/null 2>&1 || true
sleep 1
if leftovers=$(pgrep -a -f '(^|[/\\])(kelvane|KelvaneHTTPAgent)(\.exe)?( |$)'); then
  echo "processes left running by the tests:"
  echo "$leftovers"
  status=1
fi
exit $status
