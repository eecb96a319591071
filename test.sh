#!/usr/bin/env bash
# Installs what is missing, builds and runs every test leg:
#   native    the core, mirror and window tests
#   sanitize  the same tests built with AddressSanitizer + UndefinedBehaviorSanitizer
#   threads   the core and mirror tests built with ThreadSanitizer
#   windows   everything cross-built with MinGW-w64 against a MinGW build of
#             Qt (scripts/qt-mingw.sh, built once and cached), its tests run
#             under Wine, the program's resource script compiled with windres,
#             and the portable zip made, unpacked and its program run
# Ends with one line "N passed, N failed" over all legs.
set -uo pipefail
cd "$(dirname "$0")"
root=$(pwd)
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" || { echo "package installation failed"; exit 1; }

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1
total_passed=0 total_failed=0 total_skipped=0 broken_legs=()

# leg NAME BUILD_DIR CTEST_ARGS... -- CMAKE_ARGS...
leg() {
  local name=$1 dir=$2; shift 2
  local ctest_args=() cmake_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do ctest_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  cmake_args=("$@")
  echo "=== leg $name ==="
  # Every leg needs its tests: a missing GoogleTest fails the configure step.
  if ! cmake -S "$root" -B "$dir" -G Ninja -DTARNVEL_REQUIRE_TESTS=ON "${cmake_args[@]}" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; broken_legs+=("$name (configure)"); return
  fi
  if ! cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1; then
    grep -E "error|Error|FAILED" "$dir.build.log" | head -40; broken_legs+=("$name (build)"); return
  fi
  [ -z "${LEG_BEFORE_TESTS:-}" ] || "$LEG_BEFORE_TESTS"
  local log="$dir.ctest.log"
  (cd "$dir" && ctest -j "$jobs" --timeout 600 "${ctest_args[@]}") 2>&1 | tee "$log"
  local summary
  summary=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$log" | tail -1)
  if [ -z "$summary" ]; then broken_legs+=("$name (no test ran)"); return; fi
  local failed total skipped
  failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
  total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$summary")
  skipped=$(grep -c "(Skipped)" "$log" || true)
  [ "$total" -gt 0 ] || broken_legs+=("$name (no test ran)")
  [ "$failed" -eq 0 ] || broken_legs+=("$name ($failed failed)")
  echo "leg $name: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
  total_passed=$((total_passed + total - failed - skipped))
  total_failed=$((total_failed + failed))
  total_skipped=$((total_skipped + skipped))
}

mkdir -p build
leg native build/native -- -DCMAKE_BUILD_TYPE=RelWithDebInfo

san_flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$root/tests/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1 \
  leg sanitize build/asan -- -DCMAKE_BUILD_TYPE=Debug -DTARNVEL_BUILD_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=$san_flags" "-DCMAKE_EXE_LINKER_FLAGS=$san_flags"

TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  leg threads build/tsan -- -DCMAKE_BUILD_TYPE=Debug -DTARNVEL_BUILD_UI=OFF -DTARNVEL_BUILD_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=thread -fno-omit-frame-pointer" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread"

# Windows: a throw-away Wine prefix.
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A persistent server, booted just before the tests with its output elsewhere:
# services that Wine starts on demand would otherwise inherit the first test's
# output pipe and keep ctest waiting on it until the test times out.
boot_wine() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  # Started and kept before the tests: two test programs that start a stopped
  # wineserver together under ctest were seen to hang both, to the time-out.
  wineserver -p >/dev/null 2>&1
  wineboot -i >/dev/null 2>&1 </dev/null
  # Wine passes no QT_ variable from the Unix environment on to its programs;
  # the prefix's own environment gives the tests the offscreen platform.
  wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f >/dev/null 2>&1
  # The offscreen platform reads its fonts from one folder: Wine's own, which
  # holds the windows' face (Tahoma) as a Windows system does.
  wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /d 'Z:\usr\share\wine\fonts' /f >/dev/null 2>&1
}
# The program file's resources (process declaration, icon, version block) compile.
if (cd app && x86_64-w64-mingw32-windres -O coff tarnvel.rc -o "$root/build/tarnvel.res.o"); then
  echo "windres: app/tarnvel.rc compiles"; total_passed=$((total_passed + 1))
else
  broken_legs+=("windows (tarnvel.rc)"); total_failed=$((total_failed + 1))
fi
windows_start=$SECONDS
if qt_mingw=$(scripts/qt-mingw.sh); then
  LEG_BEFORE_TESTS=boot_wine \
    leg windows build/mingw -V -- \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release -DTARNVEL_BUILD_BENCH=OFF \
    -DCMAKE_PREFIX_PATH="$qt_mingw" -DQT_HOST_PATH=/usr -DTARNVEL_BUILD_UI=ON
  # The portable zip, and the program run from it on a private X display.
  if [ -f build/mingw/program/tarnvel.exe ]; then
    tests/windows/program_check.sh build/mingw | tee build/mingw.program.log
    zip_passed=$(grep -c "^  ok:" build/mingw.program.log)
    zip_failed=$(grep -c "^  FAILED:" build/mingw.program.log)
    total_passed=$((total_passed + zip_passed))
    total_failed=$((total_failed + zip_failed))
    [ "$zip_failed" -eq 0 ] || broken_legs+=("windows (program check: $zip_failed failed)")
  fi
else
  echo "windows: Qt for MinGW could not be built; the core only"
  broken_legs+=("windows (Qt for MinGW)")
  LEG_BEFORE_TESTS=boot_wine \
    leg windows build/mingw -V -- -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DTARNVEL_BUILD_UI=OFF -DTARNVEL_BUILD_BENCH=OFF
fi
wineserver -k >/dev/null 2>&1 || true
echo "leg windows: $((SECONDS - windows_start)) s"

# The Debian package, as a user gets it: built, checked by lintian, installed
# with apt-get, started, its mirror tool run, its desktop files validated, then
# removed, with nothing of it left. A machine that already has the package
# keeps it: the leg then stops after lintian.
package_check() {
  local what=$1; shift
  if "$@"; then
    echo "  ok: $what"; pkg_passed=$((pkg_passed + 1))
  else
    echo "  FAILED: $what"; pkg_failed=$((pkg_failed + 1))
  fi
}

# Runs a command with its output shown only when it fails.
package_quiet() {
  local out
  out=$("$@" 2>&1) || { echo "$out"; return 1; }
}

# The installed program shows its window and ends with exit code 0 when it is
# closed; nothing it writes lands outside $pkg_scratch.
package_starts() {
  local home=$pkg_scratch/home out
  [ -f "$pkg_scratch/close_shown_window.so" ] || return 1
  mkdir -p "$home/runtime" && chmod 700 "$home/runtime"
  out=$(cd "$home" && HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home/runtime \
    QT_QPA_PLATFORM=offscreen LD_PRELOAD=$pkg_scratch/close_shown_window.so timeout 60 /usr/bin/tarnvel 2>&1) || {
    echo "$out"; return 1; }
  grep -qx "shown: Tarnvel KESTRO" <<<"$out" || { echo "$out"; return 1; }
}

# The installed mirror tool copies a small tree, then deletes what only the
# destination has; diff is the judge.
package_mirrors() {
  local src=$pkg_scratch/source dst=$pkg_scratch/destination rc
  mkdir -p "$src/clips/day 1" "$src/empty" "$dst/old"
  printf 'clip' >"$src/clips/day 1/a.mxf"
  head -c 300000 /dev/urandom >"$src/clips/b.mov"
  printf '<xml/>' >"$src/c.xml"
  printf 'stale' >"$dst/old/d.mov"
  /usr/lib/tarnvel/robocopy "$src" "$dst" /MIR >/dev/null; rc=$?
  [ "$rc" -eq 3 ] || { echo "exit code $rc, want 3 (copied and extras removed)"; return 1; }
  # Besides the tree, the destination holds the tool's list of the copies it verified.
  diff -r --exclude=.tarnvel "$src" "$dst" || return 1
  (cd "$dst" && xxhsum -c --quiet .tarnvel/XXH128SUMS) || return 1
  /usr/lib/tarnvel/robocopy "$src" "$dst" /MIR >/dev/null; rc=$?
  [ "$rc" -eq 0 ] || { echo "second run: exit code $rc, want 0"; return 1; }
}

# One application id names the desktop entry, its icon, the metainfo and its
# launchable; the icons have the sizes their folders say.
package_identity() {
  local id=$1 size dims
  grep -qx "Icon=$id" "/usr/share/applications/$id.desktop" || return 1
  grep -q "<id>$id</id>" "/usr/share/metainfo/$id.metainfo.xml" || return 1
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "/usr/share/metainfo/$id.metainfo.xml" || return 1
  for size in 16 32 48 64 128 256 512; do
    dims=$(python3 -c 'import struct,sys; print("%dx%d" % struct.unpack(">II", open(sys.argv[1],"rb").read()[16:24]))' \
      "/usr/share/icons/hicolor/${size}x${size}/apps/$id.png") || return 1
    [ "$dims" = "${size}x${size}" ] || { echo "${size}x${size} icon is $dims"; return 1; }
  done
}

# Every file and link of the package is gone, and so is every folder it created.
package_gone() {
  local path
  while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then
      grep -qxF "$path" "$pkg_scratch/existed" || { echo "left behind: $path"; return 1; }
    fi
  done <"$pkg_scratch/paths"
  ! dpkg-query -W -f='${db:Status-Abbrev}' tarnvel-kestro 2>/dev/null | grep -q '^.[^n]'
}

package_leg() {
  echo "=== leg package ==="
  local start=$SECONDS deb version
  pkg_passed=0 pkg_failed=0
  local pkg_skipped=0
  pkg_scratch=$(mktemp -d)
  chmod 755 "$pkg_scratch"  # apt reads the package as its own unprivileged user
  if ! deb=$(./package.sh "$pkg_scratch"); then
    broken_legs+=("package (build)"); rm -rf "$pkg_scratch"; return
  fi
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
  package_check "package named after its version" [ "$(basename "$deb")" = "tarnvel-kestro_${version}_$(dpkg --print-architecture).deb" ]
  package_check "depends on the Qt 6 libraries it links" \
    bash -c "dpkg-deb -f '$deb' Depends | grep -q 'libqt6widgets6 (>= 6'"
  package_check "lintian shows no error" package_quiet lintian --fail-on error "$deb"
  if dpkg-query -W -f='${db:Status-Abbrev}' tarnvel-kestro 2>/dev/null | grep -q '^.[^n]'; then
    echo "  skipped: installing and removing, tarnvel-kestro is on this machine already"
    pkg_skipped=1
  else
    local id path pulled sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    dpkg-query -W -f='${Package}:${Architecture} ${Version}\n' | sort >"$pkg_scratch/packages-before"
    dpkg-deb -c "$deb" | awk '{ print substr($6, 2) }' | sed 's|/$||' | grep . >"$pkg_scratch/paths"
    id=$(sed -n 's|^/usr/share/metainfo/\(.*\)\.metainfo\.xml$|\1|p' "$pkg_scratch/paths")
    while read -r path; do
      if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
    done <"$pkg_scratch/paths" >"$pkg_scratch/existed"
    g++ -std=c++20 -shared -fPIC -o "$pkg_scratch/close_shown_window.so" tests/package/close_shown_window.cpp \
      $(pkg-config --cflags --libs Qt6Widgets)
    package_check "apt-get installs it" \
      package_quiet $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb"
    package_check "tarnvel --version names $version" [ "$(/usr/bin/tarnvel --version)" = "Tarnvel KESTRO $version" ]
    package_check "tarnvel shows its window and exits 0 when it is closed" package_starts
    package_check "the installed mirror tool mirrors a small tree" package_mirrors
    package_check "desktop-file-validate passes" package_quiet desktop-file-validate "/usr/share/applications/$id.desktop"
    package_check "appstreamcli validate passes" package_quiet appstreamcli validate --no-net "/usr/share/metainfo/$id.metainfo.xml"
    package_check "one application id, icons of every size" package_identity "$id"
    package_check "apt-get removes it" package_quiet $sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarnvel-kestro
    package_check "none of its files remain" package_gone
    # What the install pulled in goes again.
    dpkg-query -W -f='${Package}:${Architecture} ${Version}\n' | sort >"$pkg_scratch/packages-after"
    pulled=$(comm -13 "$pkg_scratch/packages-before" "$pkg_scratch/packages-after" | cut -d' ' -f1)
    [ -z "$pulled" ] || package_quiet $sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq $pulled
    package_check "the machine has the packages it had" \
      bash -c "dpkg-query -W -f='\${Package}:\${Architecture} \${Version}\n' | sort | cmp -s - '$pkg_scratch/packages-before'"
  fi
  rm -rf "$pkg_scratch"
  [ "$pkg_failed" -eq 0 ] || broken_legs+=("package ($pkg_failed failed)")
  echo "leg package: $pkg_passed passed, $pkg_failed failed, $pkg_skipped skipped ($((SECONDS - start)) s)"
  total_passed=$((total_passed + pkg_passed))
  total_failed=$((total_failed + pkg_failed))
  total_skipped=$((total_skipped + pkg_skipped))
}
package_leg

if [ ${#broken_legs[@]} -gt 0 ]; then
  echo "Legs that did not pass: ${broken_legs[*]}"
fi
echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
[ ${#broken_legs[@]} -eq 0 ]
