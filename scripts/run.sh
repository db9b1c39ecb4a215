#!/usr/bin/env bash
# Builds the agent and the stand-in monitor (Linux, release), places the
# monitor beside the agent, marks it as tested, and runs the agent in the
# foreground: http://localhost:8167 then shows live SIMULATED readings in
# every format. Ctrl-C ends it.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/install-deps.sh run; else sudo bash scripts/install-deps.sh run; fi
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" --target KelvaneHTTPAgent kelvane
cd build/linux-release
# The agent starts the monitor it finds beside itself once it may: -tested
# gives that permission (stored in KelvaneHTTPAgent.ini).
[ -f kelvaneparams.cfg ] || printf 'StartupHide=false\n' > kelvaneparams.cfg
./KelvaneHTTPAgent -tested >/dev/null
port=$(sed -n 's/^Port=//p' KelvaneHTTPAgent.ini 2>/dev/null | tr -d '\r')
echo "Serving on http://localhost:${port:-8167}/ (also ?format=simple, xml, json). Ctrl-C stops."
exec ./KelvaneHTTPAgent -d
