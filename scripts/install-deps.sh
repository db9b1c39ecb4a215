#!/usr/bin/env bash
# Installs what the project needs on a fresh Debian machine (run as root).
#   install-deps.sh        everything: both builds, every test, fuzzing, benchmarks
#   install-deps.sh run    only what building and running the Linux agent needs
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
run_packages=(cmake g++ make                        # the native build
  libmbedtls-dev                                    # TLS (HTTPS) and SHA-256
  curl ca-certificates)                             # the dashboard's chart library (npm registry)
test_packages=(
  libgtest-dev libbenchmark-dev                     # unit tests and benchmarks
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64    # Windows cross build
  wine64                                            # runs the Windows build
  locales                                           # a comma-decimal locale for formatter tests
  libxml2-utils python3 procps                      # body checks; pgrep/pkill in process tests
  wrk nginx curl                                    # benchmarks
  # libFuzzer and its sanitizers: the runtime's -dev package is versioned
  # with clang (14 on Debian 12, 19 on Debian 13); libclang-rt-dev is the
  # release's own name for the one that matches its clang.
  clang libclang-rt-dev                             # fuzz targets
  prometheus                                        # promtool and a real scrape of the agent
  prometheus-alertmanager                           # the alert rules' real receiver
  prometheus-node-exporter                          # the oracle of the drivers' limits
  chromium chromium-driver python3-selenium         # the dashboard in a real browser
  dpkg-dev lintian nsis                             # the packages (scripts/package.sh)
  openssl apache2-utils testssl.sh                  # test certificates, htpasswd, a TLS audit
)
packages=("${run_packages[@]}")
[ "${1:-all}" = run ] || packages+=("${test_packages[@]}")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The Windows build cross-compiles Debian's own mbedtls source, which
# apt-get source fetches through a deb-src entry of our own.
deb_src=/etc/apt/sources.list.d/kelvanehttpagent-deb-src.sources
if [ "${1:-all}" != run ] && [ ! -e "$deb_src" ]; then
  . /etc/os-release
  cat > "$deb_src" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: ${VERSION_CODENAME:-bookworm}
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  added_source=true
fi
if [ ${#missing[@]} -gt 0 ] || [ -n "${added_source:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  # The servers installed for tests and benchmarks (nginx, prometheus) are
  # started by the tests themselves: keep their packages from starting them.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$policy" && chmod +x "$policy"
    trap 'rm -f "$policy"' EXIT
  fi
  apt-get update -qq
  [ ${#missing[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The browser packages the dashboard embeds, pinned by package-lock.json,
# owned by whoever ran sudo rather than root.
here=$(cd "$(dirname "$0")" && pwd)
if [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  sudo -u "$SUDO_USER" bash "$here/fetch-browser-packages.sh"
else
  bash "$here/fetch-browser-packages.sh"
fi
[ "${1:-all}" = run ] && exit 0
# A locale whose decimal point is a comma: the formatter must still write '.'.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
