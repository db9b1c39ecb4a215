#!/usr/bin/env bash
# Installs the browser packages that package-lock.json pins into node_modules/:
# each is fetched from the npm registry by name and version, checked against
# the lock file's sha512 integrity, and unpacked. For our dependency-free
# packages this is what `npm ci` does, without needing Node.js on the machine.
# Safe to run again: a package already at its pinned version is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
registry=${NPM_REGISTRY:-https://registry.npmjs.org}
tarball=$(mktemp)
trap 'rm -f "$tarball"' EXIT
# The lock file's entries: "node_modules/NAME": { "version": ..., "integrity": ... }
awk -F'"' '/"node_modules\// {name=substr($2, 14)}
           name && /"version":/ {version=$4}
           name && /"integrity":/ {print name, version, $4; name=""}' package-lock.json |
while read -r name version integrity; do
  target=node_modules/$name
  if grep -qs "\"version\": \"$version\"" "$target/package.json"; then continue; fi
  case "$integrity" in sha512-*) ;; *) echo "$name: no sha512 integrity in package-lock.json" >&2; exit 1 ;; esac
  url="$registry/$name/-/${name##*/}-$version.tgz"
  status=0
  curl -fsSL --retry 3 -o "$tarball" "$url" || status=$?
  if [ "$status" = 60 ]; then
    # The registry's certificate chain is not trusted here (a machine behind
    # an intercepting proxy whose CA it lacks, such as a fresh chroot). What
    # is installed does not depend on it: the download must match the
    # sha512 that the committed lock file pins, checked below.
    echo "$name: the registry's TLS certificate is not trusted here; fetching it anyway," \
      "to be checked against package-lock.json's sha512" >&2
    status=0
    curl -fsSL --retry 3 --insecure -o "$tarball" "$url" || status=$?
  fi
  [ "$status" = 0 ] || { echo "$name $version: download failed (curl exit $status)" >&2; exit 1; }
  expected=$(printf '%s' "${integrity#sha512-}" | base64 -d | od -An -v -tx1 | tr -d ' \n')
  actual=$(sha512sum "$tarball" | cut -d' ' -f1)
  if [ "$expected" != "$actual" ]; then
    echo "$name $version: the download does not match package-lock.json's integrity" >&2
    exit 1
  fi
  rm -rf "$target" && mkdir -p "$target"
  tar -xzf "$tarball" -C "$target" --strip-components=1 --no-same-owner
  echo "installed $name $version"
done
