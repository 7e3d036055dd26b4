#!/bin/sh
# Installs, builds and starts the desktop tool when a display is present.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/build.sh"
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Built $BUILD_DIR/app/korvane-field-loader and $BUILD_DIR/app/cli/korvane-load."
  echo "The main window needs a display (DISPLAY or WAYLAND_DISPLAY); none is set, so it was not started."
  exit 0
fi
if [ -z "${KORVANE_LOADER_CONFIG:-}" ] && [ ! -r /etc/korvane-field-loader/loader.conf ]; then
  # A sample configuration, so the window reaches its ready state; loads need a real one.
  SAMPLE_DIR=$(mktemp -d)
  cat >"$SAMPLE_DIR/loader.conf" <<CONF
[load-server]
primary-host = 127.0.0.1
secondary-host = 127.0.0.1
port = 4443
installation-serial = 0100-2200-33
challenge-secret = SAMPLESECRET0123456789ABCDEFGHIJK
CONF
  chmod 600 "$SAMPLE_DIR/loader.conf"
  export KORVANE_LOADER_CONFIG="$SAMPLE_DIR/loader.conf"
  echo "Using the sample configuration $KORVANE_LOADER_CONFIG"
fi
cd "${TMPDIR:-/tmp}"
exec "$BUILD_DIR/app/korvane-field-loader"
