#!/usr/bin/env bash
# The history's cost in the running agent (release build, 20 readings from a
# sysfs-like fixture read by our monitor):
#   - the agent's CPU time over IDLE seconds without requests, with the
#     history on (History=3600) and off (History=0), side by side;
#   - after HOLD seconds (3600 or more: a full hour kept), the agent's RSS and
#     the whole-window ?format=history answer's size and time.
# Each agent runs in network and mount namespaces of its own (its own
# loopback, single-instance socket and /dev/shm), so both run at once and
# beside anything else. Run as root.
# Usage: bench/history_cost.sh [IDLE=600] [HOLD=3660]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
idle=${1:-600}
hold=${2:-3660}
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target KelvaneHTTPAgent kelvane >/dev/null
make_work history-bench

# 10 temperatures, 5 fans, 5 voltages.
chip=$work/class/hwmon/hwmon0
mkdir -p "$chip"
echo bench > "$chip/name"
for i in $(seq 1 10); do echo $((40000 + i * 250)) > "$chip/temp${i}_input"; done
for i in $(seq 1 5); do echo $((900 + i * 40)) > "$chip/fan${i}_input"; done
for i in $(seq 0 4); do echo $((1000 + i * 300)) > "$chip/in${i}_input"; done

# start NAME HISTORY: an agent with its monitor in a folder and namespaces of its own.
start() {
  local dir=$work/$1
  mkdir -p "$dir"
  cp build/linux-release/KelvaneHTTPAgent build/linux-release/kelvane "$dir/"
  printf 'Source=hwmon\nHwmonRoot=%s/class/hwmon\n' "$work" > "$dir/kelvaneparams.cfg"
  printf '[Settings]\r\nPort=8167\r\nCanLaunch=1\r\nHistory=%s\r\n' "$2" > "$dir/KelvaneHTTPAgent.ini"
  unshare --net --mount --fork bash -c "
    mount -t tmpfs tmpfs /dev/shm && ip link set lo up
    cd '$dir' || exit 1; ./KelvaneHTTPAgent -d >/dev/null 2>&1 & echo \$! > '$dir/pid'; wait" &
  for _ in $(seq 100); do [ -s "$dir/pid" ] && break; sleep 0.1; done
  pids+=("$(cat "$dir/pid")")
}
# inside NAME CMD...: runs a command in that agent's network namespace.
inside() { nsenter -t "$(cat "$work/$1/pid")" -n -- "${@:2}"; }
ticks() { awk '{print $14 + $15}' "/proc/$(cat "$work/$1/pid")/stat"; }

start on 3600
start off 0
sleep 1
for name in on off; do  # the first request starts the monitor
  for _ in $(seq 50); do inside "$name" curl -sf -o /dev/null http://127.0.0.1:8167/ && break; sleep 0.2; done
done
sleep 3
begun=$(date +%s)
on_start=$(ticks on) off_start=$(ticks off)
sleep "$idle"
on_ticks=$(( $(ticks on) - on_start )) off_ticks=$(( $(ticks off) - off_start ))
hz=$(getconf CLK_TCK)
awk -v on="$on_ticks" -v off="$off_ticks" -v hz="$hz" -v s="$idle" 'BEGIN {
  printf "idle CPU over %d s: history on %.2f s (%.3f%% of a core), off %.2f s (%.3f%%)\n",
         s, on / hz, 100 * on / hz / s, off / hz, 100 * off / hz / s }'
rss() { awk '/VmRSS/ {print $2}' "/proc/$(cat "$work/$1/pid")/status"; }
echo "RSS after ${idle} s: history on $(rss on) KiB, off $(rss off) KiB"
kill "$(cat "$work/off/pid")"
left=$(( hold - ($(date +%s) - begun) ))
[ "$left" -gt 0 ] && sleep "$left"
samples=$(inside on curl -s 'http://127.0.0.1:8167/?format=history' |
          python3 -c 'import json,sys; d=json.load(sys.stdin); print(len(d["timestamps"]), len(d["sensors"]))')
echo "after $(( $(date +%s) - begun )) s: $samples (samples, readings) kept; RSS $(rss on) KiB"
for _ in 1 2 3; do
  inside on curl -s -o /dev/null -w 'whole window: %{size_download} bytes in %{time_total} s\n' \
    'http://127.0.0.1:8167/?format=history'
done
