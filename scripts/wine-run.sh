#!/usr/bin/env bash
# Runs a Windows executable under wine64. Uses $WINEPREFIX when the caller
# prepared one (scripts/test.sh keeps one prefix and its wineserver alive for a
# whole test session); otherwise makes a throw-away prefix for this one run.
set -u
export WINEDEBUG=${WINEDEBUG:--all}
WINE=${KV_WINE:-/usr/lib/wine/wine64}
WINESERVER=/usr/lib/wine/wineserver  # Debian keeps it outside the PATH
own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
  own_prefix=$(mktemp -d /tmp/kvwine.XXXXXX)
  export WINEPREFIX=$own_prefix
fi
"$WINE" "$@"
rc=$?
if [ -n "$own_prefix" ]; then
  "$WINESERVER" -k 2>/dev/null
  rm -rf "$own_prefix"
fi
exit $rc
