#!/usr/bin/env bash
# Builds the two packages into dist/, from the version in CMakeLists.txt:
#   kelvanehttpagent_<version>_amd64.deb    (dpkg-deb; checked with lintian)
#   KelvaneHTTPAgent-<version>-setup.exe    (NSIS, makensis)
# `package.sh --deb` builds the Debian package alone (no Windows toolchain).
# Installs what it needs with apt-get first (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
deb_only=false
[ "${1:-}" = --deb ] && deb_only=true
packages=(cmake g++ make libmbedtls-dev dpkg-dev lintian curl ca-certificates)
$deb_only || packages+=(nsis g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

bash scripts/fetch-browser-packages.sh  # the dashboard's chart library
version=$(sed -n 's/^project(KelvaneHTTPAgent VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package.sh: no version in CMakeLists.txt" >&2; exit 1; }
jobs=$(nproc)
cmake --preset run >/dev/null
cmake --build --preset run -j "$jobs" --target KelvaneHTTPAgent kelvane
if ! $deb_only; then
  cmake --preset windows-release >/dev/null
  cmake --build --preset windows-release -j "$jobs" --target KelvaneHTTPAgent
fi
mkdir -p dist
work=$(mktemp -d /tmp/kvpackage.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The Debian package.
root=$work/deb
install -d "$root/DEBIAN" "$root/opt/kelvanehttpagent" "$root/usr/share/doc/kelvanehttpagent" \
  "$root/usr/share/lintian/overrides" "$root/usr/share/kelvanehttpagent/prometheus"
install -m 755 -s build/run/KelvaneHTTPAgent build/run/kelvane "$root/opt/kelvanehttpagent/"
install -m 644 packaging/debian/copyright "$root/usr/share/doc/kelvanehttpagent/copyright"
gzip -9n -c README.md >"$root/usr/share/doc/kelvanehttpagent/README.md.gz"
printf '%s\n' "kelvanehttpagent ($version) stable; urgency=medium" "" \
  "  * Release $version." "" \
  " -- KelvaneHTTPAgent developers <maintainers@kelvanehttpagent.example.org>  $(date -R -d @0)" |
  gzip -9n >"$root/usr/share/doc/kelvanehttpagent/changelog.gz"
# Where rule_files can point, or whence an admin copies it to /etc/prometheus.
install -m 644 packaging/prometheus/kelvane.rules.yml "$root/usr/share/kelvanehttpagent/prometheus/"
install -m 644 packaging/debian/lintian-overrides "$root/usr/share/lintian/overrides/kelvanehttpagent"
install -m 755 packaging/debian/postinst packaging/debian/prerm packaging/debian/postrm "$root/DEBIAN/"
(cd "$root" && find opt usr -type f -exec md5sum {} + | sort -k 2) >"$root/DEBIAN/md5sums"
# The libraries the binaries need, as dpkg-shlibdeps finds them.
mkdir -p "$work/shlibs/debian"
printf 'Source: kelvanehttpagent\n\nPackage: kelvanehttpagent\nArchitecture: amd64\n' \
  >"$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$root/opt/kelvanehttpagent/KelvaneHTTPAgent" \
  "$root/opt/kelvanehttpagent/kelvane" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
cat >"$root/DEBIAN/control" <<CONTROL
Package: kelvanehttpagent
Version: $version
Architecture: amd64
Maintainer: KelvaneHTTPAgent developers <maintainers@kelvanehttpagent.example.org>
Installed-Size: $size
Depends: $depends
Section: utils
Priority: optional
Description: hardware sensor readings over HTTP (HTML, text, XML, JSON, Prometheus)
 KelvaneHTTPAgent publishes the live readings of the machine's hardware
 sensors (temperatures, fan speeds, voltages) over HTTP: an HTML page with a
 settings form, and plain text, XML, JSON and the Prometheus exposition
 format for monitoring tools. Its monitor, kelvane, reads the kernel's
 hwmon sensors. The package registers the systemd service KelvaneHTTPAgent
 without starting or enabling it.
CONTROL
deb=dist/kelvanehttpagent_${version}_amd64.deb
dpkg-deb --root-owner-group --build "$root" "$deb" >/dev/null
echo "built $deb"
lintian --fail-on error "$deb" || { echo "package.sh: lintian reports errors" >&2; exit 1; }

$deb_only && exit 0

# The Windows installer.
setup=dist/KelvaneHTTPAgent-$version-setup.exe
makensis -V2 -DVERSION="$version" -DAGENT="$PWD/build/windows-release/KelvaneHTTPAgent.exe" \
  -DMBEDTLS_LICENSE="$PWD/build/deps/mbedtls-mingw/LICENSE" -DOUTFILE="$PWD/$setup" \
  packaging/windows/installer.nsi
echo "built $setup"
