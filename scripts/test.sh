#!/usr/bin/env bash
# Runs every test of q_lok on a fresh Debian 12 machine: installs what is
# missing, builds, and runs ctest (which starts and stops the web server,
# the PostgreSQL server and the mail receiver the tests talk to).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QLOK_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh" build test
"$root/scripts/build.sh"
cd "$build"
ctest --output-on-failure --timeout 600 -j "$(nproc)" "$@"
