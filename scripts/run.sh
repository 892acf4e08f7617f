#!/usr/bin/env bash
# Installs what building and running need, builds, and starts Tamsivo from the
# build directory:
#
#   bash scripts/run.sh [--allow-clock]
#
# The program's clock command (矫正系统系统时间) really sets the computer's
# clock when it is allowed to. Started from here it is not, unless
# --allow-clock is given:
#   - CAP_SYS_TIME is dropped from its capability bounding set, so not even
#     root can set the clock itself (other users do not hold it anyway);
#   - it gets no system bus, through which the system's time service would
#     set the clock on its behalf (without asking, for root).
set -euo pipefail
cd "$(dirname "$0")/.."
allow_clock=0
for arg in "$@"; do
  case "$arg" in
    --allow-clock) allow_clock=1 ;;
    *) echo "usage: $0 [--allow-clock]" >&2; exit 2 ;;
  esac
done
bash scripts/deps.sh run build
# Tests and benchmarks need tools run+build leave out.
bash scripts/build.sh -DTAMSIVO_BUILD_TESTS=OFF -DTAMSIVO_BUILD_BENCH=OFF
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
Tamsivo is a desktop program and there is no display here (neither DISPLAY
nor WAYLAND_DISPLAY is set). To try it on a virtual screen:

  Xvfb :77 -screen 0 1280x800x24 &
  DISPLAY=:77 setpriv --bounding-set -sys_time ./build/bin/tamsivo &
  DISPLAY=:77 import -window root shot.png   # a screenshot of what it shows

MSG
  exit 1
fi
if [ "$allow_clock" -eq 1 ]; then
  exec ./build/bin/tamsivo
fi
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent"
if [ "$(id -u)" -eq 0 ]; then
  exec setpriv --bounding-set -sys_time ./build/bin/tamsivo
fi
exec ./build/bin/tamsivo
