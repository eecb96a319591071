#!/usr/bin/env bash
# Builds Qt's base module for 64-bit Windows (MinGW-w64) from Debian's own qt6-base source, once, into a cache
# folder outside the source tree, and prints that folder. Later calls find the stamped build and do nothing.
#   QT_MINGW_CACHE   where the builds live (default ${XDG_CACHE_HOME:-$HOME/.cache}/tarnvel)
#   QT_MINGW_JOBS    parallel compile jobs (default: the number of cores)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${QT_MINGW_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnvel}
jobs=${QT_MINGW_JOBS:-$(nproc)}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The host's Qt tools (moc, rcc, uic) must be the same version as the source.
version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null | sed -E 's/^[0-9]+://; s/[-+~].*//')
[ -n "$version" ] || { echo "qt-mingw: qt6-base-dev-tools is not installed" >&2; exit 1; }
stamp_text="qt6-base $version $(sha256sum "$0" | cut -c1-16)"
prefix="$cache/qt6-mingw-$version"
if [ -f "$prefix/.stamp" ] && [ "$(cat "$prefix/.stamp")" = "$stamp_text" ]; then
  echo "$prefix"; exit 0
fi

# Debian's source package, through a deb-src entry for the archive the machine already uses.
work="$cache/qt6-mingw-work"
mkdir -p "$work"
if ! ls "$work"/qt6-base-*/CMakeLists.txt >/dev/null 2>&1; then
  if ! apt-get source --download-only -qq --print-uris qt6-base >/dev/null 2>&1; then
    uri=$(grep -hE '^URIs:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1 | awk '{print $2}')
    suite=$(grep -hE '^Suites:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1 | awk '{print $2}')
    if [ -n "$uri" ]; then
      printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$uri" "${suite:-bookworm}" | $sudo tee /etc/apt/sources.list.d/tarnvel-src.sources >/dev/null
    else
      sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list | $sudo tee /etc/apt/sources.list.d/tarnvel-src.list >/dev/null
    fi
    $sudo apt-get update -qq
  fi
  (cd "$work" && apt-get source --download-only -qq "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)" \
     && dpkg-source -x qt6-base_*.dsc >/dev/null)
fi
src=$(ls -d "$work"/qt6-base-*/ | head -1)

build="$work/build"
rm -rf "$build" "$prefix"
# Only what the program and its tests use: Core, Gui, Widgets, Network (local sockets), Test; the windows,
# offscreen and minimal platform plugins and the Windows style. Wintab is not in Debian's source, and the windows
# plugin of this version does not compile without OpenGL, so OpenGL stays (loaded at run time).
cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64 \
  -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix \
  -DCMAKE_RC_COMPILER=x86_64-w64-mingw32-windres -DCMAKE_FIND_ROOT_PATH=/usr/x86_64-w64-mingw32 \
  -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
  -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DINPUT_opengl=dynamic -DFEATURE_tabletevent=OFF \
  -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_dbus=OFF \
  -DFEATURE_xml=OFF -DFEATURE_openssl=OFF -DFEATURE_zstd=OFF -DFEATURE_vulkan=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_jpeg=OFF \
  -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF \
  -DFEATURE_system_doubleconversion=OFF \
  >"$work/configure.log" 2>&1 || { tail -40 "$work/configure.log" >&2; exit 1; }
cmake --build "$build" -j "$jobs" >"$work/build.log" 2>&1 || { grep -E "error|FAILED" "$work/build.log" | head -40 >&2; exit 1; }
cmake --install "$build" >"$work/install.log" 2>&1
echo "$stamp_text" >"$prefix/.stamp"
rm -rf "$build"
echo "$prefix"
