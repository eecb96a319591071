#!/usr/bin/env bash
# The portable Windows program as a user gets it, from a MinGW build (BUILD):
# cpack makes the zip, its layout is checked, and the program is started from
# the unpacked folder under Wine on a private X display with the Windows
# platform plugin: its window is found by its title, "Sincronizar" mirrors two
# folders with the stand-in robocopy.exe beside the program, the
# destination is checked and the program is closed. A screenshot of the screen
# is left in BUILD/program_check.png where ImageMagick's import is at hand.
# Needs a booted WINEPREFIX, Xvfb, xdotool and unzip. Prints one
# line per check; the exit status is the number of failed checks.
#   program_check.sh BUILD
set -uo pipefail
build=$(cd "$1" && pwd)
wine=${WINE:-/usr/lib/wine/wine64}
scratch=$(mktemp -d)
passed=0 failed=0 xvfb="" program=""
finish() {
  [ -z "$program" ] || kill "$program" 2>/dev/null
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null
  rm -rf "$scratch"
}
trap finish EXIT

check() {
  local what=$1; shift
  if "$@"; then
    echo "  ok: $what"; passed=$((passed + 1))
  else
    echo "  FAILED: $what"; failed=$((failed + 1))
  fi
}

# Polls a command for up to SECONDS seconds.
within() {
  local seconds=$1; shift
  for _ in $(seq $((seconds * 5))); do
    "$@" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
zip=$scratch/tarnvel-kestro-$version-win64.zip
make_zip() { (cd "$build" && cpack -G ZIP -B "$scratch" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; return 1; }; [ -f "$zip" ]; }
check "cpack -G ZIP makes tarnvel-kestro-$version-win64.zip" make_zip

# The program with everything it loads, in one folder of its own, and no robocopy.exe:
# on Windows the program runs the system's.
layout() {
  local want have
  want=$(printf '%s\n' tarnvel.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll Qt6Network.dll libstdc++-6.dll \
    libgcc_s_seh-1.dll libwinpthread-1.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll |
    sed "s|^|tarnvel-kestro-$version-win64/bin/|" | sort)
  have=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
  [ "$want" = "$have" ] || { diff <(echo "$want") <(echo "$have"); return 1; }
}
check "the zip holds the program, Qt's DLLs and plugins and the MinGW runtime, no robocopy.exe" layout
unzip -q "$zip" -d "$scratch/unpacked" 2>/dev/null
bin=$scratch/unpacked/tarnvel-kestro-$version-win64/bin

# A private display, and two folders.
exec 5>"$scratch/display"
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
exec 5>&-
within 20 test -s "$scratch/display" || { echo "  FAILED: Xvfb did not start"; exit $((failed + 1)); }
export DISPLAY=:$(cat "$scratch/display")
src=$scratch/origem dst=$scratch/destino
mkdir -p "$src/clips/dia 1" "$dst"
head -c 300000 /dev/urandom >"$src/clips/dia 1/a.mov"
printf '<clip/>' >"$src/clips/a.xml"
key='HKCU\Software\Corvalen\TARNVEL'
"$wine" reg add "$key" /v storage_Origem /d "$("$wine" winepath -w "$src")" /f >/dev/null 2>&1
"$wine" reg add "$key" /v storage_Destino /d "$("$wine" winepath -w "$dst")" /f >/dev/null 2>&1
"$wine" reg add "$key" /v AutoCheck /d 0 /f >/dev/null 2>&1  # only the click mirrors

# The stand-in goes where the program looks first, beside it: on the search
# path, Wine's own robocopy.exe in system32 would come before it.
cp "$build/tests/stand-in/robocopy.exe" "$bin/"
# The platform is named on the command line: Wine passes no QT_ variable on to
# the program.
"$wine" "$bin/tarnvel.exe" -platform windows >"$scratch/program.log" 2>&1 &
program=$!
window() { xdotool search --onlyvisible --name '^Tarnvel KESTRO$' | head -1 | grep .; }
shown() { within 60 window >/dev/null; }
check "the program's window is shown, found by its title" shown
mirrored() { diff -r "$src" "$dst" >/dev/null; }
sync_click() {
  local w
  w=$(window) || return 1
  sleep 1  # the window paints its trees first
  # "Sincronizar" spans the window's width below the two file lists.
  xdotool mousemove --window "$w" 240 544 click 1
  within 60 mirrored || { (cd "$dst" && find . | sort); return 1; }
}
check "\"Sincronizar\" mirrors the source into the destination" sync_click
! command -v import >/dev/null || import -window root "$build/program_check.png" 2>/dev/null
# Closed as a user closes it; the program ends with exit code 0.
closed() {
  "$wine" taskkill /im tarnvel.exe >/dev/null 2>&1
  within 30 bash -c "! kill -0 $program" || return 1
  wait "$program"; local rc=$?
  program=""
  [ "$rc" -eq 0 ] || { echo "exit code $rc"; cat "$scratch/program.log"; return 1; }
}
check "the program closes and ends with exit code 0" closed
"$wine" reg delete "$key" /f >/dev/null 2>&1
echo "program check: $passed passed, $failed failed"
exit "$failed"
