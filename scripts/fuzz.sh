#!/usr/bin/env bash
# Builds the fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in its own build directory, writes the seed
# corpus, replays the kept inputs (fuzz/corpus and tests/damage/regressions)
# and then fuzzes for a bounded time.  Exits non-zero on any finding: a
# crash, a sanitizer report, a leak, an input slower than 10 seconds or one
# that takes more than 2 GiB.
#
#   scripts/fuzz.sh                      120 seconds (FUZZ_SECONDS)
#   FUZZ_SECONDS=3600 scripts/fuzz.sh    longer
#   FUZZ_SECONDS=0 scripts/fuzz.sh       replay only
#   FUZZ_MERGE=1 scripts/fuzz.sh         afterwards, minimise what the run
#                                        grew into fuzz/corpus
#
# Needs clang and libclang-rt-14-dev (Debian).  Inputs that fail are left
# in build-fuzz/artifacts; keep them under tests/damage/regressions.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
RUN_SECONDS=${FUZZ_SECONDS:-120}
JOBS=$(nproc 2>/dev/null || echo 2)
# Large enough for the 0x0800/0x0900 seeds, whose control page copies and
# allocation tables take a dozen kilobytes before the first data page.
MAX_LEN=16384
FUZZ_FLAGS=(-rss_limit_mb=2048 -timeout=10 -max_len=$MAX_LEN -print_final_stats=1)

echo "--- building the fuzz target in $BUILD"
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGANDREL_FUZZ=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target reader_fuzzer make_seeds
FUZZER="$BUILD/fuzz/reader_fuzzer"

SEEDS="$BUILD/fuzz-seeds"
WORK="$BUILD/fuzz-work"
ARTIFACTS="$BUILD/artifacts"
rm -rf "$SEEDS"
mkdir -p "$SEEDS" "$WORK" "$ARTIFACTS" fuzz/corpus tests/damage/regressions
"$BUILD/fuzz/make_seeds" "$SEEDS"

echo "--- replaying the kept inputs"
kept=()
for f in fuzz/corpus/* tests/damage/regressions/*; do
  [ -f "$f" ] && [ "$(basename "$f")" != README ] && kept+=("$f")
done
if [ ${#kept[@]} -gt 0 ]; then
  # Given files, the target runs each once and stops at the first failure.
  "$FUZZER" "${FUZZ_FLAGS[@]}" -artifact_prefix="$ARTIFACTS/" "${kept[@]}" \
    > "$BUILD/replay.log" 2>&1 || { tail -40 "$BUILD/replay.log"; exit 1; }
  echo "${#kept[@]} inputs replayed"
fi

if [ "$RUN_SECONDS" -gt 0 ]; then
  echo "--- fuzzing for $RUN_SECONDS seconds"
  # New inputs go to the work directory; the kept corpus and the seeds are
  # read only as a start.
  "$FUZZER" "${FUZZ_FLAGS[@]}" -max_total_time="$RUN_SECONDS" \
    -artifact_prefix="$ARTIFACTS/" "$WORK" fuzz/corpus "$SEEDS" \
    > "$BUILD/fuzz.log" 2>&1 || { tail -60 "$BUILD/fuzz.log"; exit 1; }
  grep -E '^#[0-9]+ +DONE|^stat::' "$BUILD/fuzz.log" || true
fi

if [ -n "${FUZZ_MERGE:-}" ]; then
  echo "--- minimising into fuzz/corpus"
  merged="$BUILD/fuzz-merged"
  rm -rf "$merged" && mkdir -p "$merged"
  "$FUZZER" -merge=1 -max_len=$MAX_LEN "$merged" fuzz/corpus "$WORK" "$SEEDS" \
    > "$BUILD/merge.log" 2>&1
  rm -f fuzz/corpus/*
  cp "$merged"/* fuzz/corpus/
  echo "fuzz/corpus: $(ls fuzz/corpus | wc -l) files, $(du -sh fuzz/corpus | cut -f1)"
fi
echo "--- fuzzing found nothing"
