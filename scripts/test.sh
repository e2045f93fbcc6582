#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds everything (native,
# sanitizers, 32-bit Windows) and runs every test.  Exits non-zero when any
# step fails.  Needs no terminal and no standard input.
#
#   scripts/test.sh            everything
#   SKIP_WINDOWS=1 scripts/test.sh   native builds only
#   SKIP_FUZZ=1 scripts/test.sh      no bounded fuzz run
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=$(nproc 2>/dev/null || echo 2)
export DEBIAN_FRONTEND=noninteractive

step() { printf '\n=== %s ===\n' "$*"; }

# Every step's processor time (user + system of the programs it ran, as the
# shell's `times` counts them) and wall time, to build/step-times.txt and to
# the end of the output.  PER_TEST=1 runs the tests one at a time so that each
# test program gets a line of its own.
mkdir -p build
STEP_LOG=$ROOT/build/step-times.txt
: >"$STEP_LOG"
TIMES_FILE=$(mktemp)
cpu_mark() {  # cpu_mark VAR: seconds of processor time used by finished children
  times >"$TIMES_FILE"
  printf -v "$1" '%s' "$(awk 'NR == 2 { n = split($0, f, " "); t = 0
      for (i = 1; i <= n; i++) { split(f[i], p, "m"); t += p[1] * 60 + p[2] }
      printf "%.1f", t }' "$TIMES_FILE")"
}
timed() {  # timed NAME COMMAND...: runs COMMAND, logs its times under NAME
  local name=$1 cpu0 cpu1 wall0=$SECONDS
  shift
  cpu_mark cpu0
  "$@"
  cpu_mark cpu1
  awk -v n="$name" -v a="$cpu0" -v b="$cpu1" -v w=$((SECONDS - wall0)) \
    'BEGIN { printf "%-40s cpu %7.1f s   wall %5d s\n", n, b - a, w }' | tee -a "$STEP_LOG"
}
run_ctest() {  # run_ctest LABEL BUILD_DIR CTEST_ARGS...
  local label=$1 dir=$2 t
  shift 2
  if [ -z "${PER_TEST:-}" ]; then
    timed "$label" bash -c 'cd "$0" && ctest --output-on-failure "$@" </dev/null' "$dir" "$@"
    return
  fi
  for t in $(cd "$dir" && ctest -N | sed -n 's/^ *Test *#[0-9]*: //p'); do
    timed "$label: $t" bash -c 'cd "$0" && ctest --output-on-failure -R "^$1\$" </dev/null' "$dir" "$t"
  done
}
export STEP_LOG TIMES_FILE
export -f cpu_mark timed run_ctest

# --- packages -------------------------------------------------------------
NATIVE_PKGS="g++ cmake make libgtest-dev googletest zlib1g-dev xxd time clang libclang-rt-14-dev libbenchmark-dev libsqlite3-dev"
# wine64 brings a native wineserver; qemu-user-static runs the 32-bit Wine
# loader where the kernel has no IA-32 emulation (see scripts/with-wine.sh).
WINDOWS_PKGS="g++-mingw-w64-i686 wine wine32:i386 wine32-preloader:i386 wine64 qemu-user-static xvfb"
missing=()
for p in $NATIVE_PKGS; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ -z "${SKIP_WINDOWS:-}" ]; then
  for p in $WINDOWS_PKGS; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
fi
if [ ${#missing[@]} -gt 0 ]; then
  step "installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  if [[ " ${missing[*]} " == *":i386"* ]]; then $SUDO dpkg --add-architecture i386; fi
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi

# --- native build and tests ------------------------------------------------
step "native build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGANDREL_WERROR=ON -DGANDREL_BENCH=ON >/dev/null
timed "native build" cmake --build build -j "$JOBS"
step "native tests"
run_ctest "native tests" build -j "$JOBS"

step "sanitizer build (ASan + UBSan)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGANDREL_SANITIZE=ON -DGANDREL_WERROR=ON >/dev/null
timed "sanitizer build" cmake --build build-asan -j "$JOBS"
step "sanitizer tests"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_ctest "sanitizer tests" build-asan -j "$JOBS"
# What the damaged-file suite tried and salvaged (written by the test).
cat build-asan/tests/damage/damage_report.txt 2>/dev/null || true

if [ -z "${SKIP_FUZZ:-}" ] && [ -x scripts/fuzz.sh ]; then
  step "bounded fuzz run"
  FUZZ_SECONDS=${FUZZ_SECONDS:-120} timed "fuzz build, replay and run" scripts/fuzz.sh
fi

if [ -z "${SKIP_WINDOWS:-}" ]; then
  step "32-bit Windows build"
  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
        -DCMAKE_BUILD_TYPE=Release -DGANDREL_WERROR=ON >/dev/null
  timed "windows build" cmake --build build-win -j "$JOBS"
  step "Windows tests under Wine"
  timed "windows tests (with prefix)" scripts/with-wine.sh bash -c 'run_ctest "windows tests" build-win -j 1'
fi

step "all tests passed"
cat "$STEP_LOG"
