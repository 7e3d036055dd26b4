#!/bin/sh
# Builds a Release build in DEB_BUILD_DIR (default build-deb/, without tests or
# benchmarks) and writes the Debian package to dist/, e.g.
# dist/korvane-field-loader_1.12-1_amd64.deb. Extra arguments go to cmake.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DEB_BUILD_DIR=${DEB_BUILD_DIR:-$ROOT/build-deb}
DIST=$ROOT/dist

for tool in cmake ninja cpack dpkg-buildflags dpkg-shlibdeps; do
  command -v "$tool" >/dev/null 2>&1 || { echo "package-deb.sh: $tool is missing; run scripts/install-deps.sh." >&2; exit 2; }
done

# Packaged files and folders are root's, 644 and 755, whatever the builder's umask.
umask 022
# Debian's hardening flags, all of them (fortified functions, stack protector,
# read-only relocations bound at start-up). Given to cmake every time, since
# CXXFLAGS and LDFLAGS from the environment count only at the first configure.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)

cmake -S "$ROOT" -B "$DEB_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DKORVANE_SANITIZE=OFF -DKORVANE_BUILD_BENCHMARKS=OFF -DKORVANE_BUILD_FUZZERS=OFF \
  -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
  -DCMAKE_INSTALL_PREFIX=/usr "$@" >/dev/null
ninja -C "$DEB_BUILD_DIR"
rm -f "$DEB_BUILD_DIR"/korvane-field-loader_*.deb
(cd "$DEB_BUILD_DIR" && cpack -G DEB >/dev/null)

set -- "$DEB_BUILD_DIR"/korvane-field-loader_*.deb
[ -f "$1" ] || { echo "package-deb.sh: cpack wrote no package" >&2; exit 1; }
mkdir -p "$DIST"
rm -f "$DIST"/korvane-field-loader_*.deb
cp "$1" "$DIST/"
echo "Wrote dist/${1##*/}:"
dpkg-deb --field "$DIST/${1##*/}" Package Version Section Maintainer Depends | sed "s/^/  /"
