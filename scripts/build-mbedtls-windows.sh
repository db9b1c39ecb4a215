#!/usr/bin/env bash
# Cross-builds Debian's own mbedtls source for the Windows target with
# mingw-w64, into build/deps/mbedtls-mingw (include/ and lib/). The Linux
# build uses Debian's libmbedtls-dev instead. Needs the deb-src entry that
# scripts/install-deps.sh adds; skips the work when the libraries are there.
# The agent links it statically; its licence (Apache-2.0) goes with the
# installer.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build/deps/mbedtls-mingw
if [ -f "$out/lib/libmbedtls.a" ] && [ -f "$out/LICENSE" ] && [ -f "$out/version" ] &&
   [ "$(cat "$out/version")" = "$(dpkg-query -W -f='${Version}' libmbedtls-dev 2>/dev/null)" ]; then
  exit 0
fi
work=$(mktemp -d /tmp/kvmbedtls.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # apt-get source downloads as _apt
(cd "$work" && apt-get source -qq -o APT::Sandbox::User=root mbedtls >/dev/null)
src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'mbedtls-*' | head -1)
[ -n "$src" ] || { echo "apt-get source mbedtls gave no source tree" >&2; exit 1; }
# Thread-safe, as Debian configures it for Linux: handshakes run on several
# threads and share the key.
(cd "$src" && python3 scripts/config.py set MBEDTLS_THREADING_C &&
  python3 scripts/config.py set MBEDTLS_THREADING_PTHREAD)
make -C "$src" -s -j "$(nproc)" CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar \
  WINDOWS_BUILD=1 lib >/dev/null
rm -rf "$out"
mkdir -p "$out/lib"
cp -r "$src/include" "$out/include"
cp "$src/LICENSE" "$out/LICENSE"  # the installer ships it beside the agent
cp "$src"/library/libmbedtls.a "$src"/library/libmbedx509.a "$src"/library/libmbedcrypto.a "$out/lib/"
dpkg-query -W -f='${Version}' libmbedtls-dev > "$out/version" 2>/dev/null || echo unknown > "$out/version"
echo "mbedtls for Windows built into $out"
