#!/usr/bin/env bash
# Builds the Debian package out/tamsivo_<version>-<revision>_<arch>.deb:
#
#   bash packaging/build-deb.sh [BUILD_DIR [OUT_DIR]]
#
# BUILD_DIR: an existing build tree to package (brought up to date first, its
# install_manifest.txt left as it was). Without it, a build with Debian's
# compiler and hardening flags is made in build-deb/. OUT_DIR defaults to out/.
# The version is project(VERSION) in CMakeLists.txt; the revision is
# TAMSIVO_DEB_REVISION (default 1), and packaging/changelog must start with
# that very version. Prints the package's path last. Validate it with
# bash packaging/check.sh <deb>.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-}"
out="${2:-$repo/out}"

version="$(sed -n 's/^project(Tamsivo VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")"
[ -n "$version" ] || { echo "build-deb: no project(Tamsivo VERSION ...) in CMakeLists.txt" >&2; exit 1; }
full="$version-${TAMSIVO_DEB_REVISION:-1}"
top="$(sed -n '1s/^tamsivo (\([^)]*\)).*/\1/p' "$repo/packaging/changelog")"
if [ "$top" != "$full" ]; then
  echo "build-deb: packaging/changelog starts with $top, not $full: add an entry" >&2
  exit 1
fi
arch="$(dpkg --print-architecture)"

if [ -z "$build" ]; then
  build="$repo/build-deb"
  # Debian's flags (fortify, stack protector, relro, now, PIE) in place of
  # the project's build types.
  export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DTAMSIVO_BUILD_TESTS=OFF -DTAMSIVO_BUILD_BENCH=OFF >/dev/null
fi
build="$(cd "$build" && pwd)"
cmake --build "$build" --target tamsivo

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
root="$work/debian/tamsivo"

# Stage the install; the build tree's manifest keeps describing the user's
# own install, so that its uninstall target still removes that one.
manifest="$build/install_manifest.txt"
[ ! -e "$manifest" ] || cp -p "$manifest" "$work/manifest"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
rm -f "$manifest"
[ ! -e "$work/manifest" ] || cp -p "$work/manifest" "$manifest"

lib="$root/usr/lib/tamsivo"
# Debug symbols out, as dh_strip does: the runtime is a shared object.
strip --remove-section=.comment --remove-section=.note "$lib/tamsivo"
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$lib/tesmo.qrr"
gzip -9n "$root/usr/share/man/man1/tamsivo.1"
doc="$root/usr/share/doc/tamsivo"
mkdir -p "$doc"
cp "$repo/packaging/copyright" "$doc/copyright"
gzip -9n <"$repo/packaging/changelog" >"$doc/changelog.Debian.gz"
install -D -m 0644 "$repo/packaging/lintian-overrides" "$root/usr/share/lintian/overrides/tamsivo"

find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
chmod 0755 "$lib/tamsivo"

# Libraries the two ELF files link, from the system's shlibs and symbols.
mkdir -p "$work/debian"
printf 'Source: tamsivo\n\nPackage: tamsivo\nArchitecture: any\n' >"$work/debian/control"
shlibs="$(cd "$work" && dpkg-shlibdeps -O -e"$lib/tamsivo" -e"$lib/tesmo.qrr" 2>"$work/shlibdeps.log")" || {
  cat "$work/shlibdeps.log" >&2
  exit 1
}
shlibs="${shlibs#shlibs:Depends=}"
# Opened at run time, so invisible above: libcurl (the web time page) and
# OpenCC (its library brings the character tables) by dlopen, Qt's xcb
# platform plugin by Qt itself.
depends="$shlibs, libcurl4, libopencc1.1, qt6-qpa-plugins"
# Qt's own dialogs in Chinese, and a CJK font for the Chinese interface:
# the program runs without them, so they are not hard dependencies.
# The sync password's keeper is opened at run time too; without it a
# password file serves.
recommends="fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n, libsecret-1-0"

mkdir -p "$root/DEBIAN"
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z |
  xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/md5sums"
size="$(du -sk --exclude=DEBIAN "$root" | cut -f1)"
cat >"$root/DEBIAN/control" <<EOF
Package: tamsivo
Version: $full
Architecture: $arch
Maintainer: The Tamsivo team <tamsivo@example.org>
Installed-Size: $size
Depends: $depends
Recommends: $recommends
Section: utils
Priority: optional
Homepage: https://example.org/tamsivo
Description: daily memo calendar with today's memo always in view
 Tamsivo keeps one memo for each calendar day. A month calendar marks the
 days that have a memo, a memo editor opens on any day and saves when it
 closes, and a small window keeps today's memo in view beside the calendar
 or anywhere on the desktop. The user interface is in Chinese.
 .
 Settings and memos are kept in each user's home (under ~/.config/tamsivo
 and ~/.local/share/tamsivo); the memos are an SQLite database that can be
 exported to Markdown, text, CSV or iCalendar files from the command line.
EOF
chmod 0644 "$root/DEBIAN/control"

mkdir -p "$out"
deb="$(cd "$out" && pwd)/tamsivo_${full}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
