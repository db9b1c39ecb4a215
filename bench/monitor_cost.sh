#!/usr/bin/env bash
# CPU time of our monitor per refresh, reading a sysfs-like fixture of 3 chips
# and 40 inputs (temperatures, fans, voltages) once a second: first the inputs
# alone, then with the limits and alarm flags drivers give beside them.
# Usage: bench/monitor_cost.sh [seconds]   (builds the release monitor first)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
seconds=${1:-30}
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target kelvane >/dev/null
make_work monitor-bench
make_hwmon_fixture "$work"
cp build/linux-release/kelvane "$work/kelvane"
printf 'Source=hwmon\nHwmonRoot=%s/class/hwmon\n' "$work" > "$work/kelvaneparams.cfg"

# One monitor over the tree as it is now, for `seconds`; prints its CPU per
# refresh. The CPU time is the scheduler's own count of the time each of its
# threads ran (schedstat, in nanoseconds): the clock-tick counts of
# /proc/PID/stat miss most of a process that runs for well under a tick.
measure() {  # title
  "$work/kelvane" >/dev/null 2>&1 &
  pids+=($!)
  local pid=${pids[-1]} start end
  sleep 2
  start=$(cpu_ns "$pid")
  sleep "$seconds"
  end=$(cpu_ns "$pid")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  awk -v ns=$((end - start)) -v s="$seconds" -v title="$1" 'BEGIN {
    printf "monitor: %.2f ms of CPU per refresh (40 inputs, 3 chips%s), %.3f%% of one core\n",
           ns / 1e6 / s, title, ns / 1e7 / s }'
}

measure ""
# The same inputs with the limits drivers give: 3 a temperature, 1 a fan,
# 2 a voltage, and an alarm flag each (130 more files).
for i in $(seq 1 20); do
  d=$work/devices/chip0/hwmon/hwmon0
  echo 80000 >"$d/temp${i}_max"; echo 95000 >"$d/temp${i}_crit"
  echo 90000 >"$d/temp${i}_crit_hyst"; echo 0 >"$d/temp${i}_crit_alarm"
done
for i in $(seq 1 10); do
  d=$work/devices/chip1/hwmon/hwmon1
  echo 300 >"$d/fan${i}_min"; echo 0 >"$d/fan${i}_alarm"
done
for i in $(seq 0 9); do
  d=$work/devices/chip2/hwmon/hwmon2
  echo 900 >"$d/in${i}_min"; echo 3000 >"$d/in${i}_max"; echo 0 >"$d/in${i}_alarm"
done
measure ", with their limits"
