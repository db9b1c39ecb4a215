#!/usr/bin/env bash
# Builds the agent and our monitor (Linux, release), places the monitor beside
# the agent, marks it as tested, and runs the agent in the foreground:
# http://localhost:8167 then shows this machine's live hardware sensors in
# every format (simulated readings on a machine without any, such as most
# virtual machines). Ctrl-C ends it.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/install-deps.sh run; else sudo bash scripts/install-deps.sh run; fi
cmake --preset run >/dev/null
cmake --build --preset run -j "$(nproc)" --target KelvaneHTTPAgent kelvane
cd build/run
# The agent starts the monitor it finds beside itself once it may: -tested
# gives that permission (stored in KelvaneHTTPAgent.ini).
[ -f kelvaneparams.cfg ] || printf 'StartupHide=false\n' > kelvaneparams.cfg
./KelvaneHTTPAgent -tested >/dev/null
port=$(sed -n 's/^Port=//p' KelvaneHTTPAgent.ini 2>/dev/null | tr -d '\r')
if compgen -G '/sys/class/hwmon/hwmon*/*_input' >/dev/null ||
   compgen -G '/sys/class/hwmon/hwmon*/device/*_input' >/dev/null; then
  echo "Readings: this machine's hardware sensors (/sys/class/hwmon); journalctl -t kelvane names them."
else
  echo "Readings: SIMULATED -- this machine publishes no hardware sensors in /sys/class/hwmon."
fi
echo "Serving on http://localhost:${port:-8167}/ (also ?format=simple, xml, json);"
echo "the dashboard: http://localhost:${port:-8167}/?format=dashboard. Ctrl-C stops."
exec ./KelvaneHTTPAgent -d
