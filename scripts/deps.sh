#!/usr/bin/env bash
# Installs the Debian 12 packages Tamsivo needs, by set (idempotent):
#
#   bash scripts/deps.sh [run] [build] [test]     (no set named: all three)
#
#   run    what the built program needs at run time
#   build  compiler, build tools and the -dev packages
#   test   test, fuzz, benchmark and packaging tools (the test suite, the
#          package test and its validators)
#
# scripts/run.sh installs run+build, scripts/test.sh all. apt-get update runs
# first, and only when something is missing.
set -euo pipefail

run=(
  libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6 qt6-qpa-plugins
  libqscintilla2-qt6-15 libsqlite3-0 libcurl4 libopencc1.1 libical3 libx11-6 libxml2 libsecret-1-0
  libyaml-cpp0.7 libzip4
  fonts-wqy-microhei qt6-translations-l10n
)
build=(
  cmake ninja-build g++ pkg-config git
  qt6-base-dev libqscintilla2-qt6-dev libsqlite3-dev libcurl4-openssl-dev
  libopencc-dev libx11-dev libical-dev nlohmann-json3-dev libxml2-dev libsecret-1-dev
  libyaml-cpp-dev libzip-dev
)
test=(
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  xvfb xauth openbox xdotool x11-utils wmctrl xclip trayer imagemagick
  dbus-x11 at-spi2-core python3 python3-pyatspi gir1.2-ical-3.0 sqlite3 curl iproute2 file openssl
  radicale xandikos gnome-keyring libsecret-tools python3-dbusmock libglib2.0-bin
  clang-format clang-14 libclang-rt-14-dev
  dpkg-dev lintian desktop-file-utils appstream librsvg2-bin man-db
)

sets=("$@")
[ ${#sets[@]} -ne 0 ] || sets=(run build test)
packages=()
for s in "${sets[@]}"; do
  case "$s" in
    run) packages+=("${run[@]}") ;;
    build) packages+=("${build[@]}") ;;
    test) packages+=("${test[@]}") ;;
    *) echo "usage: $0 [run] [build] [test]" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "deps (${sets[*]}): all ${#packages[@]} packages present"
  exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
