#!/usr/bin/env bash
# Installs what Tamsivo needs to build, run and test on Debian 12 (idempotent).
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config git
  qt6-base-dev qt6-qpa-plugins libqscintilla2-qt6-dev libsqlite3-dev
  libcurl4-openssl-dev libopencc-dev libx11-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  xvfb xauth openbox xdotool x11-utils imagemagick fonts-wqy-microhei
  dbus-x11 curl clang-format python3 wmctrl xclip sqlite3 trayer
  clang-14 libclang-rt-14-dev iproute2
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "deps: all ${#packages[@]} packages present"
  exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
