#!/usr/bin/env bash
# Our agent and monitor beside node_exporter's hwmon collector, on the same
# sysfs-like tree (3 chips, 40 inputs), both over loopback, in one run:
#   - at rest for IDLE seconds: CPU per second and RSS of each (ours is the
#     agent and the monitor together: the monitor refreshes and the agent
#     samples every second), with one scrape of each every 15 s, as a
#     Prometheus at the usual interval makes;
#   - COUNT sequential scrapes of each (a new connection each): CPU per
#     scrape of the serving process, and p50 and p99 latency;
#   - throughput at 8 connections (wrk, 10 s, Connection: close).
# Ratios are ours / node_exporter's: below 1 is cheaper or faster for CPU,
# memory and latency, above 1 is more for throughput.
# Usage: bench/beside_node_exporter.sh [IDLE=60] [COUNT=3000]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
idle=${1:-60}
count=${2:-3000}
command -v prometheus-node-exporter >/dev/null && command -v wrk >/dev/null || bash scripts/install-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target KelvaneHTTPAgent kelvane >/dev/null
make_work beside-node-exporter
make_hwmon_fixture "$work/sys"

node_port=$(free_port)
prometheus-node-exporter --collector.disable-defaults --collector.hwmon \
  --path.sysfs="$work/sys" --web.listen-address="127.0.0.1:$node_port" >"$work/node.log" 2>&1 &
pids+=($!)
node_pid=${pids[-1]}

agent_port=$(free_port)
mkdir -p "$work/agent"
cp build/linux-release/KelvaneHTTPAgent build/linux-release/kelvane "$work/agent/"
printf 'Source=hwmon\nHwmonRoot=%s/sys/class/hwmon\n' "$work" >"$work/agent/kelvaneparams.cfg"
printf '[Settings]\r\nPort=%s\r\nCanLaunch=1\r\n' "$agent_port" >"$work/agent/KelvaneHTTPAgent.ini"
export KVHTTP_REGISTRY_ROOT="$work/registry"
(cd "$work/agent" && exec ./KelvaneHTTPAgent -d >/dev/null 2>&1) &
pids+=($!)
agent_pid=${pids[-1]}
wait_port "$node_port"
wait_port "$agent_port"
ours_url="http://127.0.0.1:$agent_port/?format=prometheus"
node_url="http://127.0.0.1:$node_port/metrics"
curl -sf -o /dev/null "$ours_url"  # starts the monitor
monitor_pid=
for _ in $(seq 50); do
  for exe in /proc/[0-9]*/exe; do
    [ "$(readlink "$exe" 2>/dev/null)" = "$work/agent/kelvane" ] && monitor_pid=${exe//[^0-9]/}
  done
  [ -n "$monitor_pid" ] && break
  sleep 0.1
done
[ -n "$monitor_pid" ] || { echo "the agent started no monitor" >&2; exit 1; }
pids+=("$monitor_pid")
sleep 2  # the monitor's first refreshes, and a first sample
for _ in 1 2 3; do curl -sf -o /dev/null "$ours_url"; curl -sf -o /dev/null "$node_url"; done
echo "answers: ours $(curl -s "$ours_url" | grep -c '^kelvane_') series, node_exporter" \
  "$(curl -s "$node_url" | grep -c '^node_hwmon_') node_hwmon_ series"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b ? a / b : 0 }'; }

# At rest, scraped every 15 s.
agent0=$(cpu_ns "$agent_pid") monitor0=$(cpu_ns "$monitor_pid") node0=$(cpu_ns "$node_pid")
for _ in $(seq 0 15 $((idle - 1))); do
  curl -sf -o /dev/null "$ours_url"; curl -sf -o /dev/null "$node_url"
  sleep 15
done
span=$(( (idle + 14) / 15 * 15 ))
agent_ns=$(( $(cpu_ns "$agent_pid") - agent0 )) monitor_ns=$(( $(cpu_ns "$monitor_pid") - monitor0 ))
node_ns=$(( $(cpu_ns "$node_pid") - node0 ))
per_s() { awk -v ns="$1" -v s="$span" 'BEGIN { printf "%.3f", ns / 1e6 / s }'; }
agent_rss=$(rss_kib "$agent_pid") monitor_rss=$(rss_kib "$monitor_pid") node_rss=$(rss_kib "$node_pid")
echo
echo "at rest over $span s, one scrape each every 15 s (CPU in ms a second, RSS in KiB):"
echo "  agent          $(per_s "$agent_ns") ms/s   RSS $agent_rss"
echo "  monitor        $(per_s "$monitor_ns") ms/s   RSS $monitor_rss"
echo "  ours together  $(per_s $((agent_ns + monitor_ns))) ms/s   RSS $((agent_rss + monitor_rss))"
echo "  node_exporter  $(per_s "$node_ns") ms/s   RSS $node_rss"
idle_cpu_ratio=$(ratio $((agent_ns + monitor_ns)) "$node_ns")
idle_rss_ratio=$(ratio $((agent_rss + monitor_rss)) "$node_rss")

# Sequential scrapes.
scrapes() {  # URL_PORT PATH PID -> "p50 p99 cpu_us_per_scrape"
  local before line
  before=$(cpu_ns "$3")
  line=$(python3 bench/sequential_scrapes.py "$1" "$2" "$count")
  awk -v line="$line" -v ns=$(( $(cpu_ns "$3") - before )) -v n="$count" 'BEGIN {
    split(line, f, "[ =]"); printf "%d %d %.1f\n", f[4], f[6], ns / 1e3 / n }'
}
read -r ours_p50 ours_p99 ours_cpu < <(scrapes "$agent_port" "/?format=prometheus" "$agent_pid")
read -r node_p50 node_p99 node_cpu < <(scrapes "$node_port" /metrics "$node_pid")
echo
echo "$count sequential scrapes (latency and CPU of the serving process, in µs):"
echo "  ours           p50 $ours_p50   p99 $ours_p99   CPU $ours_cpu a scrape"
echo "  node_exporter  p50 $node_p50   p99 $node_p99   CPU $node_cpu a scrape"

# Throughput at 8 connections.
rps() {
  wrk -t2 -c8 -d2s -H 'Connection: close' "$1" >/dev/null 2>&1 || true
  wrk -t2 -c8 -d10s -H 'Connection: close' -s bench/wrk_report.lua "$1" | sed -n 's/.*rps=\([0-9]*\).*/\1/p'
}
ours_rps=$(rps "$ours_url") node_rps=$(rps "$node_url")
echo
echo "throughput at c=8: ours $ours_rps, node_exporter $node_rps scrapes a second"
echo
echo "ours / node_exporter:"
echo "  idle CPU $idle_cpu_ratio   RSS $idle_rss_ratio"
echo "  CPU a scrape $(ratio "$ours_cpu" "$node_cpu")   p50 $(ratio "$ours_p50" "$node_p50")   p99 $(ratio "$ours_p99" "$node_p99")"
echo "  throughput at c=8 $(ratio "$ours_rps" "$node_rps")"
