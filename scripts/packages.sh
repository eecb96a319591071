# Sourced by run.sh and test.sh: installs the Debian packages that are missing.

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config ccache qt6-base-dev qt6-base-dev-tools libgl-dev
                fonts-dejavu-core fonts-liberation libxxhash-dev)
TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev g++-mingw-w64-x86-64-posix
               binutils-mingw-w64-x86-64 wine wine64 fonts-wine xvfb xauth xdotool unzip rsync procps hyperfine python3
               exfatprogs exfat-fuse dbus trayer xxhash)
# package.sh: dpkg-shlibdeps names the libraries the package depends on; cpack asks file which files are programs.
PACKAGE_PACKAGES=(dpkg-dev file)
# The package leg of test.sh: its validators and checker.
TEST_PACKAGES+=("${PACKAGE_PACKAGES[@]}" desktop-file-utils appstream lintian)

ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}
