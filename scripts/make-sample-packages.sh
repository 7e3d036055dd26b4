#!/bin/sh
# Writes a package folder for korvane-load-server with an application and both
# configuration bundles for every Ingenico pad, the UPP applications of the
# Lane, Move and Link pads, the four security files, and the FPE and
# configuration bundles of the Equinox L5300 (PCI2 and PCI3), the Verifone
# Vx805 bundles, and the P400 package "p400/KVP400SILENTD41.pkg" (not served:
# the loader reads it from its working directory), packed with korvane-bundle
# (found as $KORVANE_BUNDLE, else in the build folder, else on PATH).
#
# The contents are our own: a readable header naming the package, the version
# marker the pad simulator installs from, then every byte value over and over,
# so that nothing on the way may treat the data as text.
set -eu

usage() {
  echo "usage: make-sample-packages.sh DIR [--app-size BYTES] [--config-size BYTES]" >&2
  echo "                                   [--fpe-size BYTES] [--forms-size BYTES]" >&2
  exit 2
}

DIR=""
APP_SIZE=40960
CONFIG_SIZE=8192
# The largest file of each Equinox bundle; both go in several chunks of 65000 bytes.
FPE_SIZE=150000
FORMS_SIZE=70000
while [ $# -gt 0 ]; do
  case "$1" in
    --app-size) [ $# -ge 2 ] || usage; APP_SIZE=$2; shift 2 ;;
    --config-size) [ $# -ge 2 ] || usage; CONFIG_SIZE=$2; shift 2 ;;
    --fpe-size) [ $# -ge 2 ] || usage; FPE_SIZE=$2; shift 2 ;;
    --forms-size) [ $# -ge 2 ] || usage; FORMS_SIZE=$2; shift 2 ;;
    -*) usage ;;
    *) [ -z "$DIR" ] || usage; DIR=$1; shift ;;
  esac
done
[ -n "$DIR" ] || usage
for size in "$APP_SIZE" "$CONFIG_SIZE" "$FPE_SIZE" "$FORMS_SIZE"; do
  case "$size" in ''|*[!0-9]*) echo "make-sample-packages.sh: sizes are byte counts" >&2; exit 2 ;; esac
done

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUNDLE=${KORVANE_BUNDLE:-}
if [ -z "$BUNDLE" ]; then
  for candidate in "${BUILD_DIR:-$ROOT/build}/tools/bundle/korvane-bundle" "$ROOT/build/tools/bundle/korvane-bundle" \
                   "$(command -v korvane-bundle || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then BUNDLE=$candidate; break; fi
  done
fi
if [ -z "$BUNDLE" ] || [ ! -x "$BUNDLE" ]; then
  echo "make-sample-packages.sh: korvane-bundle not found; build first (scripts/build.sh) or set KORVANE_BUNDLE" >&2
  exit 1
fi

# The pad simulator reports these once a file carrying them is installed; the
# application's equals its package version, so a pad on it is already loaded.
APP_VERSION=2310
CONFIG_VERSION=CFG0210

INGENICO_PADS="iSC250 iSC250V4 iSC480 iSC480V4 iPP320 iPP320V4 iPP350 iPP350V4 iWL250 iWL258 iUC285 iCM122 iSMP4"
UPP_MODELS="L3000 L5000 L7000 L8000 M5000 LK2500"
SECURITY_FILES="Secbin.pgz Secbin_21.pgz SECBIN_CLEAR.PGZ SECBIN_TETRA.PGZ"

export LC_ALL=C
mkdir -p "$DIR/apps" "$DIR/configs" "$DIR/files" "$DIR/equinox" "$DIR/verifone" "$DIR/p400"
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
  echo "# Equinox bundles: korvane-bundle list FILE shows what each holds."
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

# The Equinox L5300: per generation an FPE bundle and a configuration bundle
# with the forms, each of several files: one over 65000 bytes, one empty (the
# packing list korvane-bundle makes names it last, as the loader needs).
EQ_FPE_VERSION=0212
EQ_CONFIG_VERSION=0340

# equinox_bundle NAME VERSION BIG-NAME BIG-SIZE SMALL-NAMES... -- EMPTY-NAME
equinox_bundle() {
  name=$1 version=$2 big=$3 bigsize=$4
  shift 4
  folder="$SCRATCH/$name"
  mkdir -p "$folder"
  sample_file "$folder/$big" "$bigsize" "KorvaneFieldLoader sample $name file $big" "VERSION=$version"
  while [ "$1" != "--" ]; do
    sample_file "$folder/$1" 3000 "KorvaneFieldLoader sample $name file $1" "VERSION=$version"
    shift
  done
  : >"$folder/$2"
  "$BUNDLE" pack "$folder" -o "$DIR/equinox/$name.bdl" >/dev/null
  add_package "$name" "equinox/$name.bdl" "$version" "$name.BDL"
}

for generation in PCI2 PCI3; do
  equinox_bundle "EQ_L5XXX_FPE_$generation" "$EQ_FPE_VERSION" L5300FPE.BIN "$FPE_SIZE" FPEPARAM.DAT FPEVER.TXT \
    -- FPEDONE.FLG
  equinox_bundle "EQ_L5300_${generation}_SILVE2E" "$EQ_CONFIG_VERSION" KVFORMS.DAT "$FORMS_SIZE" PROMPTS.TXT LOGO.BIN \
    -- FORMS.FLG
done

# The Verifone Vx805: one bundle per button, each with both download
# descriptions (the loader names the one for the connection to ddl.exe) and
# the files they list. No packing list: ddl.exe reads the description.
VX805_VERSION=0412
for name in VX805_COMMSERVER VX805_ELV_XPI; do
  folder="$SCRATCH/$name"
  mkdir -p "$folder"
  for link in Serial USB; do
    printf 'KorvaneFieldLoader sample download description for %s over %s\nVX805APP.ZIP\nVX805CFG.DAT\n' \
      "$name" "$link" >"$folder/Evoload$link.dld"
  done
  sample_file "$folder/VX805APP.ZIP" "$FORMS_SIZE" "KorvaneFieldLoader sample $name application" "VERSION=$VX805_VERSION"
  sample_file "$folder/VX805CFG.DAT" 3000 "KorvaneFieldLoader sample $name configuration" "VERSION=$VX805_VERSION"
  "$BUNDLE" pack "$folder" -o "$DIR/verifone/$name.bdl" --no-packing-list >/dev/null
  add_package "$name" "verifone/$name.bdl" "$VX805_VERSION" "$name.BDL"
done

# The P400 package: the two archives ddl.exe installs, in this order.
folder="$SCRATCH/p400"
mkdir -p "$folder"
sample_file "$folder/1_VOS2_LOAD_SOLUTIONS_DL.TGZ" "$FORMS_SIZE" "KorvaneFieldLoader sample P400 ADK archive"
sample_file "$folder/2_DL.VOS2-ENGAGE-CXPI+CONFIG.TGZ" "$FPE_SIZE" "KorvaneFieldLoader sample P400 XPI archive"
"$BUNDLE" pack "$folder" -o "$DIR/p400/KVP400SILENTD41.pkg" --no-packing-list >/dev/null
