#!/usr/bin/env bash
# Validates a built package: bash packaging/check.sh out/tamsivo_*.deb
# lintian (fails on errors, shows warnings and notes), then the launcher with
# desktop-file-validate and the metainfo with appstreamcli (offline).
set -euo pipefail
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 PACKAGE.deb" >&2
  exit 2
fi
deb="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"

echo "== lintian"
# lintian advises against running as root: as root, run it as nobody on a
# copy it can read, from a folder it can enter (lintian changes back to the
# current folder, and a clone under /root is closed to nobody).
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1; then
  cp "$deb" "$work/"
  chmod 0644 "$work/$(basename "$deb")"
  mkdir "$work/home" && chown nobody "$work/home"
  (cd "$work" && setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env \
    env HOME="$work/home" lintian --fail-on error --display-info "$work/$(basename "$deb")")
else
  lintian --fail-on error --display-info "$deb"
fi
echo "lintian: no errors"

dpkg-deb -x "$deb" "$work/root"
echo "== desktop-file-validate"
for f in "$work"/root/usr/share/applications/*.desktop; do
  desktop-file-validate "$f"
  echo "$(basename "$f"): valid"
done
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml
