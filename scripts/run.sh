#!/usr/bin/env bash
# Installs the dependencies, builds, and starts Tamsivo from the build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
Tamsivo is a desktop program and there is no display here (neither DISPLAY
nor WAYLAND_DISPLAY is set). To try it on a virtual screen:

  Xvfb :77 -screen 0 1280x800x24 &
  DISPLAY=:77 ./build/bin/tamsivo &
  DISPLAY=:77 import -window root shot.png   # a screenshot of what it shows

MSG
  exit 1
fi
exec ./build/bin/tamsivo
