#!/usr/bin/env bash
# Builds the Debian package tarnvel-kestro_<version>_<arch>.deb from a build in
# build/package, into OUTPUT_FOLDER (this folder when not given), and
# prints its path:
#   ./package.sh && sudo apt install ./tarnvel-kestro_*.deb
set -euo pipefail
out=$(realpath "${1:-$(dirname "$0")}")
cd "$(dirname "$0")"
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}" || { echo "package installation failed"; exit 1; }
build=build/package
mkdir -p build
# Optimised with debug information, which the package strips, as Debian builds
# its own packages; the test legs' builds share the compiler cache with it.
# The build's output goes to logs, shown when a step fails.
if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARNVEL_BUILD_TESTS=OFF -DTARNVEL_BUILD_BENCH=OFF >"$build.configure.log" 2>&1; then
  cat "$build.configure.log" >&2; exit 1
fi
if ! cmake --build "$build" -j "$(nproc)" >"$build.build.log" 2>&1; then
  grep -E "error|Error|FAILED" "$build.build.log" | head -40 >&2; exit 1
fi
rm -f "$build"/tarnvel-kestro_*.deb
(cd "$build" && cpack -G DEB) >"$build.cpack.log" 2>&1 || { cat "$build.cpack.log" >&2; exit 1; }
deb=$(ls "$build"/tarnvel-kestro_*.deb)
mv "$deb" "$out/"
echo "$out/$(basename "$deb")"
