#!/bin/sh
# The demo: a reference load server with sample packages and a simulated
# pad on COM 1 (an iPP350, or the model of --model CAPTION), both on this
# machine, then one load of that pad with korvane-load (or with the window,
# --gui), and the record the server kept.
# Uses an existing build in BUILD_DIR (default build/), or with --installed
# the programs installed on PATH (the Debian package).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
# Absolute: the demo runs its programs from a folder of its own.
if [ -d "$BUILD_DIR" ]; then BUILD_DIR=$(cd "$BUILD_DIR" && pwd); fi

usage() {
  echo "usage: demo.sh [--gui] [--installed] [--model CAPTION]   (CAPTION: a model button, default \"Ingenico iPP350\")" >&2
  exit 2
}
GUI=0
INSTALLED=0
MODEL="Ingenico iPP350"
while [ $# -gt 0 ]; do
  case "$1" in
    --gui) GUI=1; shift ;;
    --installed) INSTALLED=1; shift ;;
    --model) [ $# -ge 2 ] || usage; MODEL=$2; shift 2 ;;
    *) usage ;;
  esac
done
if [ "$INSTALLED" = 1 ]; then
  on_path() { command -v "$1" 2>/dev/null || echo "$1"; }
  SERVER=$(on_path korvane-load-server)
  PAD_SIM=$(on_path korvane-pad-sim)
  LOAD=$(on_path korvane-load)
  WINDOW=$(on_path korvane-field-loader)
  BUNDLE=$(on_path korvane-bundle)
  MISSING_HINT="install the package (scripts/package-deb.sh, then apt-get install)"
else
  SERVER=$BUILD_DIR/tools/load-server/korvane-load-server
  PAD_SIM=$BUILD_DIR/tools/pad-sim/korvane-pad-sim
  LOAD=$BUILD_DIR/app/cli/korvane-load
  WINDOW=$BUILD_DIR/app/korvane-field-loader
  BUNDLE=$BUILD_DIR/tools/bundle/korvane-bundle
  MISSING_HINT="build first (scripts/build.sh)"
fi
# The download program's stand-in is never installed: it comes from the build.
STANDIN_DIR=$BUILD_DIR/tools/ddl-standin/bin
# Spaces around a caption are ignored, as korvane-load does (one caption ends in a space).
MODEL=$(printf '%s' "$MODEL" | sed 's/^ *//; s/ *$//')

# The simulated pad for the caption: the model it reports, and what it holds already.
EQUINOX=0
VERIFONE=0
PAD_PARAM=""
case "$MODEL" in
  "Ingenico iSC250") PAD_MODEL=iSC250 ;;
  "Ingenico iSC480") PAD_MODEL=iSC480 ;;
  "Ingenico iWL258") PAD_MODEL=iWL258 ;;
  "Ingenico iPP320") PAD_MODEL=iPP320 ;;
  "Ingenico iPP350") PAD_MODEL=iPP350 ;;
  "Ingenico iUC285") PAD_MODEL=iUC285 ;;
  "Ingenico iCMP") PAD_MODEL=iCM122 ;;
  # A Lane, Move or Link pad is loaded only when it holds its device identifier.
  "Ingenico Lane/3000") PAD_MODEL=L3000 PAD_PARAM=14.5=KORVANEL3000 ;;
  "Ingenico Lane/5000") PAD_MODEL=L5000 PAD_PARAM=14.5=KORVANEL5000 ;;
  "Ingenico Lane/7000") PAD_MODEL=L7000 PAD_PARAM=14.5=KORVANEL7000 ;;
  "Ingenico Lane/8000") PAD_MODEL=L8000 PAD_PARAM=14.5=KORVANEL8000 ;;
  "Ingenico Move/5000") PAD_MODEL=M5000 PAD_PARAM=14.5=KORVANEM5000 ;;
  "Ingenico Link/2500") PAD_MODEL=LK2500 PAD_PARAM=14.5=KORVANELINK2500 ;;
  "Equinox L5300 - Load FPE and Forms") PAD_MODEL=L5300-PCI2 EQUINOX=1 ;;
  # The Verifone pads are loaded by the ddl.exe stand-in; the P400 from the package in the working directory.
  "Verifone Vx805 - Load for Ethernet"|"Verifone Vx805 Qentrall - Load new XPI") PAD_MODEL=Vx805 VERIFONE=1 ;;
  "RQ's") PAD_MODEL=P400 VERIFONE=1 ;;
  *) echo "demo.sh: no simulated pad for \"$MODEL\" (an Ingenico caption, \"Equinox L5300 - Load FPE and Forms\"," >&2
     echo "  \"Verifone Vx805 - Load for Ethernet\", \"Verifone Vx805 Qentrall - Load new XPI\" or \"RQ's\")" >&2
     exit 2 ;;
esac
if [ "$GUI" = 1 ] && { [ "$EQUINOX" = 1 ] || [ "$VERIFONE" = 1 ]; }; then
  echo "demo.sh: the window never shows the Equinox and Verifone buttons; run demo.sh --model \"$MODEL\" without --gui." >&2
  exit 2
fi
if [ "$GUI" = 1 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo.sh --gui needs a display (DISPLAY or WAYLAND_DISPLAY); without one, run demo.sh alone." >&2
  exit 2
fi
if [ "$GUI" = 1 ]; then set -- "$SERVER" "$PAD_SIM" "$BUNDLE" "$WINDOW"; else set -- "$SERVER" "$PAD_SIM" "$BUNDLE" "$LOAD"; fi
for program in "$@"; do
  [ -x "$program" ] || { echo "demo.sh: $program is missing; $MISSING_HINT." >&2; exit 2; }
done
if [ "$VERIFONE" = 1 ] && [ ! -x "$STANDIN_DIR/ddl.exe" ]; then
  echo "demo.sh: $STANDIN_DIR/ddl.exe (the download program's stand-in) is missing; build first (scripts/build.sh)." >&2
  exit 2
fi

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
KORVANE_BUNDLE=$BUNDLE sh "$ROOT/scripts/make-sample-packages.sh" "$WORK/packages"

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

mkdir -p "$WORK/devices" "$WORK/pad"
if [ "$VERIFONE" = 1 ]; then
  detached "$PAD_SIM" --device-dir "$WORK/devices" --port 1 --model "$PAD_MODEL" >"$WORK/pad.out" 2>&1 &
elif [ "$EQUINOX" = 1 ]; then
  # Restarts without a silent period: the loader would wait out its 10-second
  # acknowledgement time-out for the query the pad ignores while restarting.
  # Each transfer's files are kept apart, as the second one's "LALL" deletes the first's.
  detached "$PAD_SIM" --device-dir "$WORK/devices" --port 1 --model "$PAD_MODEL" --files-dir "$WORK/pad" \
    --transfers-dir "$WORK/transfers" --restart-time 0 >"$WORK/pad.out" 2>&1 &
else
  # Install and restart times of seconds, not minutes, matching the shortened waits below.
  set -- --install-time 200 --restart-time 100 --reboot-time 100
  if [ -n "$PAD_PARAM" ]; then set -- "$@" --param "$PAD_PARAM"; fi
  detached "$PAD_SIM" --device-dir "$WORK/devices" --port 1 --model "$PAD_MODEL" --files-dir "$WORK/pad" "$@" \
    >"$WORK/pad.out" 2>&1 &
fi
PAD_PID=$!
await_line "$WORK/pad.out" "pad ready on com1" "$PAD_PID" || fail "the pad simulator did not start:" "$WORK/pad.out"
echo "== Simulated $PAD_MODEL on COM 1 ($(sed -n '1s/^pad ready on com1 -> //p' "$WORK/pad.out"))"

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
# The loader's working directory: the files it hands to ddl.exe are written
# there, and the P400 package is read from there.
mkdir -p "$WORK/loader"
if [ "$VERIFONE" = 1 ]; then
  # The stand-in first on PATH, each of its runs recorded, each lasting 200 s
  # (scaled: 0.2 s), longer than the shortest run that counts as a load.
  export PATH="$STANDIN_DIR:$PATH"
  export KORVANE_DDL_RECORD="$WORK/ddl" KORVANE_DDL_RUN_MS=200000
  if [ "$PAD_MODEL" = P400 ]; then
    cp "$WORK/packages/p400/KVP400SILENTD41.pkg" "$WORK/loader/"
    echo "== The P400 package KVP400SILENTD41.pkg placed in the loader's working directory"
  fi
fi

# During the load Ctrl+C is the progress window's Cancel: the load ends on its
# own, and the record is still shown.
trap ':' INT
set +e
if [ "$GUI" = 1 ]; then
  echo "== Starting the window: type 1 as the COM port, pick Serial, press \"$MODEL\"; close it when done."
  mkdir -p "$WORK/window"
  (cd "$WORK/window" && "$WINDOW")
  STATUS=$?
else
  echo "== korvane-load load --model \"$MODEL\" --port 1 --connection serial"
  (cd "$WORK/loader" && "$LOAD" load --model "$MODEL" --port 1 --connection serial)
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
if [ "$VERIFONE" = 1 ]; then
  echo "== What the pad was told, and the runs of ddl.exe (the stand-in)"
  grep -E '^(download mode: |Z8: |violation: |summary: )' "$WORK/pad.out" | sed 's/^/  pad | /' || true
  for run in "$WORK/ddl"/run-*; do
    [ -d "$run" ] || continue
    echo "  ddl.exe $(tr '\n' ' ' <"$run/arguments")$([ -f "$run/ended" ] && echo "($(cat "$run/ended"))" || echo "(stopped)")"
    while read -r name size mode digest; do
      printf '    %-34s %7s bytes, mode %s, sha256 %.16s...\n' "$name" "$size" "$mode" "$digest"
    done <"$run/files"
  done
  left=$(ls -A "$WORK/loader" | grep -v '^KVP400SILENTD41.pkg$' || true)
  echo "  left in the loader's working directory: ${left:-nothing}"
elif [ "$EQUINOX" = 1 ]; then
  echo "== What the pad holds"
  # One folder per packing-list transfer: the FPE, then the forms.
  for transfer in "$WORK/transfers"/*; do
    [ -d "$transfer" ] || continue
    echo "  transfer ${transfer##*/}:"
    for f in "$transfer"/*; do
      if [ -f "$f" ]; then printf '    %-20s %7s bytes\n' "${f##*/}" "$(wc -c <"$f")"; fi
    done
  done
  grep -E '^(violation: |summary: )' "$WORK/pad.out" | sed 's/^/  pad | /' || true
else
  echo "== What the pad holds"
  for f in "$WORK/pad"/*; do
    if [ -f "$f" ] && [ "${f##*/}" != parameters.txt ]; then printf '  %-22s %6s bytes\n' "${f##*/}" "$(wc -c <"$f")"; fi
  done
  if [ -s "$WORK/pad/parameters.txt" ]; then echo "  parameters: $(tr '\n' ' ' <"$WORK/pad/parameters.txt")"; fi
  # The simulator checks every frame the loader sent; its summary counts the deviations.
  grep -E '^(violation: |summary: )' "$WORK/pad.out" | sed 's/^/  pad | /' || true
fi
# Any deviation the simulator saw fails the demo, as one the server saw does.
PAD_VIOLATIONS=$(grep -c '^violation: ' "$WORK/pad.out" || true)
if [ "$GUI" = 1 ]; then
  echo "== The window closed with exit status $STATUS."
elif [ "$STATUS" != 0 ]; then
  echo "== The load failed (exit status $STATUS); the last lines of the pad's and the server's logs:"
  tail -n 12 "$WORK/pad.out" | sed 's/^/  pad | /'
  tail -n 12 "$WORK/server.err" | sed 's/^/  server | /'
elif [ -n "$VIOLATIONS" ] || [ "${PAD_VIOLATIONS:-0}" != 0 ]; then
  echo "== The load ended with exit status 0 but broke a wire format (above); the demo fails."
  STATUS=1
else
  echo "== Done: the load ended with exit status 0."
fi
