# Sourced by ./run, ./test and ./bench: installs the Debian packages that are missing, and only those.
# Usage: ensure_packages pkg...
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq || return 1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" || return 1
}

# What every build needs.
BUILD_PACKAGES=(cmake make g++ pkg-config qtbase5-dev libquazip1-qt5-dev libqt5svg5 fonts-wqy-microhei)
# What the suite needs on top: tools that read archives back or drive the real program,
# and dpkg-dev and file for the Depends that cpack reads from the binary.
TEST_PACKAGES=(unzip p7zip-full libarchive-tools binutils-mingw-w64-x86-64 xvfb xauth xdotool x11-utils faketime dpkg-dev file libx11-dev)
