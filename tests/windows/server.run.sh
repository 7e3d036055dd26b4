#!/bin/sh
# The load server client's Windows tests under Wine, against the Linux TLS
# peer. Called by scripts/test-windows.sh with LINUX_BUILD (has the peer
# built), WINDOWS_BUILD, WINEPREFIX (a ready prefix) and TEST_TMP set.
# Fails when a test fails or the peer saw a byte it did not expect.
set -u
: "${LINUX_BUILD:?}" "${WINDOWS_BUILD:?}" "${WINEPREFIX:?}" "${TEST_TMP:?}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
WINE=${WINE:-wine}

peer="$LINUX_BUILD/tests/windows/peers/korvane-tls-scenario-peer"
ports="$TEST_TMP/tls-peer-ports"
peer_log="$TEST_TMP/tls-peer.log"
if [ ! -x "$peer" ]; then
  echo "server.run.sh: no TLS peer at $peer (build the Linux tree first)" >&2
  exit 1
fi

rm -f "$ports"
"$peer" "$ports" >"$TEST_TMP/tls-peer.out" 2>"$peer_log" &
peer_pid=$!
trap 'kill -TERM $peer_pid 2>/dev/null' EXIT INT TERM

# The peer writes the file whole once every port listens.
tries=0
while [ ! -s "$ports" ]; do
  if ! kill -0 $peer_pid 2>/dev/null || [ $tries -ge 100 ]; then
    echo "server.run.sh: the TLS peer did not start" >&2
    cat "$peer_log" >&2
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.1
done

windows_ports=$(winepath -w "$ports" 2>/dev/null || echo "Z:$ports" | tr / '\\')
status=0
for test in challenge_cipher_win32_tests secure_channel_win32_tests; do
  echo "== $test (Wine)"
  if ! KORVANE_TLS_PEER_PORTS="$windows_ports" "$WINE" "$WINDOWS_BUILD/tests/windows/$test.exe"; then
    status=1
  fi
done

kill -TERM $peer_pid
if ! wait $peer_pid; then
  echo "server.run.sh: the TLS peer saw deviations:" >&2
  status=1
fi
trap - EXIT INT TERM
cat "$peer_log" >&2
tail -n 1 "$TEST_TMP/tls-peer.out"
exit $status
