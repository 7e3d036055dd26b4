#!/bin/sh
# Cross-builds the Windows programs and tests them under Wine: every
# tests/windows/*.run.sh in turn, each against Linux peers it starts itself
# (a pseudo-terminal mapped as a COM port, TLS servers, the load server and
# the pad simulator). The Linux peers come from BUILD_DIR (default build-ci/
# when it is configured, else build/), built there when missing.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/install-deps.sh" --windows

WINDOWS_BUILD=${WINDOWS_BUILD_DIR:-$ROOT/build-windows}
WINDOWS_BUILD_DIR=$WINDOWS_BUILD sh "$ROOT/scripts/build-windows.sh"

LINUX_BUILD=${BUILD_DIR:-}
if [ -z "$LINUX_BUILD" ]; then
  if [ -f "$ROOT/build-ci/build.ninja" ]; then LINUX_BUILD=$ROOT/build-ci; else LINUX_BUILD=$ROOT/build; fi
fi
if [ -f "$LINUX_BUILD/build.ninja" ]; then ninja -C "$LINUX_BUILD"; else BUILD_DIR=$LINUX_BUILD sh "$ROOT/scripts/build.sh"; fi

TEST_TMP=$(mktemp -d "${TMPDIR:-/tmp}/korvane-windows.XXXXXX")
# A private Wine prefix for this run; no Mono or Gecko prompts, no Wine chatter.
export WINEPREFIX="$TEST_TMP/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$TEST_TMP"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# One file that runs on a bare Windows: a 64-bit console program whose imports
# are all Windows' own DLLs (the C and C++ runtimes are linked in).
EXE=$WINDOWS_BUILD/app/cli/korvane-load.exe
file "$EXE" | grep -q "PE32+ executable (console) x86-64" || { file "$EXE" >&2; exit 1; }
imports=$(x86_64-w64-mingw32-objdump -p "$EXE" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $imports; do
  case "$dll" in
    kernel32.dll|advapi32.dll|ws2_32.dll|msvcrt.dll|user32.dll|crypt32.dll) ;;
    *) echo "test-windows.sh: korvane-load.exe needs $dll, which Windows does not bring" >&2; exit 1 ;;
  esac
done
echo "== korvane-load.exe: PE32+ console program, imports $(echo $imports)"

started=$(date +%s)
echo "== Wine prefix in $WINEPREFIX ($(wine --version 2>/dev/null))"
wineboot -i >"$TEST_TMP/wineboot.log" 2>&1 || { cat "$TEST_TMP/wineboot.log" >&2; exit 1; }
wineserver -w

export LINUX_BUILD WINDOWS_BUILD TEST_TMP ROOT
failed=""
for run in "$ROOT"/tests/windows/*.run.sh; do
  name=$(basename "$run" .run.sh)
  echo "== $name"
  mkdir -p "$TEST_TMP/$name"
  if TEST_TMP="$TEST_TMP/$name" sh "$run"; then echo "== $name: passed"; else echo "== $name: FAILED"; failed="$failed $name"; fi
  wineserver -k 2>/dev/null || true
done
echo "== Windows tests took $(( $(date +%s) - started )) s"
if [ -n "$failed" ]; then
  echo "test-windows.sh: failed:$failed" >&2
  exit 1
fi
