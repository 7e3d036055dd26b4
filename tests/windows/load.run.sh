#!/bin/sh
# korvane-load.exe under Wine against the Linux load server and pad simulator:
# --help, ports, identify, fetch-file through Schannel, and a whole iPP350 load
# ending "LOADED", whose pad frames and server requests must equal, byte for
# byte, those of the same load made by the Linux korvane-load (apart from the
# challenges' random parts). Called by scripts/test-windows.sh with LINUX_BUILD,
# WINDOWS_BUILD, WINEPREFIX and TEST_TMP set.
set -eu
T=$TEST_TMP
SERVER=$LINUX_BUILD/tools/load-server/korvane-load-server
PAD_SIM=$LINUX_BUILD/tools/pad-sim/korvane-pad-sim
LINUX_LOAD=$LINUX_BUILD/app/cli/korvane-load
WINDOWS_LOAD=$WINDOWS_BUILD/app/cli/korvane-load.exe
PORT_NUMBER=5
MODEL="Ingenico iPP350"

PIDS=""
cleanup() {
  status=$?
  # A command that failed outside fail() would otherwise end the run unexplained.
  [ "$status" -eq 0 ] || [ -n "${FAILED:-}" ] || echo "load.run.sh: stopped by a failing command (status $status)" >&2
  for pid in $PIDS; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in $PIDS; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

fail() {  # TEXT [FILE...]
  FAILED=1
  echo "load.run.sh: $1" >&2
  shift
  for file in "$@"; do [ -f "$file" ] && sed "s|^|  $(basename "$file") |" "$file" >&2; done
  exit 1
}
# Waits up to 60 s for a line starting with TEXT in FILE while PID lives.
await_line() {  # FILE TEXT PID
  tries=0
  while ! grep -q "^$2" "$1" 2>/dev/null; do
    if ! kill -0 "$3" 2>/dev/null || [ $tries -ge 600 ]; then return 1; fi
    sleep 0.1
    tries=$((tries + 1))
  done
}
stop() {  # PID
  kill -TERM "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
# The Windows spelling of a Linux path: drive Z: is the root in every prefix.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

KORVANE_BUNDLE=$LINUX_BUILD/tools/bundle/korvane-bundle sh "$ROOT/scripts/make-sample-packages.sh" "$T/packages" >/dev/null
umask 077
SECRET=$(LC_ALL=C tr -dc 'A-Z0-9' </dev/urandom | head -c 33)
printf '%s\n' "$SECRET" >"$T/secret"
umask 022

# One run's peers: a fresh load server (tracing every message) and a simulated
# iPP350 on port 5 that records every byte it receives. Sets SERVER_PID,
# PAD_PID, PAD_DEVICE and writes $T/RUN/loader.conf.
start_peers() {  # RUN
  run=$1
  mkdir -p "$T/$run/devices" "$T/$run/pad" "$T/$run/work"
  "$SERVER" --packages "$T/packages" --database "$T/$run/loads.db" --secret-file "$T/secret" \
    --listen 127.0.0.1 --port 0 --trace >"$T/$run/server.out" 2>"$T/$run/server.trace" &
  SERVER_PID=$!
  PIDS="$PIDS $SERVER_PID"
  await_line "$T/$run/server.out" "listening on " "$SERVER_PID" || fail "$run: the load server did not start" "$T/$run/server.trace"
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$T/$run/server.out")
  "$PAD_SIM" --device-dir "$T/$run/devices" --port "$PORT_NUMBER" --model iPP350 --files-dir "$T/$run/pad" \
    --install-time 200 --baud "${PAD_BAUD:-0}" --restart-time 100 --reboot-time 100 --record "$T/$run/pad.received" >"$T/$run/pad.out" 2>&1 &
  PAD_PID=$!
  PIDS="$PIDS $PAD_PID"
  await_line "$T/$run/pad.out" "pad ready on com$PORT_NUMBER" "$PAD_PID" || fail "$run: the pad simulator did not start" "$T/$run/pad.out"
  PAD_DEVICE=$(sed -n "1s/^pad ready on com$PORT_NUMBER -> //p" "$T/$run/pad.out")
  cat >"$T/$run/loader.conf" <<CONF
[load-server]
primary-host = 127.0.0.1
secondary-host = 127.0.0.1
port = $port
installation-serial = 0100-2200-33
challenge-secret = $SECRET
CONF
  chmod 600 "$T/$run/loader.conf"
}
stop_peers() {  # RUN: the server first, so that every operation has been recorded
  stop "$SERVER_PID"
  stop "$PAD_PID"
  grep -q "violations: 0$" "$T/$1/pad.out" || fail "$1: the pad simulator saw violations" "$T/$1/pad.out"
}

# Wine maps a COM port to a device through its registry; it re-creates
# dosdevices/comN from there when it starts, so it must not be running.
map_com_port() {  # N DEVICE
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$1" /t REG_SZ /d "$2" /f >"$T/reg.out" 2>&1 \
    || fail "Wine's registry did not take COM$1 -> $2" "$T/reg.out"
  wineserver -k 2>/dev/null || true
  wineserver -w || fail "the Wine server did not stop after mapping COM$1"
}

# The same load with each program, each against peers of its own.
export KORVANE_WAIT_SCALE=0.001
start_peers linux
(cd "$T/linux/work" && KORVANE_LOADER_CONFIG="$T/linux/loader.conf" KORVANE_DEVICE_DIR="$T/linux/devices" \
  "$LINUX_LOAD" load --model "$MODEL" --port "$PORT_NUMBER" --connection serial) >"$T/linux/load.out" 2>"$T/linux/load.err" \
  || fail "the Linux load failed" "$T/linux/load.out" "$T/linux/load.err"
stop_peers linux

start_peers windows
map_com_port "$PORT_NUMBER" "$PAD_DEVICE"
(cd "$T/windows/work" && KORVANE_LOADER_CONFIG=$(windows_path "$T/windows/loader.conf") \
  wine "$WINDOWS_LOAD" load --model "$MODEL" --port "$PORT_NUMBER" --connection serial) \
  >"$T/windows/load.out" 2>"$T/windows/load.err" || fail "the Windows load failed" "$T/windows/load.out" "$T/windows/load.err" "$T/windows/pad.out"
stop_peers windows
tr -d '\r' <"$T/windows/load.out" | grep -qx "LOADED" || fail "the Windows load did not end LOADED" "$T/windows/load.out"
echo "Windows load: $(tr -d '\r' <"$T/windows/load.out" | tr '\n' ' ')"

# The pad's side of the wire: every byte alike.
cmp "$T/linux/pad.received" "$T/windows/pad.received" \
  || fail "the pad received different bytes from the Windows load ($(wc -c <"$T/windows/pad.received") against $(wc -c <"$T/linux/pad.received"))"
echo "Pad frames: $(wc -c <"$T/windows/pad.received") bytes, equal"

# The server's side: every message it received ("[N] <- ..."), with the
# challenge fields masked: CC is the loader's random challenge, CR its answer
# to the server's random one.
requests() { grep '^\[[0-9]*\] <- ' "$1" | sed -E 's/(CC|CR)=[0-9A-F]*/\1=.../g'; }
requests "$T/linux/server.trace" >"$T/linux/requests"
requests "$T/windows/server.trace" >"$T/windows/requests"
[ -s "$T/linux/requests" ] || fail "no requests found in the Linux load's server trace" "$T/linux/server.trace"
diff "$T/linux/requests" "$T/windows/requests" >"$T/requests.diff" || fail "the server received different requests" "$T/requests.diff"
echo "Server requests: $(wc -l <"$T/windows/requests") lines, equal"

# --help, ports, identify and fetch-file, each beside the Linux program's answer.
start_peers tools
map_com_port "$PORT_NUMBER" "$PAD_DEVICE"
wine "$WINDOWS_LOAD" --help >"$T/tools/help.windows" 2>&1 || fail "korvane-load.exe --help failed" "$T/tools/help.windows"
"$LINUX_LOAD" --help >"$T/tools/help.linux" 2>&1
# The same commands and options; only where the configuration is looked for differs.
commands() { tr -d '\r' <"$1" | grep -E '^  (korvane-load |--)' | sed 's/ *(else.*//'; }
commands "$T/tools/help.linux" >"$T/tools/help.linux.commands"
commands "$T/tools/help.windows" >"$T/tools/help.windows.commands"
diff "$T/tools/help.linux.commands" "$T/tools/help.windows.commands" >"$T/tools/help.diff" \
  || fail "korvane-load.exe --help lists other commands or options" "$T/tools/help.diff"
tr -d '\r' <"$T/tools/help.windows" | grep -q 'ProgramData%\\KorvaneFieldLoader\\loader.conf' \
  || fail "korvane-load.exe --help does not name the Windows configuration path" "$T/tools/help.windows"

wine "$WINDOWS_LOAD" ports >"$T/tools/ports" 2>&1 || fail "korvane-load.exe ports failed" "$T/tools/ports"
tr -d '\r' <"$T/tools/ports" | grep -q "^ *$PORT_NUMBER  COM$PORT_NUMBER" || fail "korvane-load.exe ports does not list COM$PORT_NUMBER" "$T/tools/ports"

KORVANE_DEVICE_DIR="$T/tools/devices" "$LINUX_LOAD" identify --port "$PORT_NUMBER" >"$T/tools/identify.linux" 2>&1 \
  || fail "the Linux identify failed" "$T/tools/identify.linux"
wine "$WINDOWS_LOAD" identify --port "$PORT_NUMBER" >"$T/tools/identify.windows" 2>&1 \
  || fail "korvane-load.exe identify failed" "$T/tools/identify.windows" "$T/tools/pad.out"
tr -d '\r' <"$T/tools/identify.windows" | diff "$T/tools/identify.linux" - >"$T/tools/identify.diff" \
  || fail "korvane-load.exe identify printed something else" "$T/tools/identify.diff"

KORVANE_LOADER_CONFIG="$T/tools/loader.conf" "$LINUX_LOAD" fetch-file Secbin.pgz --output "$T/tools/fetched.linux" \
  >"$T/tools/fetch.linux" 2>&1 || fail "the Linux fetch-file failed" "$T/tools/fetch.linux"
KORVANE_LOADER_CONFIG=$(windows_path "$T/tools/loader.conf") wine "$WINDOWS_LOAD" fetch-file Secbin.pgz \
  --output "$(windows_path "$T/tools/fetched.windows")" >"$T/tools/fetch.windows" 2>&1 \
  || fail "korvane-load.exe fetch-file failed" "$T/tools/fetch.windows" "$T/tools/server.trace"
cmp "$T/tools/fetched.linux" "$T/tools/fetched.windows" || fail "korvane-load.exe fetch-file wrote other bytes"
# Each names the file in its own system's spelling.
tr -d '\r' <"$T/tools/fetch.windows" | sed 's/^Written to .*/Written to OUTPUT/' >"$T/tools/fetch.windows.text"
sed 's/^Written to .*/Written to OUTPUT/' "$T/tools/fetch.linux" | diff - "$T/tools/fetch.windows.text" >"$T/tools/fetch.diff" \
  || fail "korvane-load.exe fetch-file printed something else" "$T/tools/fetch.diff"
stop_peers tools
echo "--help, ports, identify and fetch-file: as on Linux"

# Ctrl+C during a load is Cancel: while the application goes to the pad over a
# slow cable the operator presses Ctrl+C (Wine turns SIGINT into the console's
# Ctrl+C event), and the load ends on its own, reported, without LOADED.
PAD_BAUD=9600 start_peers cancel
map_com_port "$PORT_NUMBER" "$PAD_DEVICE"
(cd "$T/cancel/work" && KORVANE_LOADER_CONFIG=$(windows_path "$T/cancel/loader.conf") \
  exec wine "$WINDOWS_LOAD" load --model "$MODEL" --port "$PORT_NUMBER" --connection serial) \
  >"$T/cancel/load.out" 2>"$T/cancel/load.err" &
LOAD_PID=$!
PIDS="$PIDS $LOAD_PID"
await_line "$T/cancel/load.err" "Loading RBAIPP350.OGZ block 2 " "$LOAD_PID" || fail "the load to cancel did not reach the pad's download" "$T/cancel/load.err"
pkill -INT -f "korvane-load.exe" || fail "no korvane-load.exe process to send Ctrl+C to"
status=0
wait "$LOAD_PID" || status=$?
stop_peers cancel
grep -q "Cancel Sent" "$T/cancel/load.err" || fail "Ctrl+C was not taken as Cancel" "$T/cancel/load.err" "$T/cancel/load.out"
! tr -d '\r' <"$T/cancel/load.out" | grep -qx "LOADED" || fail "the cancelled load ended LOADED" "$T/cancel/load.out"
[ "$status" -ne 0 ] || fail "the cancelled load ended with status 0" "$T/cancel/load.out"
echo "Ctrl+C: cancelled ($(tr -d '\r' <"$T/cancel/load.out" | tail -n 1), status $status)"
