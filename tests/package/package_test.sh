#!/usr/bin/env bash
# The Debian package from end to end:
#
#   bash tests/package/package_test.sh [BUILD_DIR]
#
# builds the package (from BUILD_DIR, or a fresh build-deb/) and validates it,
# installs it with apt-get, runs /usr/bin/tamsivo as the unprivileged user
# nobody (home in a temporary directory) on a private Xvfb display and saves
# a memo through its editor, then removes and purges the package: the memo
# must outlive both, the program directory must not.
#
# Needs root; it changes this machine's installed packages (and puts them
# back). It refuses to run where tamsivo is already installed.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-}"
text="包装测试 package memo"

if [ "$(id -u)" -ne 0 ]; then
  echo "package_test: needs root (apt-get install and remove)" >&2
  exit 2
fi
if dpkg-query -W -f='${db:Status-Status}' tamsivo 2>/dev/null | grep -qv '^not-installed$'; then
  echo "package_test: tamsivo is installed here (or its configuration is): purge it first" >&2
  exit 2
fi

work="$(mktemp -d)"
installed=0
finish() {
  status=$?
  if [ "$installed" -eq 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y tamsivo >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
  # The plain closing line CI reads: one journey, passed or not.
  [ "$status" -eq 0 ] && echo "package_test: 1 passed, 0 failed" || echo "package_test: 0 passed, 1 failed"
  exit "$status"
}
trap finish EXIT
# apt's download user and nobody both need to get in.
chmod 0755 "$work"
fail() {
  echo "package_test: $*" >&2
  exit 1
}
step() { echo "== $*"; }

step "build"
deb="$(bash "$repo/packaging/build-deb.sh" "$build" "$work/out" | tail -n 1)"
chmod 0644 "$deb"
step "validate, from a folder nobody cannot enter (a clone under /root)"
mkdir -m 0700 "$work/closed"
(cd "$work/closed" && bash "$repo/packaging/check.sh" "$deb")

step "apt-get install $(basename "$deb")"
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb"
[ "$(readlink /usr/bin/tamsivo)" = "../lib/tamsivo/tamsivo" ] || fail "/usr/bin/tamsivo is not the relative link"
[ -x /usr/lib/tamsivo/tamsivo ] && [ -f /usr/lib/tamsivo/tesmo.qrr ] && [ -f /usr/lib/tamsivo/tamsivo.installed ] ||
  fail "/usr/lib/tamsivo is incomplete"
for f in /usr/lib/tamsivo/tamsivo /usr/lib/tamsivo/tesmo.qrr; do
  file -L "$f" | grep -q ', stripped' || fail "$f is not stripped"
done
step "a memo through the window, as nobody"
home="$work/home"
mkdir -p "$home"
day="$(python3 "$repo/tests/package/installed_journey.py" /usr/bin/tamsivo "$home" nobody nogroup "$text" |
  tail -n 1)"
store="$home/.local/share/tamsivo/事件数据.edb"
memo() { sqlite3 "file:$store?mode=ro" "SELECT CAST(\"事情\" AS TEXT) FROM records WHERE \"日期\" = $day;"; }
[ "$(memo)" = "$text" ] || fail "the memo of day $day is not in $store"

step "--version and --export, with no display"
version="$(dpkg-query -W -f='${Version}' tamsivo)"
out="$(timeout 20 env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/tamsivo --version)" ||
  fail "tamsivo --version failed"
case "$out" in *"${version%-*}"*) ;; *) fail "tamsivo --version printed '$out', not ${version%-*}" ;; esac

setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_CONFIG_HOME -u XDG_DATA_HOME HOME="$home" \
  timeout 60 /usr/bin/tamsivo --export "$home/memos.txt" || fail "--export failed"
grep -qF "$text" "$home/memos.txt" || fail "--export did not write the memo"

step "apt-get remove"
DEBIAN_FRONTEND=noninteractive apt-get remove -y tamsivo
[ ! -e /usr/lib/tamsivo ] || fail "/usr/lib/tamsivo is still there after remove"
[ ! -L /usr/bin/tamsivo ] && [ ! -e /usr/bin/tamsivo ] || fail "/usr/bin/tamsivo is still there"
[ "$(memo)" = "$text" ] || fail "remove took the memo"
step "apt-get purge"
# With no configuration files, remove already made dpkg forget the package.
state="$(dpkg-query -W -f='${db:Status-Status}' tamsivo 2>/dev/null || true)"
if [ -n "$state" ] && [ "$state" != not-installed ]; then
  DEBIAN_FRONTEND=noninteractive apt-get purge -y tamsivo
fi
installed=0
[ "$(dpkg-query -W -f='${db:Status-Status}' tamsivo 2>/dev/null || echo not-installed)" = not-installed ] ||
  fail "tamsivo is still known to dpkg after purge"
[ "$(memo)" = "$text" ] || fail "purge took the memo"
