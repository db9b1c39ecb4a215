#!/usr/bin/env bash
# The agent (release build, our monitor publishing) and nginx under the same
# connection floods over loopback: IDLE idle connections, then SLOW clients
# that send one byte every 5 s, each held SECONDS, while a normal client asks
# for the JSON answer (nginx: a file of the same size) every 50 ms. Prints
# threads and RSS at rest, during and 40 s after each flood, and the normal
# client's p50/p99 (bench/idle_connections.py flood). Run as root (the agent
# allows one instance per machine: not while the tests run).
# Usage: bench/flood_bench.sh [IDLE=19500] [SLOW=2000] [SECONDS=20]
# (19,500 idle: the agent and nginx each need a descriptor per connection, and
# machines that cap the open-file limit at 20,000 allow no more.)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
idle=${1:-19500}
slow=${2:-2000}
seconds=${3:-20}
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" --target KelvaneHTTPAgent kelvane >/dev/null
make_work flood
agent_port=$(free_port)
nginx_port=$(free_port)
mkdir -p "$work/agent" "$work/www" "$work/tmp"
cp build/linux-release/KelvaneHTTPAgent build/linux-release/kelvane "$work/agent/"
export KVHTTP_REGISTRY_ROOT="$work/registry"
(cd "$work/agent" && ./KelvaneHTTPAgent -setport "$agent_port" >/dev/null && ./KelvaneHTTPAgent -tested >/dev/null)
# Tens of thousands of connections need more descriptors than the usual 1024.
ulimit -Hn 65536 2>/dev/null || true
ulimit -n "$(ulimit -Hn)"
(cd "$work/agent" && exec ./KelvaneHTTPAgent -d >/dev/null 2>&1) &
pids+=($!)
agent_pid=${pids[-1]}
for _ in $(seq 100); do curl -sf -o "$work/www/agent.json" "http://127.0.0.1:$agent_port/?format=json" && break; sleep 0.1; done
sleep 1
curl -s -o "$work/www/agent.json" "http://127.0.0.1:$agent_port/?format=json"
cat > "$work/nginx.conf" <<NGINX
worker_processes 2;
worker_rlimit_nofile 65536;
pid $work/nginx.pid;
error_log $work/nginx-error.log crit;
events { worker_connections 32768; }
http {
  access_log off;
  client_body_temp_path $work/tmp;
  proxy_temp_path $work/tmp;
  fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp;
  scgi_temp_path $work/tmp;
  server { listen 127.0.0.1:$nginx_port backlog=4096 reuseport; root $work/www; }
}
NGINX
nginx -c "$work/nginx.conf"
sleep 0.5
echo "the agent ($(wc -c <"$work/www/agent.json")-byte JSON answer), $idle idle then $slow slow clients, ${seconds} s each"
python3 bench/idle_connections.py flood "$agent_port" "/?format=json" "$idle" "$slow" "$seconds" "$agent_pid"
echo "nginx (2 workers) serving a file of the same size, the same floods"
python3 bench/idle_connections.py flood "$nginx_port" /agent.json "$idle" "$slow" "$seconds" \
  "$(cat "$work/nginx.pid")" $(pgrep -P "$(cat "$work/nginx.pid")")
