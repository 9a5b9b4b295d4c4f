#!/usr/bin/env bash
# Installs, from Debian 12's packages, everything q_lok needs to build, to
# run its tests and to serve the demo. Safe to run again.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config make
  googletest libgtest-dev libgmock-dev
  libsqlite3-dev sqlite3
  libpq-dev postgresql
  libinih-dev
  libcurl4-openssl-dev
  lighttpd
  chromium
  python3 python3-aiosmtpd
  tzdata
  # the sanitizer build and the fuzz targets (scripts/sanitize.sh)
  clang libclang-rt-dev llvm
)

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=900 update -qq
  "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Debian package starts its own servers; the tests and the demo start
# their own on loopback, so keep the packaged ones out of the way.
for service in lighttpd postgresql; do
  if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet "$service" 2>/dev/null; then
    "${sudo[@]}" systemctl stop "$service" || true
  fi
done
