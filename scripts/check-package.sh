#!/bin/sh
# CI, after the tests: builds the Debian package, checks it with lintian,
# installs it with apt-get (sudo when not root), runs the installed programs
# (version, manual page, instance check, the demo's load from PATH), and
# removes it again unless it was installed before, so that it never shadows
# a build on this machine.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

scripts/install-deps.sh
sh scripts/package-deb.sh
set -- dist/korvane-field-loader_*.deb
[ $# = 1 ] && [ -f "$1" ] || { echo "check-package.sh: expected one package in dist/" >&2; exit 1; }
DEB=./$1

echo "== lintian $DEB"
# Fails on errors only; warnings are shown.
lintian --fail-on error "$DEB"

WAS_INSTALLED=0
if dpkg-query -W -f='${Status}' korvane-field-loader 2>/dev/null | grep -q "install ok installed"; then
  WAS_INSTALLED=1
fi
RUNTIME=$(mktemp -d "${TMPDIR:-/tmp}/korvane-runtime.XXXXXX")
cleanup() {
  status=$?
  trap - EXIT
  rm -rf "$RUNTIME"
  if [ "$WAS_INSTALLED" = 0 ]; then
    echo "== Removing the package again"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -q korvane-field-loader >/dev/null || status=1
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

echo "== apt-get install -y $DEB"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "$DEB"

# Each check prints what it runs, so that a failure in the log says which.
check() {
  echo "== $*"
  "$@"
}
for program in korvane-field-loader korvane-load korvane-load-server korvane-pad-sim korvane-bundle; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ] || { echo "check-package.sh: $program is not /usr/bin/$program" >&2; exit 1; }
done
check korvane-load --version
if ! check man -w korvane-load; then
  # Slim container images tell dpkg to drop every manual page.
  grep -ls 'path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/* >&2 &&
    echo "check-package.sh: dpkg is told to leave manual pages out (files above)" >&2
  exit 1
fi
for page in korvane-field-loader korvane-load-server korvane-pad-sim korvane-bundle; do man -w "$page" >/dev/null; done
# Its own lock folder: a copy running on this machine's desktop must not decide the check.
check env XDG_RUNTIME_DIR="$RUNTIME" korvane-field-loader -i
check desktop-file-validate /usr/share/applications/korvane-field-loader.desktop
for size in 16 22 24 32 48 64 128 256; do
  test -s "/usr/share/icons/hicolor/${size}x${size}/apps/korvane-field-loader.png" ||
    { echo "check-package.sh: the ${size}x${size} icon is missing" >&2; exit 1; }
done
if dpkg -L korvane-field-loader | grep -q '^/etc'; then
  echo "check-package.sh: the package puts files into /etc" >&2
  exit 1
fi

echo "== The demo's load with the installed programs"
set +e
sh scripts/demo.sh --installed >"$RUNTIME/demo.out" 2>&1
status=$?
set -e
cat "$RUNTIME/demo.out"
if [ "$status" != 0 ] || ! grep -qx 'outcome: LOADED' "$RUNTIME/demo.out"; then
  echo "check-package.sh: the demo's load with the installed programs did not end \"LOADED\"" >&2
  exit 1
fi
echo "== The installed package passed"
