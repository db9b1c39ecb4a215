#!/usr/bin/env bash
# HTTPS side by side over loopback: the agent with [TLS] and nginx with the
# same certificate, the same suites and no session resumption, serving
# the agent's JSON answer (nginx as a file of the same bytes). wrk loads each
# with "Connection: close", so every request is a full handshake, at 8 and 64
# connections, in alternating rounds; prints requests per second (2xx only),
# p50 and p99, and the median ratios agent/nginx. Then the same with
# keep-alive clients: the agent closes every connection after its answer, so
# its figure is a full handshake per request again, beside nginx reusing its
# connections. The protocol is the clients' choice: both servers offer TLS
# 1.3 and 1.2 (1.2 only where the agent's library has no 1.3), and wrk and
# openssl are held to the one asked for through an OpenSSL configuration.
#
# Usage: bench/https_bench.sh [seconds] [rounds] [ec|rsa] [1.2|1.3]
#        (defaults 10, 3, ec, 1.2)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
duration=${1:-10}
rounds=${2:-3}
key_type=${3:-ec}
protocol=${4:-1.2}
case $protocol in 1.2 | 1.3) ;; *) echo "protocol: 1.2 or 1.3" >&2; exit 2 ;; esac
command -v wrk >/dev/null && command -v nginx >/dev/null || bash scripts/install-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" >/dev/null

make_work https
mkdir -p "$work/www" "$work/agent" "$work/tmp"
cert=server
[ "$key_type" = rsa ] && cert=server-rsa
cp "tests/tls/data/$cert.pem" "tests/tls/data/$cert.key" tests/tls/data/ca.pem "$work/"
# The clients' protocol, for wrk and openssl alike (OpenSSL reads it at start).
cat >"$work/client-tls.cnf" <<CNF
openssl_conf = kv_client
[kv_client]
ssl_conf = kv_ssl
[kv_ssl]
system_default = kv_protocol
[kv_protocol]
MinProtocol = TLSv$protocol
MaxProtocol = TLSv$protocol
CNF

agent_port=$(free_port)
nginx_port=$(free_port)

cp build/linux-release/KelvaneHTTPAgent build/linux-release/kelvane "$work/agent/"
export KVHTTP_REGISTRY_ROOT="$work/registry"
(cd "$work/agent" && ./KelvaneHTTPAgent -setport "$agent_port" >/dev/null &&
  ./KelvaneHTTPAgent -tested >/dev/null)
printf '[TLS]\r\nCertFile=%s\r\nKeyFile=%s\r\n' "$work/$cert.pem" "$work/$cert.key" \
  >>"$work/agent/KelvaneHTTPAgent.ini"
(cd "$work/agent" && exec ./KelvaneHTTPAgent -d >/dev/null 2>&1) &
pids+=($!)
agent_pid=${pids[-1]}
wait_port "$agent_port"
fetch() { curl -sS --cacert "$work/ca.pem" "https://localhost:$agent_port/?format=json"; }
fetch >/dev/null  # starts the monitor
sleep 1
fetch >"$work/www/agent.json"

cat >"$work/nginx.conf" <<NGINX
worker_processes auto;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 4096; }
http {
  access_log off;
  default_type application/json;
  client_body_temp_path $work/tmp;
  proxy_temp_path $work/tmp;
  fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp;
  scgi_temp_path $work/tmp;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $work/$cert.pem;
    ssl_certificate_key $work/$cert.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    ssl_ciphers ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305;
    ssl_ecdh_curve X25519:prime256v1:secp384r1;
    ssl_session_cache off;
    ssl_session_tickets off;
    root $work/www;
  }
}
NGINX
nginx -c "$work/nginx.conf"
wait_port "$nginx_port"
echo "agent: $(curl -sS -o /dev/null -w '%{size_download} bytes over %{ssl_verify_result}' \
  --cacert "$work/ca.pem" "https://localhost:$agent_port/?format=json") (0: verified);" \
  "nginx: $(curl -sS -o /dev/null -w '%{size_download} bytes' --cacert "$work/ca.pem" \
  "https://localhost:$nginx_port/agent.json")"
export OPENSSL_CONF=$work/client-tls.cnf
negotiated() {  # port
  echo | openssl s_client -brief -connect "127.0.0.1:$1" 2>&1 |
    sed -n 's/^Protocol version: //p; s/^Ciphersuite: //p' | paste -sd' '
}
agent_session=$(negotiated "$agent_port")
echo "negotiated: agent $agent_session, nginx $(negotiated "$nginx_port")"
[ "${agent_session%% *}" = "TLSv$protocol" ] ||
  { echo "the agent does not offer TLS $protocol (its library's versions: README, HTTPS)" >&2; exit 1; }

run() {  # name port path connections [close]
  local header=()
  [ "${5:-close}" = close ] && header=(-H 'Connection: close')
  wrk -t2 -c"$4" -d2s "${header[@]}" -s bench/wrk_report.lua "https://127.0.0.1:$2$3" \
    >/dev/null 2>&1 || true
  wrk -t2 -c"$4" -d"${duration}s" "${header[@]}" -s bench/wrk_report.lua \
    "https://127.0.0.1:$2$3" | grep '^RESULT' | sed "s/^RESULT/$1 c=$4/"
}
compare() {  # label connections close|keep
  local label=$1 c=$2 mode=$3 ratios="" p99s="" ours ref
  for round in $(seq 1 "$rounds"); do
    if (( round % 2 )); then
      ours=$(run agent "$agent_port" "/?format=json" "$c" "$mode")
      ref=$(run nginx "$nginx_port" /agent.json "$c" "$mode")
    else
      ref=$(run nginx "$nginx_port" /agent.json "$c" "$mode")
      ours=$(run agent "$agent_port" "/?format=json" "$c" "$mode")
    fi
    printf '  round %d  %s\n  round %d  %s\n' "$round" "$ours" "$round" "$ref"
    ratios+="$(awk -v o="$(field "$ours" rps)" -v n="$(field "$ref" rps)" 'BEGIN { print o / n }')"$'\n'
    p99s+="$(awk -v o="$(field "$ours" p99)" -v n="$(field "$ref" p99)" 'BEGIN { print o / n }')"$'\n'
  done
  printf '%s c=%s  median rps ratio %.2f   median p99 ratio %.2f\n' "$label" "$c" \
    "$(median <<<"${ratios%$'\n'}")" "$(median <<<"${p99s%$'\n'}")"
}

summary=()
for mode in close keep; do
  if [ "$mode" = close ]; then
    label=full-handshake
    echo "the agent and nginx over TLS $protocol ($key_type key), Connection: close: a full handshake per request"
  else
    label=keep-alive
    echo "keep-alive clients (the agent closes after each answer; nginx keeps the connection)"
  fi
  for c in 8 64; do
    line=$(compare "$label" "$c" "$mode")
    echo "$line"
    summary+=("$(tail -1 <<<"$line")")
  done
done
echo
echo "summary: agent/nginx over TLS $protocol ($key_type key), median over $rounds rounds"
printf '%s\n' "${summary[@]}"
echo "agent threads after the load: $(sed -n 's/^Threads:[[:space:]]*//p' "/proc/$agent_pid/status")," \
  "RSS $(sed -n 's/^VmRSS:[[:space:]]*//p' "/proc/$agent_pid/status")"
