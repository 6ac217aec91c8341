#!/usr/bin/env bash
# Builds the Debian package korvane_<version>_amd64.deb from a CMake build
# folder (default build/, configured and built when needed: a build made by
# scripts/test.sh is reused), then checks it (tests/packaging/check-package.sh:
# contents, lintian, desktop-file-validate, appstreamcli, manual pages).
#   scripts/package.sh [BUILD_DIR]
# The package lands in BUILD_DIR/korvane_<version>_amd64.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build}")

./scripts/install-deps.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target korvane korvane-cli korvane_manpages korvane_icons

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
deb="$build/korvane_${version}_${arch}.deb"
stage="$build/deb/korvane"
maintainer="Korvane developers <korvane@example.org>"
# the date of the last commit, so two builds of one commit are the same file
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}

rm -rf "$build/deb"
DESTDIR="$stage" cmake --install "$build" --prefix /usr --strip >/dev/null

# documentation Debian asks every package for
doc="$stage/usr/share/doc/korvane"
install -d "$doc"
install -m 0644 packaging/debian/copyright "$doc/copyright"
{
  echo "korvane ($version) unstable; urgency=medium"
  echo
  echo "  * Release $version."
  echo
  echo " -- $maintainer  $(date -u -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$doc/changelog.gz"

# ownership and modes as dpkg expects them (root ownership comes from
# --root-owner-group below)
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
chmod 0755 "$stage/usr/bin/"*

# Depends: from the libraries the programs link (dpkg-shlibdeps reads
# debian/control of a source tree, so it gets a small one of its own)
work="$build/deb/shlibdeps"
mkdir -p "$work/debian"
printf 'Source: korvane\n\nPackage: korvane\nArchitecture: any\n' >"$work/debian/control"
depends=$(cd "$work" && dpkg-shlibdeps -O -e"$stage/usr/bin/korvane" -e"$stage/usr/bin/korvane-cli" 2>"$build/deb/shlibdeps.log" |
  sed -n 's/^shlibs:Depends=//p')
if [ -z "$depends" ]; then
  cat "$build/deb/shlibdeps.log" >&2
  echo "package.sh: dpkg-shlibdeps found no dependencies" >&2
  exit 1
fi
# loaded at run time, so no library names it: the SQLite driver of the
# history database
depends="$depends, libqt6sql6-sqlite"

install -d "$stage/DEBIAN"
installed=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@INSTALLED_SIZE@/$installed/" \
  -e "s|@MAINTAINER@|$maintainer|" -e "s/@DEPENDS@/$depends/" packaging/debian/control.in >"$stage/DEBIAN/control"
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "package.sh: $deb"
"$root/tests/packaging/check-package.sh" "$deb"
