#!/usr/bin/env bash
# Installs, from Debian 12's packages, what q_lok needs, by purpose:
#   install-deps.sh build     to build and run the programs
#   install-deps.sh demo      what scripts/demo.sh needs beside them
#   install-deps.sh test      what the tests need beside them
#   install-deps.sh package   what building the Debian package needs
#   install-deps.sh sanitize  what the sanitizer build and fuzzing need
# Without arguments: all of them. Safe to run again; installs only what is
# missing.
#
# Some of these packages bring a service that Debian starts on installing
# and at every boot (lighttpd, nginx and PostgreSQL; fcgiwrap's socket).
# The tests and the demo start their own servers on loopback and need none
# of them, and two web servers started at once fight over port 80, which
# makes the install itself fail. So the services of the packages that this
# script installs are not started by the install (unless the machine has a
# policy of its own in /usr/sbin/policy-rc.d) and not enabled for boot.
# Services that were on the machine before are left as they are.
set -euo pipefail

declare -A groups=(
  # go-md2man turns the manual pages (deploy/man/*.md) into roff
  [build]="g++ cmake ninja-build pkg-config make libsqlite3-dev libpq-dev
           libinih-dev libcurl4-openssl-dev libgmime-3.0-dev tzdata go-md2man"
  [demo]="lighttpd python3 python3-aiosmtpd"
  [test]="googletest libgtest-dev libgmock-dev sqlite3 postgresql lighttpd
          apache2-bin nginx fcgiwrap chromium fonts-ipafont-gothic python3
          python3-aiosmtpd clang-format openssl wrk python3-markdown"
  # lintian judges the built package (scripts/package-smoke.sh)
  [package]="dpkg-dev file lintian"
  # the sanitizer build and the fuzz targets (scripts/sanitize.sh)
  [sanitize]="clang libclang-rt-dev llvm"
)
# The services that the packages above bring.
held_services="lighttpd nginx fcgiwrap postgresql"

wanted=("$@")
if [ ${#wanted[@]} -eq 0 ]; then wanted=(build demo test package sanitize); fi
packages=()
for group in "${wanted[@]}"; do
  [ -n "${groups[$group]+set}" ] || {
    echo "install-deps.sh: no such group: $group (build, demo, test, package, sanitize)" >&2
    exit 2
  }
  read -r -a more <<<"$(echo ${groups[$group]})"
  packages+=("${more[@]}")
done

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

# The services that this install will bring: those not installed yet.
new_services=()
for service in $held_services; do
  [ -e "/etc/init.d/$service" ] || [ -e "/lib/systemd/system/$service.service" ] ||
    new_services+=("$service")
done

policy=/usr/sbin/policy-rc.d
own_policy=false
if [ ! -e "$policy" ] && [ ${#new_services[@]} -gt 0 ]; then
  # Refuses to start these services while the install runs (101: the
  # action is forbidden); every other service is left to its package.
  "${sudo[@]}" tee "$policy" >/dev/null <<POLICY
#!/bin/sh
# Written by q_lok's scripts/install-deps.sh while it installs; removed after.
for service in ${new_services[*]} ${new_services[*]/%/.service} fcgiwrap.socket; do
  [ "\$1" = "\$service" ] && exit 101
done
exit 0
POLICY
  "${sudo[@]}" chmod 755 "$policy"
  own_policy=true
  trap '"${sudo[@]}" rm -f "$policy"' EXIT
fi

echo "Installing: ${missing[*]}"
# Passed through env: sudo would drop an exported variable, and a question
# asked behind the quiet install would hang it.
apt=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900)
"${sudo[@]}" "${apt[@]}" update -qq
"${sudo[@]}" "${apt[@]}" install -y -qq \
  --no-install-recommends "${missing[@]}" >/dev/null

if $own_policy; then
  "${sudo[@]}" rm -f "$policy"
  trap - EXIT
fi
# Not at boot either: only the services this install brought.
for service in "${new_services[@]}"; do
  units=("$service.service")
  [ "$service" != fcgiwrap ] || units+=(fcgiwrap.socket)
  for unit in "${units[@]}"; do
    if [ -e "/lib/systemd/system/$unit" ] && command -v systemctl >/dev/null; then
      "${sudo[@]}" systemctl disable --quiet "$unit" 2>/dev/null || true
    fi
  done
  if [ -e "/etc/init.d/$service" ] && command -v update-rc.d >/dev/null; then
    "${sudo[@]}" update-rc.d "$service" disable >/dev/null 2>&1 || true
  fi
done
