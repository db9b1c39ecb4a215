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

# The CPU time all threads of process $1 have run, in nanoseconds (the
# scheduler's count, exact where clock ticks are not).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d", s }'; }

# The benchmarks' sysfs-like tree under $1: 3 chips and 40 inputs, 20
# temperatures, 10 fans and 10 voltages, as $1/class/hwmon/hwmonN links to
# $1/devices/chipN/hwmon/hwmonN (the shape the kernel gives).
make_hwmon_fixture() {
  local chip dir
  for chip in 0 1 2; do
    dir=$1/devices/chip$chip/hwmon/hwmon$chip
    mkdir -p "$dir" "$1/class/hwmon"
    ln -s "../../devices/chip$chip/hwmon/hwmon$chip" "$1/class/hwmon/hwmon$chip"
    echo "chip$chip" > "$dir/name"
  done
  for i in $(seq 1 20); do echo $((30000 + i * 100)) > "$1/devices/chip0/hwmon/hwmon0/temp${i}_input"; done
  for i in $(seq 1 10); do echo $((900 + i * 10)) > "$1/devices/chip1/hwmon/hwmon1/fan${i}_input"; done
  for i in $(seq 0 9); do echo $((1000 + i * 200)) > "$1/devices/chip2/hwmon/hwmon2/in${i}_input"; done
}

# The resident memory of process $1, in KiB.
rss_kib() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$1/status"; }
