#!/bin/sh
# Installs, builds and runs the demo: a load of a simulated pad from the
# reference load server (demo.sh --gui: with the window, when a display is present).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/build.sh"
exec sh "$ROOT/scripts/demo.sh" "$@"
