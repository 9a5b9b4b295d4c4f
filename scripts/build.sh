#!/usr/bin/env bash
# Configures and builds q_lok into build/ (or $QLOK_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QLOK_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${QLOK_BUILD_TYPE:-RelWithDebInfo} >/dev/null
ninja -C "$build"
