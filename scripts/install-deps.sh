#!/bin/sh
# Installs what building, testing and packaging need on Debian 12 (sudo when not root);
# with --windows, also the mingw-w64 cross compiler and Wine for the Windows build.
set -eu
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libssl-dev openssl \
  libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev fonts-dejavu-core \
  dpkg-dev file lintian man-db desktop-file-utils xvfb"
if [ "${1:-}" = "--windows" ]; then
  PACKAGES="$PACKAGES g++-mingw-w64-x86-64-posix googletest wine64 wine binutils-mingw-w64-x86-64"
fi
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q $missing
fi
