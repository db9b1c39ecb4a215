#!/usr/bin/env bash
# CPU time of our monitor per refresh, reading a sysfs-like fixture of 3 chips
# and 40 inputs (temperatures, fans, voltages) once a second.
# Usage: bench/monitor_cost.sh [seconds]   (builds the release monitor first)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
seconds=${1:-30}
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target kelvane >/dev/null
make_work monitor-bench
for chip in 0 1 2; do
  dir=$work/devices/chip$chip/hwmon/hwmon$chip
  mkdir -p "$dir" "$work/class/hwmon"
  ln -s "../../devices/chip$chip/hwmon/hwmon$chip" "$work/class/hwmon/hwmon$chip"
  echo "chip$chip" > "$dir/name"
done
for i in $(seq 1 20); do echo $((30000 + i * 100)) > "$work/devices/chip0/hwmon/hwmon0/temp${i}_input"; done
for i in $(seq 1 10); do echo $((900 + i * 10)) > "$work/devices/chip1/hwmon/hwmon1/fan${i}_input"; done
for i in $(seq 0 9); do echo $((1000 + i * 200)) > "$work/devices/chip2/hwmon/hwmon2/in${i}_input"; done
cp build/linux-release/kelvane "$work/kelvane"
printf 'Source=hwmon\nHwmonRoot=%s/class/hwmon\n' "$work" > "$work/kelvaneparams.cfg"
"$work/kelvane" >/dev/null 2>&1 &
pids+=($!)
pid=${pids[-1]}
sleep 2
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
start=$(ticks)
sleep "$seconds"
end=$(ticks)
hz=$(getconf CLK_TCK)
awk -v t=$((end - start)) -v hz="$hz" -v s="$seconds" 'BEGIN {
  cpu = t / hz
  printf "monitor: %.1f ms of CPU per refresh (40 inputs, 3 chips), %.3f%% of one core\n",
         1000 * cpu / s, 100 * cpu / s }'
