#!/usr/bin/env bash
# Builds pagrove (and the sample writer) if needed, writes a small sample
# Btrieve data file made by the project's own test writer, and salvages it:
# the console lines of the run, then where the dump went and what it holds.
#
#   scripts/salvage-sample.sh [FORMAT]     FORMAT 1..4, default 1
#
# Needs no terminal: the closing key prompt takes a key from a terminal if
# there is one and otherwise goes on by itself.
set -euo pipefail
cd "$(dirname "$0")/.."
FORMAT=${1:-1}
BUILD=${BUILD_DIR:-build}
OUT=${SAMPLE_DIR:-$BUILD/sample}

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++ make)
dpkg -s libgtest-dev >/dev/null 2>&1 || need+=(libgtest-dev)
if [ ${#need[@]} -gt 0 ]; then
  scripts/install-packages.sh "${need[@]}" >/dev/null
fi

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD" --target pagrove make_sample -j 2 >/dev/null

mkdir -p "$OUT"
"$BUILD/tests/console/make_sample" "$OUT/customers.btr"
echo
echo "\$ pagrove -btrin $OUT/customers.btr -btrout $OUT/customers.dump -format $FORMAT"
status=0
"$BUILD/console/pagrove" -btrin "$OUT/customers.btr" -btrout "$OUT/customers.dump" \
    -format "$FORMAT" || status=$?
echo
echo "dump file: $OUT/customers.dump ($(wc -c <"$OUT/customers.dump") bytes), exit code $status"
if command -v xxd >/dev/null 2>&1; then
  xxd "$OUT/customers.dump" | head -n 12
else
  od -A d -c "$OUT/customers.dump" | head -n 12
fi
exit "$status"
