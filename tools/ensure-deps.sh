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

# What every build needs (libx11-dev: the end-to-end tests' X11 tool is configured with it).
BUILD_PACKAGES=(cmake make g++ pkg-config qtbase5-dev libquazip1-qt5-dev libdeflate-dev libqt5svg5 fonts-wqy-microhei libx11-dev)
# What the suite needs on top: tools that read archives back or drive the real program,
# dpkg-dev and file for the Depends that cpack reads from the binary, lintian for the package,
# systemd-analyze and xmllint for the shipped units and task.
TEST_PACKAGES=(unzip p7zip-full libarchive-tools binutils-mingw-w64-x86-64 xvfb xauth xdotool x11-utils faketime dpkg-dev file lintian systemd libxml2-utils)

# ensure_locale LANG_TERRITORY: generates the glibc locale LANG_TERRITORY.UTF-8 (for
# example zh_CN, the operators' locale) if it is missing.
ensure_locale() {
  locale -a 2>/dev/null | grep -qx "$1.utf8" && return 0
  ensure_packages locales || return 1
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo localedef -i "$1" -f UTF-8 "$1.UTF-8"
}
