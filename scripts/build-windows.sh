#!/bin/sh
# Cross-builds korvane-load.exe and the Windows tests into build-windows/ (or
# WINDOWS_BUILD_DIR) with mingw-w64; extra arguments go to cmake.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/install-deps.sh" --windows
BUILD_DIR=${WINDOWS_BUILD_DIR:-$ROOT/build-windows}
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" "$@" >/dev/null
ninja -C "$BUILD_DIR"
