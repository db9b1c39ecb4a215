# Shared by the benchmark scripts (sourced, not run).

# A TCP port nothing listens on now.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# Waits (10 s at most) until something listens on the loopback port $1.
wait_port() {
  for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  exit 1
}

# The number after " NAME=" in a RESULT line of bench/wrk_report.lua.
field() { sed -n "s/.* $2=\([0-9]*\).*/\1/p" <<<"$1"; }

# The median of the numbers on standard input, one per line.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# A work folder for one run, in $work (world-readable, for nginx's workers),
# and $pids for what the run starts. At exit the pids are stopped, and so is
# whatever still runs from the folder (the monitor an agent started, nginx
# by its pid file); then the folder goes. Usage: make_work NAME
make_work() {
  work=$(mktemp -d "/tmp/kv$1.XXXXXX")
  chmod 755 "$work"
  pids=()
  trap remove_work EXIT
}

remove_work() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  pkill -f "$work/" 2>/dev/null || true
  sleep 0.5
  rm -rf "$work"
}
