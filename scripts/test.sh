#!/bin/sh
# Installs, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test once.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/install-deps.sh"
export BUILD_DIR=${BUILD_DIR:-$ROOT/build-ci}
"$ROOT/scripts/build.sh" -DKORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
export QT_QPA_PLATFORM=offscreen
# Any sanitizer report fails its test: ASan and LSan end with an error status, UBSan does not recover.
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$BUILD_DIR"
ctest --output-on-failure -j2 --timeout 600 -LE "e2e|noise"
# The slow end-to-end tests, once, one after the other.
ctest --output-on-failure --timeout 900 -L e2e
# Whole loads over a noisy line, once, one after the other.
ctest --output-on-failure --timeout 600 -L noise
