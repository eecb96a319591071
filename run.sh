#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it from an installed
# layout inside build/ (so the mirror tool sits beside it, as it will for users).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" || { echo "package installation failed"; exit 1; }
build=build/release
stage=$PWD/$build/stage
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" \
  -DTARNVEL_BUILD_TESTS=OFF -DTARNVEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build"
cmake --install "$build" >/dev/null
exec "$stage/bin/tarnvel"
