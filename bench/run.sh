#!/usr/bin/env bash
# Whole-program speed runs: pagrove beside the tools a user would pick, on
# generated data files, each pair measured in the same run on the same file.
# Prints a table (file, format, our time, baseline, its time, ratio, peak
# memory of both), then the in-process open times (reader_bench).
#
#   bench/run.sh            1 GiB files, 5 alternating runs each (some minutes)
#   bench/run.sh --quick    files of a few MiB, one run; checks the dumps'
#                           sizes and bytes and exits non-zero when one is off
#
# Options:
#   --build DIR   build directory (default: build-bench); configured and built
#                 with -DGANDREL_BENCH=ON unless --no-build is given
#   --data DIR    where the data files and dumps go (default: /dev/shm/gandrel-bench
#                 where /dev/shm has room, else DIR/bench-data; on tmpfs the
#                 disk's write-back cannot decide the figures)
#   --reps N      runs per measurement (the minimum and the median are reported)
#   --keep        keep the generated data files (they are reused next time)
#
# Ratio is our time divided by the baseline's, of the medians and of the
# minimums: at most 1.3 against dd for the raw format, at most 0.1 against
# xxd -p (ten times faster) for the hex format and at most 1.3 against dd
# writing as many bytes as the hex dump holds (the cost of the output alone),
# at most 1.3 for gandrel salvage against pagrove, at most 12 for the 1 GiB
# file against the 100 MiB file.  The verdict is taken on the minimums, the
# runs least disturbed by the rest of the machine.
# Exit code 77 when dd, xxd or /usr/bin/time is missing.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)

QUICK=0
BUILD=$ROOT/build-bench
DATA=
REPS=
KEEP=0
DO_BUILD=1
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) QUICK=1 ;;
    --build) BUILD=$2; shift ;;
    --data) DATA=$2; shift ;;
    --reps) REPS=$2; shift ;;
    --keep) KEEP=1 ;;
    --no-build) DO_BUILD=0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
if [ -z "$DATA" ]; then
  DATA=$BUILD/bench-data
  # 1 GiB files, a 2 GiB hex dump and its priming need about 8 GiB.
  if [ $QUICK = 0 ] && [ -w /dev/shm ] &&
     [ "$(df -k --output=avail /dev/shm | tail -n1)" -gt $((9 * 1048576)) ]; then
    DATA=/dev/shm/gandrel-bench
  fi
fi
if [ -z "$REPS" ]; then if [ $QUICK = 1 ]; then REPS=1; else REPS=5; fi; fi

for tool in dd xxd /usr/bin/time; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "run.sh: $tool is missing (Debian packages coreutils, xxd, time)" >&2
    exit 77
  fi
done

if [ $DO_BUILD = 1 ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DGANDREL_BENCH=ON >/dev/null
  cmake --build "$BUILD" -j "$(nproc)" --target pagrove gandrel make_bench_file >/dev/null
  cmake --build "$BUILD" -j "$(nproc)" --target reader_bench >/dev/null 2>&1 || true
fi
PAGROVE=$BUILD/console/pagrove
GANDREL=$BUILD/gandrel/gandrel
MAKE_FILE=$BUILD/bench/make_bench_file
READER_BENCH=$BUILD/bench/reader_bench
for program in "$PAGROVE" "$GANDREL" "$MAKE_FILE"; do
  [ -x "$program" ] || { echo "run.sh: $program is not built" >&2; exit 1; }
done

mkdir -p "$DATA"
OUT=$DATA/out
mkdir -p "$OUT"

# --- The data files ------------------------------------------------------------
# name kind size; the quick sizes keep the same kinds and the same 1:10 pair.
if [ $QUICK = 1 ]; then
  FILES="v0600-4m:v0600:4M v0600-400k:v0600:400K v0900-4m:v0900:4M v0500-4m:v0500:4M v0700var-4m:v0700var:4M"
  BIG=v0600-4m SMALL=v0600-400k
else
  FILES="v0600-1g:v0600:1G v0600-100m:v0600:100M v0900-1g:v0900:1G v0500-1g:v0500:1G v0700var-256m:v0700var:256M"
  BIG=v0600-1g SMALL=v0600-100m
fi

declare -A RECORDS
for entry in $FILES; do
  IFS=: read -r name kind size <<<"$entry"
  file=$DATA/$name.btr
  info=$DATA/$name.info
  # A file made by the same generator from the same arguments is reused.
  if [ ! -f "$file" ] || [ ! -f "$info" ] || [ "$(head -n1 "$info")" != "$kind $size" ] ||
     [ "$MAKE_FILE" -nt "$file" ]; then
    line=$("$MAKE_FILE" "$kind" "$size" "$file")
    printf '%s %s\n%s\n' "$kind" "$size" "$line" >"$info"
  fi
  # "PATH N bytes, R records, ..."
  RECORDS[$name]=$(sed -n 2p "$info" | awk '{print $4}')
done

# --- Timing ----------------------------------------------------------------------
# Runs a command under /usr/bin/time; sets SECONDS_TAKEN (wall clock) and
# PEAK_KIB (maximum resident set size).
run_timed() {
  local rss=$OUT/.rss
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$rss" "$@" >/dev/null 2>"$OUT/.stderr" || {
    echo "run.sh: failed: $*" >&2; cat "$OUT/.stderr" >&2; exit 1; }
  end=$(date +%s%N)
  SECONDS_TAKEN=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
  PEAK_KIB=$(tail -n1 "$rss")
}

median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END {
  if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
max_of() { tr ' ' '\n' | sed '/^$/d' | sort -g | tail -n1; }
min_of() { tr ' ' '\n' | sed '/^$/d' | sort -g | head -n1; }
# "median min" of a list of times, as one row field.
times_of() { printf '%s/%s' "$(echo "$1" | median)" "$(echo "$1" | min_of)"; }

# Fresh output each run, and earlier dirty pages written back first, so that
# no run pays for another's writes.  Then the memory for the next dump is
# primed: on a virtual machine the first write to memory the guest has not
# used lately (or has handed back to the host) faults into the hypervisor,
# and a 1 GiB hex dump took anywhere from 1.5 to 4.3 s of CPU time depending
# on where its page cache landed.  Writing and deleting zeros a little
# larger than the largest dump of `file` just before each timed run, ours and
# the baseline's alike, gives every run the same memory to write into.
fresh_output() {  # file
  rm -f "$OUT"/dump.*
  sync
  local prime_mib=$(( 21 * $(stat -c %s "$1") / 10 / 1048576 + 1 ))
  dd if=/dev/zero of="$OUT/prime" bs=1M count="$prime_mib" status=none
  rm -f "$OUT/prime"
}

run_ours() {  # file format
  run_timed "$PAGROVE" -btrin "$1" -btrout "$OUT/dump.ours" -format "$2" -silent true
}
run_baseline() {  # tool file
  case "$1" in
    dd) run_timed dd if="$2" of="$OUT/dump.base" bs=64k status=none ;;
    xxd) run_timed sh -c 'exec xxd -p "$0" > "$1"' "$2" "$OUT/dump.base" ;;
  esac
}

ROWS=()
CHECK_FAILURES=0

kib_to_mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# Dumps of the fixed-length kinds: format '2' is every record and CR LF plus
# the trailer, format '4' two hex digits per byte and CR LF.  With --quick
# the hex dump is also decoded and compared with the raw one.
check_dump() {  # name format
  local name=$1 format=$2 n=${RECORDS[$1]} size expected
  size=$(stat -c %s "$OUT/dump.ours")
  local length=100
  case "$name" in v0700var*) length= ;; esac
  if [ -n "$length" ]; then
    if [ "$format" = 2 ]; then expected=$((n * (length + 2) + 1)); else expected=$((n * (2 * length + 2))); fi
    if [ "$size" != "$expected" ]; then
      echo "CHECK FAILED: $name format $format: $size bytes, expected $expected" >&2
      CHECK_FAILURES=$((CHECK_FAILURES + 1))
    fi
  fi
  if [ "$format" = 2 ]; then cp "$OUT/dump.ours" "$OUT/raw.$name"; return; fi
  # Format '4' holds exactly twice the data bytes of format '2'.
  local raw
  raw=$(stat -c %s "$OUT/raw.$name")
  if [ $(( (raw - 1 - 2 * n) * 2 + 2 * n )) != "$size" ]; then
    echo "CHECK FAILED: $name: hex dump of $size bytes for a raw dump of $raw bytes" >&2
    CHECK_FAILURES=$((CHECK_FAILURES + 1))
  fi
  if [ $QUICK = 1 ] && [ -n "$length" ]; then
    # Fixed records are printable, so dropping CR LF leaves the records.
    if ! cmp -s <(xxd -r -p "$OUT/dump.ours") <(head -c -1 "$OUT/raw.$name" | tr -d '\r\n'); then
      echo "CHECK FAILED: $name: hex dump does not decode to the raw dump" >&2
      CHECK_FAILURES=$((CHECK_FAILURES + 1))
    fi
    if [ "$(head -c 8 "$OUT/raw.$name")" != R0000001 ]; then
      echo "CHECK FAILED: $name: the dump does not start with record 1" >&2
      CHECK_FAILURES=$((CHECK_FAILURES + 1))
    fi
  fi
  rm -f "$OUT/raw.$name"
}

# One row: our format against a baseline tool on the same file.
compare_tool() {  # name format tool target
  local name=$1 format=$2 tool=$3 target=$4 file=$DATA/$1.btr
  local ours="" base="" ours_peak="" base_peak="" rep
  for rep in $(seq "$REPS"); do
    fresh_output "$file"; run_baseline "$tool" "$file"
    base="$base $SECONDS_TAKEN"; base_peak="$base_peak $PEAK_KIB"
    fresh_output "$file"; run_ours "$file" "$format"
    ours="$ours $SECONDS_TAKEN"; ours_peak="$ours_peak $PEAK_KIB"
  done
  check_dump "$name" "$format"
  rm -f "$OUT"/dump.*
  local label
  case "$tool" in dd) label="dd bs=64k" ;; xxd) label="xxd -p" ;; esac
  ROWS+=("$name|$format|$(times_of "$ours")|$label|$(times_of "$base")|$target|$(echo "$ours_peak" | max_of)|$(echo "$base_peak" | max_of)")
}

# One row: gandrel salvage against pagrove on the same file, same format;
# the two dumps must be the same bytes.
compare_salvage() {  # name format target
  local name=$1 format=$2 target=$3 file=$DATA/$1.btr
  local ours="" base="" ours_peak="" base_peak="" rep
  for rep in $(seq "$REPS"); do
    fresh_output "$file"; run_ours "$file" "$format"
    base="$base $SECONDS_TAKEN"; base_peak="$base_peak $PEAK_KIB"
    mv "$OUT/dump.ours" "$OUT/pagrove.dump"
    fresh_output "$file"
    run_timed "$GANDREL" salvage "$file" -o "$OUT/dump.ours" --format "$format" --quiet
    ours="$ours $SECONDS_TAKEN"; ours_peak="$ours_peak $PEAK_KIB"
  done
  if ! cmp -s "$OUT/dump.ours" "$OUT/pagrove.dump"; then
    echo "CHECK FAILED: $name format $format: salvage and pagrove dumps differ" >&2
    CHECK_FAILURES=$((CHECK_FAILURES + 1))
  fi
  rm -f "$OUT"/dump.* "$OUT/pagrove.dump"
  ROWS+=("$name|salvage $format|$(times_of "$ours")|pagrove|$(times_of "$base")|$target|$(echo "$ours_peak" | max_of)|$(echo "$base_peak" | max_of)")
}

# One row: the big file against the small one, same format.
compare_growth() {  # big small format target
  local big=$1 small=$2 format=$3 target=$4
  local ours="" base="" ours_peak="" base_peak="" rep
  for rep in $(seq "$REPS"); do
    fresh_output "$DATA/$small.btr"; run_ours "$DATA/$small.btr" "$format"
    base="$base $SECONDS_TAKEN"; base_peak="$base_peak $PEAK_KIB"
    fresh_output "$DATA/$big.btr"; run_ours "$DATA/$big.btr" "$format"
    ours="$ours $SECONDS_TAKEN"; ours_peak="$ours_peak $PEAK_KIB"
  done
  rm -f "$OUT"/dump.*
  ROWS+=("$big|$format|$(times_of "$ours")|pagrove on $small|$(times_of "$base")|$target|$(echo "$ours_peak" | max_of)|$(echo "$base_peak" | max_of)")
}

# The limit of writing the hex dump: dd writing as many bytes (zeros) as
# pagrove's format '4' holds, alternating with pagrove.
compare_hex_limit() {  # name target
  local name=$1 target=$2 file=$DATA/$1.btr ours="" base="" ours_peak="" base_peak="" rep blocks
  fresh_output "$file"; run_ours "$file" 4
  blocks=$(( ($(stat -c %s "$OUT/dump.ours") + 65535) / 65536 ))
  for rep in $(seq "$REPS"); do
    fresh_output "$file"
    run_timed dd if=/dev/zero of="$OUT/dump.base" bs=64k count="$blocks" status=none
    base="$base $SECONDS_TAKEN"; base_peak="$base_peak $PEAK_KIB"
    fresh_output "$file"; run_ours "$file" 4
    ours="$ours $SECONDS_TAKEN"; ours_peak="$ours_peak $PEAK_KIB"
  done
  rm -f "$OUT"/dump.*
  ROWS+=("$name|4|$(times_of "$ours")|dd, as many bytes|$(times_of "$base")|$target|$(echo "$ours_peak" | max_of)|$(echo "$base_peak" | max_of)")
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) memory; load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "runs per measurement: $REPS (median and minimum; peak memory is the largest of the runs)"
for entry in $FILES; do
  IFS=: read -r name kind size <<<"$entry"
  echo "  $(sed -n 2p "$DATA/$name.info")"
done

for name in $BIG $(for entry in $FILES; do echo "${entry%%:*}"; done | grep -v -e "^$BIG\$" -e "^$SMALL\$"); do
  target2=""; target4=""
  # The targets hold for every full-size file; small files only prove the
  # suite runs.
  [ $QUICK = 1 ] || { target2="<= 1.3"; target4="<= 0.1"; }
  compare_tool "$name" 2 dd "$target2"
  compare_tool "$name" 4 xxd "$target4"
  compare_hex_limit "$name" "${target2}"
done
# How the kernel's cost of writing grows, for comparison: the hex dump of
# the big file writes twice its size.
compare_zero_writes() {  # big small
  local big=$1 small=$2 ours="" base="" ours_peak="" base_peak="" rep
  local big_blocks small_blocks
  big_blocks=$(( 2 * $(stat -c %s "$DATA/$big.btr") / 65536 ))
  small_blocks=$(( 2 * $(stat -c %s "$DATA/$small.btr") / 65536 ))
  for rep in $(seq "$REPS"); do
    fresh_output "$DATA/$small.btr"
    run_timed dd if=/dev/zero of="$OUT/dump.base" bs=64k count="$small_blocks" status=none
    base="$base $SECONDS_TAKEN"; base_peak="$base_peak $PEAK_KIB"
    fresh_output "$DATA/$big.btr"
    run_timed dd if=/dev/zero of="$OUT/dump.ours" bs=64k count="$big_blocks" status=none
    ours="$ours $SECONDS_TAKEN"; ours_peak="$ours_peak $PEAK_KIB"
  done
  rm -f "$OUT"/dump.*
  ROWS+=("zeros, 2x $big|dd|$(times_of "$ours")|zeros, 2x $small|$(times_of "$base")||$(echo "$ours_peak" | max_of)|$(echo "$base_peak" | max_of)")
}

# gandrel salvage costs at most 1.3 times pagrove on the full-size files.
salvage_target="<= 1.3"; [ $QUICK = 0 ] || salvage_target=""
for name in $BIG $(for entry in $FILES; do echo "${entry%%:*}"; done | grep -v -e "^$BIG\$" -e "^$SMALL\$"); do
  compare_salvage "$name" 2 "$salvage_target"
done
growth_target="<= 12"; [ $QUICK = 0 ] || growth_target=""
compare_growth "$BIG" "$SMALL" 2 "$growth_target"
compare_growth "$BIG" "$SMALL" 4 "$growth_target"
compare_zero_writes "$BIG" "$SMALL"

echo
echo "times in seconds, median/minimum of the runs; ratios of the medians and of the minimums"
printf '| %-18s | %-6s | %-13s | %-22s | %-13s | %-11s | %-14s | %-9s | %-9s |\n' \
  file format "ours (s)" baseline "base (s)" ratio target "our peak" "base peak"
printf '|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n' -------------------- -------- --------------- \
  ------------------------ --------------- ------------- ---------------- ----------- -----------
for row in "${ROWS[@]}"; do
  IFS='|' read -r name format ours label base target ours_peak base_peak <<<"$row"
  ratio_of() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "-" }'; }
  ratio_med=$(ratio_of "${ours%/*}" "${base%/*}")
  ratio_min=$(ratio_of "${ours#*/}" "${base#*/}")
  verdict=""
  if [ -n "$target" ]; then
    limit=${target#<= }
    verdict=$(awk -v r="$ratio_min" -v l="$limit" 'BEGIN { print (r <= l) ? "met" : "MISSED" }')
    verdict="$target $verdict"
  fi
  [ "$format" = dd ] || format="'$format'"
  printf '| %-18s | %-6s | %-13s | %-22s | %-13s | %-11s | %-14s | %-9s | %-9s |\n' \
    "$name" "$format" "$ours" "$label" "$base" "$ratio_med/$ratio_min" "${verdict:--}" \
    "$(kib_to_mib "$ours_peak") MiB" "$(kib_to_mib "$base_peak") MiB"
done

# --- Open times, in process ----------------------------------------------------------
if [ -x "$READER_BENCH" ]; then
  json=$OUT/reader_bench.json
  paths=()
  for entry in $FILES; do paths+=("$DATA/${entry%%:*}.btr"); done
  "$READER_BENCH" --benchmark_repetitions="$REPS" --benchmark_min_time=0.01 \
    --benchmark_report_aggregates_only="$([ "$REPS" -gt 1 ] && echo true || echo false)" \
    --benchmark_out="$json" --benchmark_out_format=json "${paths[@]}" >/dev/null 2>&1
  # The median of a benchmark (or its only run): one field of its record in
  # the JSON report, which has one field per line.
  field() {  # benchmark-name field
    awk -v want="$1" -v key="\"$2\":" '
      $1 == "\"name\":" { name = $2; gsub(/[",]/, "", name) }
      $1 == key && (name == want "_median" || name == want) { v = $2; sub(/,$/, "", v) }
      END { if (v != "") printf "%.1f", v }' "$json"
  }
  echo
  echo "In process (reader_bench, real time in ms; median of $REPS):"
  printf '| %-18s | %-9s | %-13s | %-12s | %-16s | %-13s |\n' file pages "open console" "open wizard" "open + records" "fread of file"
  printf '|%s|%s|%s|%s|%s|%s|\n' -------------------- ----------- --------------- -------------- ------------------ ---------------
  for entry in $FILES; do
    name=${entry%%:*}.btr
    pages=$(field "Open/$name/console/real_time" pages)
    printf '| %-18s | %-9s | %-13s | %-12s | %-16s | %-13s |\n' "$name" "${pages%.0}" \
      "$(field "Open/$name/console/real_time" real_time)" \
      "$(field "Open/$name/wizard/real_time" real_time)" \
      "$(field "Records/$name/real_time" real_time)" "$(field "ReadFile/$name/real_time" real_time)"
  done
else
  echo
  echo "reader_bench is not built (Google Benchmark missing): no in-process times"
fi
echo
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"

rm -rf "$OUT"
if [ $KEEP = 0 ]; then
  for entry in $FILES; do rm -f "$DATA/${entry%%:*}.btr" "$DATA/${entry%%:*}.info"; done
  rmdir "$DATA" 2>/dev/null || true
fi
if [ $CHECK_FAILURES -gt 0 ]; then
  echo "$CHECK_FAILURES dump check(s) failed" >&2
  exit 1
fi
