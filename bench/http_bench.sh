#!/usr/bin/env bash
# Side-by-side HTTP benchmark over loopback: our server and nginx serve the
# same files; wrk loads each with "Connection: close" at 8 and 64 connections
# (2 s warm-up, then 10 s measured). Prints requests per second (2xx only),
# p50 and p99 for each, and the ratios ours/nginx.
#
# Each comparison runs in several rounds, ours and nginx one after the other
# (their order alternating), and reports the median of the rounds' ratios: on
# a shared 2-core machine one 10-second sample of either side can be off by
# 15%, and neighbouring samples share the machine's mood.
#
# Usage: bench/http_bench.sh [seconds] [rounds]   (defaults 10 and 3)
#        KV_BENCH_ONLY="json html history-since" picks comparisons by label.
#        KV_BENCH_LIMITS=1 gives every reading limits in [Limits] as well, so
#        that the sensors, history and Prometheus answers carry them.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
duration=${1:-10}
rounds=${2:-3}
command -v wrk >/dev/null && command -v nginx >/dev/null || bash scripts/install-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" >/dev/null

make_work bench

chmod 755 "$work"
mkdir -p "$work/www"
python3 - "$work/www/data.json" <<'PY'
import json, sys
readings = {"comment": "benchmark payload", "temperatures": list(range(40, 72)),
            "fans": [1200 + i for i in range(20)], "voltages": [1.2, 3.3, 5.0, 12.0]}
text = json.dumps(readings)
text = text[:-1] + ', "pad": "' + "x" * max(0, 400 - len(text) - 11) + '"}'
open(sys.argv[1], "w").write(text[:400] if len(text) > 400 else text)
PY

ours_port=$(free_port)
nginx_port=$(free_port)

# Idle workers beyond the kept ones end after 1 s here (30 s by default), so
# that the idle-connection check below sees the memory come back quickly.
KV_IDLE_WORKER_EXIT_MS=1000 build/linux-release/bench/static_server "$ours_port" "$work/www" &
pids+=($!)

cat > "$work/nginx.conf" <<NGINX
worker_processes auto;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 4096; }
http {
  access_log off;
  default_type application/octet-stream;
  client_body_temp_path $work/tmp;
  proxy_temp_path $work/tmp;
  fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp;
  scgi_temp_path $work/tmp;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
  }
}
NGINX
mkdir -p "$work/tmp"
nginx -c "$work/nginx.conf"

wait_port "$ours_port"
wait_port "$nginx_port"

wrk_script=bench/wrk_report.lua
run() {  # name port path connections
  wrk -t2 -c"$4" -d2s -H 'Connection: close' -s "$wrk_script" "http://127.0.0.1:$2$3" >/dev/null 2>&1 || true
  wrk -t2 -c"$4" -d"${duration}s" -H 'Connection: close' -s "$wrk_script" \
    "http://127.0.0.1:$2$3" | grep '^RESULT' | sed "s/^RESULT/$1 c=$4/"
}


# compare LABEL CONNECTIONS OUR_NAME OUR_PORT OUR_PATH REF_NAME REF_PORT REF_PATH
# Prints every round's lines, then the median ratios (requests/s and p99).
compare() {
  local label=$1 c=$2 rps_ratios="" p99_ratios="" ours ref
  # KV_BENCH_ONLY="json html" runs only those comparisons.
  if [ -n "${KV_BENCH_ONLY:-}" ] && [[ " $KV_BENCH_ONLY " != *" $label "* ]]; then return; fi
  for round in $(seq 1 "$rounds"); do
    if (( round % 2 )); then
      ours=$(run "$3" "$4" "$5" "$c"); ref=$(run "$6" "$7" "$8" "$c")
    else
      ref=$(run "$6" "$7" "$8" "$c"); ours=$(run "$3" "$4" "$5" "$c")
    fi
    printf '  round %d  %s\n  round %d  %s\n' "$round" "$ours" "$round" "$ref"
    rps_ratios+="$(awk -v o="$(field "$ours" rps)" -v n="$(field "$ref" rps)" 'BEGIN { print o / n }')"$'\n'
    p99_ratios+="$(awk -v o="$(field "$ours" p99)" -v n="$(field "$ref" p99)" 'BEGIN { print o / n }')"$'\n'
  done
  printf '%s c=%s  median rps ratio %.2f   median p99 ratio %.2f\n' "$label" "$c" \
    "$(median <<<"${rps_ratios%$'\n'}")" "$(median <<<"${p99_ratios%$'\n'}")"
}

summary=()
echo "our server and nginx, 400-byte JSON file, Connection: close ($rounds rounds)"
for c in 8 64; do
  line=$(compare file "$c" ours "$ours_port" /data.json nginx "$nginx_port" /data.json)
  echo "$line"
  summary+=("$(tail -1 <<<"$line")")
done
echo
echo "1000 idle connections against our server"
python3 bench/idle_connections.py "$ours_port" "${pids[0]}" /data.json 1000

# The agent itself, with the stand-in monitor publishing, beside nginx serving
# files of the same sizes as its JSON, HTML and Prometheus answers.
agent_port=$(free_port)
mkdir -p "$work/agent"
cp build/linux-release/KelvaneHTTPAgent build/linux-release/kelvane "$work/agent/"
export KVHTTP_REGISTRY_ROOT="$work/registry"
(cd "$work/agent" && ./KelvaneHTTPAgent -setport "$agent_port" >/dev/null && ./KelvaneHTTPAgent -tested >/dev/null)
# Every reading named, so the page, the Prometheus answer and ?format=sensors
# carry names (the stand-in monitor publishes none of its own).
{
  printf '[Labels]\r\n'
  for i in 1 2 3 4 5; do printf 'Temperature%d=CPU core %d\r\n' "$i" "$i"; done
  for i in 1 2 3; do printf 'Fan%d=Case fan %d\r\n' "$i" "$i"; done
  for i in 1 2 3 4; do printf 'Voltage%d=Rail %d\r\n' "$i" "$i"; done
  if [ -n "${KV_BENCH_LIMITS:-}" ]; then
    printf '[Limits]\r\n'
    for i in 1 2 3 4 5; do printf 'Temperature%d=warning 80, critical 95\r\n' "$i"; done
    for i in 1 2 3; do printf 'Fan%d=warning 400, critical 200\r\n' "$i"; done
    for i in 1 2 3 4; do printf 'Voltage%d=warning 0.5..14, critical 0.2..15\r\n' "$i"; done
  fi
} >>"$work/agent/KelvaneHTTPAgent.ini"
(cd "$work/agent" && exec ./KelvaneHTTPAgent -d >/dev/null 2>&1) &
pids+=($!)
agent_pid=${pids[-1]}
wait_port "$agent_port"
curl -s "http://127.0.0.1:$agent_port/?format=json" >"$work/www/agent.json"  # starts the monitor
sleep 1
curl -s "http://127.0.0.1:$agent_port/?format=json" >"$work/www/agent.json"
curl -s "http://127.0.0.1:$agent_port/" >"$work/www/agent.htm"
curl -s "http://127.0.0.1:$agent_port/?format=prometheus" >"$work/www/agent.prom"
curl -s "http://127.0.0.1:$agent_port/?format=sensors" >"$work/www/agent.sensors"
# One second of history: the newest sample, as the dashboard polls it.
since=$(( $(date +%s) * 1000 - 500 ))
curl -s "http://127.0.0.1:$agent_port/?format=history&since=$since" >"$work/www/agent.history"
echo
echo "agent answers: JSON $(wc -c <"$work/www/agent.json") bytes, HTML $(wc -c <"$work/www/agent.htm") bytes," \
  "Prometheus $(wc -c <"$work/www/agent.prom") bytes, sensors $(wc -c <"$work/www/agent.sensors") bytes," \
  "one second of history $(wc -c <"$work/www/agent.history") bytes" \
  "(HTML, Prometheus and sensors with names)"
echo "the agent and nginx, files of the same sizes, Connection: close ($rounds rounds)"
for c in 8 64; do
  line=$(compare json "$c" agent-json "$agent_port" "/?format=json" nginx-json "$nginx_port" /agent.json)
  echo "$line"
  summary+=("$(tail -1 <<<"$line")")
  line=$(compare html "$c" agent-html "$agent_port" / nginx-html "$nginx_port" /agent.htm)
  echo "$line"
  summary+=("$(tail -1 <<<"$line")")
  line=$(compare prometheus "$c" agent-prometheus "$agent_port" "/?format=prometheus" \
         nginx-prometheus "$nginx_port" /agent.prom)
  echo "$line"
  summary+=("$(tail -1 <<<"$line")")
  line=$(compare sensors "$c" agent-sensors "$agent_port" "/?format=sensors" \
         nginx-sensors "$nginx_port" /agent.sensors)
  echo "$line"
  summary+=("$(tail -1 <<<"$line")")
  wrk_script=bench/wrk_history.lua
  line=$(compare history-since "$c" agent-history "$agent_port" "/?format=history" \
         nginx-history "$nginx_port" "/agent.history?format=history")
  wrk_script=bench/wrk_report.lua
  echo "$line"
  summary+=("$(tail -1 <<<"$line")")
done
echo
echo "summary: ours/nginx, median over $rounds rounds"
printf '%s\n' "${summary[@]}"

rss() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$agent_pid/status"; }
threads() { sed -n 's/^Threads:[[:space:]]*//p' "/proc/$agent_pid/status"; }
count() { wrk -t2 -c8 -d"$1" -H 'Connection: close' -s bench/wrk_report.lua \
            "http://127.0.0.1:$agent_port/?format=json" | sed -n 's/.*rps=\([0-9]*\).*/\1/p'; }
echo
r1=$(count 1s); rss_small=$(rss)
r2=$(count 20s); rss_large=$(rss)
echo "agent RSS after ~$r1 requests: ${rss_small} KiB; after ~$((r1 + r2 * 20)) more: ${rss_large} KiB"
echo "agent threads right after the load: $(threads)"
# Idle workers beyond the 16 kept ones end after 30 s without work.
sleep 32
echo "agent threads 32 s later: $(threads) (main, listener, draining thread, 16 idle workers)"
