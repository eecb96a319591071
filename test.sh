#!/usr/bin/env bash
# Installs what is missing, builds and runs every test leg:
#   native    the core, mirror and window tests
#   sanitize  the same tests built with AddressSanitizer + UndefinedBehaviorSanitizer
#   threads   the core and mirror tests built with ThreadSanitizer
#   windows   the core cross-built with MinGW-w64 and run under Wine, and the
#             program's resource script compiled with windres
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
  wineserver -p >/dev/null 2>&1
  wineboot -i >/dev/null 2>&1 </dev/null
}
# The program file's resources (process declaration, icon, version block) compile.
if (cd app && x86_64-w64-mingw32-windres -O coff tarnvel.rc -o "$root/build/tarnvel.res.o"); then
  echo "windres: app/tarnvel.rc compiles"; total_passed=$((total_passed + 1))
else
  broken_legs+=("windows (tarnvel.rc)"); total_failed=$((total_failed + 1))
fi
LEG_BEFORE_TESTS=boot_wine \
  leg windows build/mingw -V -- -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DTARNVEL_BUILD_UI=OFF -DTARNVEL_BUILD_BENCH=OFF
wineserver -k >/dev/null 2>&1 || true

if [ ${#broken_legs[@]} -gt 0 ]; then
  echo "Legs that did not pass: ${broken_legs[*]}"
fi
echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
[ ${#broken_legs[@]} -eq 0 ]
