#!/bin/sh
# The demo: a reference load server with sample packages and a simulated
# iPP350 on COM 1, both on this machine, then one load of that pad with
# korvane-load (or with the window, --gui), and the record the server kept.
# Uses an existing build in BUILD_DIR (default build/), or with --installed
# the programs installed on PATH (the Debian package).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}

GUI=0
INSTALLED=0
for argument in "$@"; do
  case "$argument" in
    --gui) GUI=1 ;;
    --installed) INSTALLED=1 ;;
    *) echo "usage: demo.sh [--gui] [--installed]" >&2; exit 2 ;;
  esac
done
if [ "$INSTALLED" = 1 ]; then
  on_path() { command -v "$1" 2>/dev/null || echo "$1"; }
  SERVER=$(on_path korvane-load-server)
  PAD_SIM=$(on_path korvane-pad-sim)
  LOAD=$(on_path korvane-load)
  WINDOW=$(on_path korvane-field-loader)
  MISSING_HINT="install the package (scripts/package-deb.sh, then apt-get install)"
else
  SERVER=$BUILD_DIR/tools/load-server/korvane-load-server
  PAD_SIM=$BUILD_DIR/tools/pad-sim/korvane-pad-sim
  LOAD=$BUILD_DIR/app/cli/korvane-load
  WINDOW=$BUILD_DIR/app/korvane-field-loader
  MISSING_HINT="build first (scripts/build.sh)"
fi
if [ "$GUI" = 1 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo.sh --gui needs a display (DISPLAY or WAYLAND_DISPLAY); without one, run demo.sh alone." >&2
  exit 2
fi
if [ "$GUI" = 1 ]; then set -- "$SERVER" "$PAD_SIM" "$WINDOW"; else set -- "$SERVER" "$PAD_SIM" "$LOAD"; fi
for program in "$@"; do
  [ -x "$program" ] || { echo "demo.sh: $program is missing; $MISSING_HINT." >&2; exit 2; }
done

if [ "$INSTALLED" = 1 ]; then echo "== Installed programs: $*"; fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/korvane-demo.XXXXXX")
SERVER_PID=""
PAD_PID=""
STATUS=1

stop() {  # PID: SIGTERM, then wait for it
  if [ -n "$1" ] && kill -0 "$1" 2>/dev/null; then
    kill -TERM "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
  fi
}
cleanup() {
  trap - EXIT INT TERM HUP
  stop "$PAD_PID"
  stop "$SERVER_PID"
  rm -rf "$WORK"
  exit "$STATUS"
}
trap cleanup EXIT
trap 'STATUS=130; exit 130' INT
trap 'STATUS=143; exit 143' TERM HUP

# Waits up to 30 s for a line starting with TEXT in FILE while PID lives.
await_line() {  # FILE TEXT PID
  tries=0
  while ! grep -q "^$2" "$1" 2>/dev/null; do
    if ! kill -0 "$3" 2>/dev/null || [ $tries -ge 300 ]; then return 1; fi
    sleep 0.1
    tries=$((tries + 1))
  done
}
fail() {  # TEXT LOG
  echo "demo.sh: $1" >&2
  [ -f "$2" ] && sed 's/^/  | /' "$2" >&2
  exit 1
}

# Ctrl+C at the terminal reaches the whole foreground group; the server and the
# pad run in their own sessions so that it cancels only the load, which then
# reports the cancel to a server still listening. They are stopped by PID.
detached() {
  if command -v setsid >/dev/null 2>&1; then exec setsid "$@"; else exec "$@"; fi
}

echo "== Sample packages in $WORK/packages (this folder is removed at the end)"
sh "$ROOT/scripts/make-sample-packages.sh" "$WORK/packages"

# A fresh secret for this run, shared by the server and the configuration.
umask 077
SECRET=$(LC_ALL=C tr -dc 'A-Z0-9' </dev/urandom | head -c 33)
printf '%s\n' "$SECRET" >"$WORK/secret"

detached "$SERVER" --packages "$WORK/packages" --database "$WORK/loads.db" --secret-file "$WORK/secret" \
  --listen 127.0.0.1 --port 0 >"$WORK/server.out" 2>"$WORK/server.err" &
SERVER_PID=$!
await_line "$WORK/server.out" "listening on " "$SERVER_PID" || fail "the load server did not start:" "$WORK/server.err"
PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$WORK/server.out")
echo "== Load server listening on 127.0.0.1:$PORT (self-signed certificate made at start-up)"

# Install and restart times of seconds, not minutes, matching the shortened waits below.
mkdir -p "$WORK/devices" "$WORK/pad"
detached "$PAD_SIM" --device-dir "$WORK/devices" --port 1 --model iPP350 --files-dir "$WORK/pad" \
  --install-time 200 --restart-time 100 --reboot-time 100 >"$WORK/pad.out" 2>&1 &
PAD_PID=$!
await_line "$WORK/pad.out" "pad ready on com1" "$PAD_PID" || fail "the pad simulator did not start:" "$WORK/pad.out"
echo "== Simulated iPP350 on COM 1 ($(sed -n '1s/^pad ready on com1 -> //p' "$WORK/pad.out"))"

cat >"$WORK/loader.conf" <<CONF
[load-server]
primary-host = 127.0.0.1
secondary-host = 127.0.0.1
port = $PORT
installation-serial = 0100-2200-33
challenge-secret = $SECRET
CONF
chmod 600 "$WORK/loader.conf"
export KORVANE_LOADER_CONFIG="$WORK/loader.conf"
export KORVANE_DEVICE_DIR="$WORK/devices"
# The restart and reboot waits of minutes become fractions of a second.
export KORVANE_WAIT_SCALE=0.001

# During the load Ctrl+C is the progress window's Cancel: the load ends on its
# own, and the record is still shown.
trap ':' INT
set +e
if [ "$GUI" = 1 ]; then
  echo "== Starting the window: type 1 as the COM port, pick Serial, press \"Ingenico iPP350\"; close it when done."
  mkdir -p "$WORK/window"
  (cd "$WORK/window" && "$WINDOW")
  STATUS=$?
else
  echo "== korvane-load load --model \"Ingenico iPP350\" --port 1 --connection serial"
  "$LOAD" load --model "Ingenico iPP350" --port 1 --connection serial
  STATUS=$?
fi
set -e
trap 'STATUS=130; exit 130' INT

# Stopping the server first means every operation has been recorded.
stop "$SERVER_PID"
SERVER_PID=""
stop "$PAD_PID"
PAD_PID=""

# Prints the named columns of a tab-separated table, in that order, aligned.
columns() {  # NAMES...
  awk -F '\t' -v names="$*" '
    BEGIN { n = split(names, want, " ") }
    NR == 1 { for (i = 1; i <= NF; i++) at[$i] = i }
    { for (j = 1; j <= n; j++) {
        cell[NR, j] = at[want[j]] ? $(at[want[j]]) : "?"
        if (length(cell[NR, j]) > width[j]) width[j] = length(cell[NR, j])
      } }
    END { for (r = 1; r <= NR; r++) {
        line = " "
        for (j = 1; j <= n; j++) line = line " " sprintf("%-" width[j] "s", cell[r, j])
        sub(/ +$/, "", line)
        print line
      } }'
}
echo "== Loads the server recorded"
"$SERVER" --show-loads "$WORK/loads.db" | columns load_id model app_version previous_app_version outcome reports
echo "== Operations it served, in order"
"$SERVER" --show-operations "$WORK/loads.db" | columns operation_id request subject response_status blocks_sent
# The server checks every byte the loader sent; any deviation fails the demo.
VIOLATIONS=$("$SERVER" --show-operations "$WORK/loads.db" | awk -F '\t' '
  NR == 1 { for (i = 1; i <= NF; i++) if ($i == "violations") v = i; next }
  v && $v != "" { print "  operation " $1 ": " $v }')
if [ -n "$VIOLATIONS" ]; then
  echo "== The server saw the loader break the wire format:"
  echo "$VIOLATIONS"
else
  echo "== The server saw no violation of the wire format."
fi
echo "== What the pad holds"
for f in "$WORK/pad"/*; do
  if [ -f "$f" ] && [ "${f##*/}" != parameters.txt ]; then printf '  %-22s %6s bytes\n' "${f##*/}" "$(wc -c <"$f")"; fi
done
if [ -s "$WORK/pad/parameters.txt" ]; then echo "  parameters: $(tr '\n' ' ' <"$WORK/pad/parameters.txt")"; fi
if [ "$GUI" = 1 ]; then
  echo "== The window closed with exit status $STATUS."
elif [ "$STATUS" != 0 ]; then
  echo "== The load failed (exit status $STATUS); the last lines of the pad's and the server's logs:"
  tail -n 12 "$WORK/pad.out" | sed 's/^/  pad | /'
  tail -n 12 "$WORK/server.err" | sed 's/^/  server | /'
elif [ -n "$VIOLATIONS" ]; then
  echo "== The load ended with exit status 0 but broke the wire format (above); the demo fails."
  STATUS=1
else
  echo "== Done: the load ended with exit status 0."
fi
