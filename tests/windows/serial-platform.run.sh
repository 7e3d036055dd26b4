#!/bin/sh
# Runs the Windows serial port and platform tests under Wine. The serial
# tests talk to the Linux peer at the master side of a pseudo-terminal whose
# slave Wine maps as COM7.
# Environment: LINUX_BUILD, WINDOWS_BUILD, WINEPREFIX (a ready prefix), TEST_TMP.
set -eu
: "${LINUX_BUILD:?}" "${WINDOWS_BUILD:?}" "${WINEPREFIX:?}" "${TEST_TMP:?}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
COM_NUMBER=7
PEER="$LINUX_BUILD/tests/windows/peers/korvane_serial_loop_peer"
TESTS="$WINDOWS_BUILD/tests/windows"
WORK="$TEST_TMP/serial-platform"
mkdir -p "$WORK"

# Emptied here: the background start truncates it only once it has forked.
: >"$WORK/peer.out"
"$PEER" >"$WORK/peer.out" 2>"$WORK/peer.err" &
peer_pid=$!
stop_peer() { kill "$peer_pid" 2>/dev/null || true; }
trap stop_peer EXIT

# The peer's first line is the slave's path.
tries=0
while [ ! -s "$WORK/peer.out" ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 100 ] || ! kill -0 "$peer_pid" 2>/dev/null; then
    echo "serial-platform: the peer did not start" >&2
    cat "$WORK/peer.err" >&2
    exit 1
  fi
  sleep 0.1
done
slave=$(head -n 1 "$WORK/peer.out")
case "$slave" in
  /dev/pts/*) ;;
  *) echo "serial-platform: the peer gave no pseudo-terminal: \"$slave\"" >&2; exit 1 ;;
esac

# Wine makes dosdevices/comN from this key when it starts; a link made by
# hand would be replaced then.
wine reg add 'HKLM\Software\Wine\Ports' /v "COM$COM_NUMBER" /t REG_SZ /d "$slave" /f >/dev/null 2>&1
wineserver -w

# Each run gets a server started here, so that its object dumps at exit go
# to a file instead of the log; a run that hangs is ended.
run_wine() {
  wineserver 2>>"$WORK/wineserver.log" || true
  KORVANE_TEST_COM_PORT=$COM_NUMBER timeout 900 wine "$@"
}

status=0
run_wine "$TESTS/serial_port_win32_tests.exe" || status=1
# The tests' last step tells the peer to end and give its verdict.
peer_status=0
wait "$peer_pid" || peer_status=$?
trap - EXIT
cat "$WORK/peer.err" >&2
if [ "$peer_status" -ne 0 ]; then
  echo "serial-platform: the peer saw deviations (status $peer_status)" >&2
  status=1
fi

run_wine "$TESTS/platform_win32_tests.exe" || status=1

wine reg delete 'HKLM\Software\Wine\Ports' /v "COM$COM_NUMBER" /f >/dev/null 2>&1 || true
exit "$status"
