#!/bin/sh
# Writes a package folder for korvane-load-server with an application and both
# configuration bundles for every Ingenico pad, the UPP applications of the
# Lane, Move and Link pads, and the four security files.
#
# The contents are our own: a readable header naming the package, the version
# marker the pad simulator installs from, then every byte value over and over,
# so that nothing on the way may treat the data as text.
set -eu

usage() {
  echo "usage: make-sample-packages.sh DIR [--app-size BYTES] [--config-size BYTES]" >&2
  exit 2
}

DIR=""
APP_SIZE=40960
CONFIG_SIZE=8192
while [ $# -gt 0 ]; do
  case "$1" in
    --app-size) [ $# -ge 2 ] || usage; APP_SIZE=$2; shift 2 ;;
    --config-size) [ $# -ge 2 ] || usage; CONFIG_SIZE=$2; shift 2 ;;
    -*) usage ;;
    *) [ -z "$DIR" ] || usage; DIR=$1; shift ;;
  esac
done
[ -n "$DIR" ] || usage
for size in "$APP_SIZE" "$CONFIG_SIZE"; do
  case "$size" in ''|*[!0-9]*) echo "make-sample-packages.sh: sizes are byte counts" >&2; exit 2 ;; esac
done

# The pad simulator reports these once a file carrying them is installed; the
# application's equals its package version, so a pad on it is already loaded.
APP_VERSION=2310
CONFIG_VERSION=CFG0210

INGENICO_PADS="iSC250 iSC250V4 iSC480 iSC480V4 iPP320 iPP320V4 iPP350 iPP350V4 iWL250 iWL258 iUC285 iCM122 iSMP4"
UPP_MODELS="L3000 L5000 L7000 L8000 M5000 LK2500"
SECURITY_FILES="Secbin.pgz Secbin_21.pgz SECBIN_CLEAR.PGZ SECBIN_TETRA.PGZ"

export LC_ALL=C
mkdir -p "$DIR/apps" "$DIR/configs" "$DIR/files"
SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT

# All 256 byte values once, in order.
i=0
while [ $i -lt 256 ]; do
  printf '%b' "\\0$(printf %o $i)"
  i=$((i + 1))
done >"$SCRATCH/bytes"

# sample_file PATH SIZE HEADER...: the header lines, then lines naming the
# package and every byte value in turn, cut to SIZE bytes (never shorter than
# the header, so the marker survives).
sample_file() {
  path=$1 size=$2
  shift 2
  printf '%s\n' "$@" >"$SCRATCH/head"
  { printf '\n%s, every byte value follows:\n' "$1"; cat "$SCRATCH/bytes"; } >"$SCRATCH/unit"
  have=$(wc -c <"$SCRATCH/head")
  # Doubling keeps this quick for large sizes.
  while [ "$(wc -c <"$SCRATCH/unit")" -lt $((size - have)) ]; do
    cat "$SCRATCH/unit" "$SCRATCH/unit" >"$SCRATCH/twice"
    mv "$SCRATCH/twice" "$SCRATCH/unit"
  done
  if [ "$size" -gt "$have" ]; then
    { cat "$SCRATCH/head"; head -c $((size - have)) "$SCRATCH/unit"; } >"$path"
  else
    cp "$SCRATCH/head" "$path"
  fi
}

upper() { printf '%s' "$1" | tr 'a-z' 'A-Z'; }

{
  echo "# Sample packages for korvane-load-server, written by make-sample-packages.sh."
  echo "# Security files are served from files/ by name (version 1)."
} >"$DIR/packages.ini"

add_package() {  # NAME FILE VERSION INFO-FILE-NAME
  printf '\n[model %s]\nfile = %s\nversion = %s\ninfo-file-name = %s\n' "$1" "$2" "$3" "$4" >>"$DIR/packages.ini"
}

for pad in $INGENICO_PADS; do
  name=${pad}_RBA
  sample_file "$DIR/apps/$name.bin" "$APP_SIZE" "KorvaneFieldLoader sample application $name" \
    "RBA_APP_VERSION=$APP_VERSION"
  add_package "$name" "apps/$name.bin" "$APP_VERSION" "RBA$(upper "$pad").OGZ"
  for link in SERIAL USB; do
    name=${pad}_KVS_$link
    sample_file "$DIR/configs/$name.bin" "$CONFIG_SIZE" "KorvaneFieldLoader sample configuration $name" \
      "RBA_CONFIG_VERSION=$CONFIG_VERSION"
    add_package "$name" "configs/$name.bin" "$CONFIG_VERSION" "KVS$(upper "$pad")$link.TGZ"
  done
done

for model in $UPP_MODELS; do
  name=${model}_KVS_UPP
  sample_file "$DIR/apps/$name.bin" "$APP_SIZE" "KorvaneFieldLoader sample UPP application $name" \
    "RBA_APP_VERSION=$APP_VERSION"
  add_package "$name" "apps/$name.bin" "$APP_VERSION" "UPP$model.OGZ"
done

for file in $SECURITY_FILES; do
  sample_file "$DIR/files/$file" "$CONFIG_SIZE" "KorvaneFieldLoader sample security file $file"
done
