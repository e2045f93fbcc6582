#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds everything (native,
# sanitizers, fuzz target, 32-bit Windows), runs every test and builds the
# release packages.  Exits non-zero when any step fails.  Needs no terminal
# and no standard input.
#
#   scripts/test.sh                  everything
#   SKIP_WINDOWS=1 scripts/test.sh   native builds only
#   SKIP_FUZZ=1 scripts/test.sh      no bounded fuzz run
#   PER_TEST=1 scripts/test.sh       the tests one at a time, each timed
#
# The test programs are compiled at -O1 (-O0 in the sanitizer build, whose
# libraries are at -O1 with line tables only): the code under test keeps its
# build's level, the GoogleTest-heavy test code compiles in a third of the
# time (cmake/test_build.cmake).  The fuzz run goes on beside the Windows
# tests, which mostly wait for Wine.
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
TIMES_FILE=${TMPDIR:-/tmp}/gandrel-test-times.$$
cpu_mark() {  # cpu_mark VAR: seconds of processor time used by finished children
  local file=$TIMES_FILE.$BASHPID
  times >"$file"
  printf -v "$1" '%s' "$(awk 'NR == 2 { n = split($0, f, " "); t = 0
      for (i = 1; i <= n; i++) { split(f[i], p, "m"); t += p[1] * 60 + p[2] }
      printf "%.1f", t }' "$file")"
  rm -f "$file"
}
timed() {  # timed NAME COMMAND...: runs COMMAND, logs its times, returns its status
  local name=$1 cpu0 cpu1 wall0=$SECONDS rc=0
  shift
  cpu_mark cpu0
  "$@" || rc=$?
  cpu_mark cpu1
  awk -v n="$name" -v a="$cpu0" -v b="$cpu1" -v w=$((SECONDS - wall0)) \
    'BEGIN { printf "%-40s cpu %7.1f s   wall %5d s\n", n, b - a, w }' | tee -a "$STEP_LOG"
  [ $rc -eq 0 ] || echo "*** $name failed (exit code $rc)" | tee -a "$STEP_LOG" >&2
  return $rc
}
run_ctest() {  # run_ctest LABEL BUILD_DIR CTEST_ARGS...
  local label=$1 dir=$2 t rc=0
  shift 2
  if [ -z "${PER_TEST:-}" ]; then
    timed "$label" bash -c 'cd "$0" && ctest --output-on-failure "$@" </dev/null' "$dir" "$@"
    return
  fi
  for t in $(cd "$dir" && ctest -N | sed -n 's/^ *Test *#[0-9]*: //p'); do
    timed "$label: $t" bash -c 'cd "$0" && ctest --output-on-failure -R "^$1\$" </dev/null' \
      "$dir" "$t" || rc=1
  done
  return $rc
}
export STEP_LOG TIMES_FILE
export -f cpu_mark timed run_ctest

# The packages scripts/package.sh made from the builds, unpacked and run:
# the tar.gz's programs natively, the zip's under Wine (inside the Wine
# session), each dumping the sample data file exactly as the build's pagrove
# does; the .deb must put both programs in /usr/bin.
PACKAGE_CHECK=$ROOT/build/package-check
check_native_packages() {
  local version bin
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
  rm -rf "$PACKAGE_CHECK" && mkdir -p "$PACKAGE_CHECK"
  tar xzf "out/gandrel-$version-linux-x86_64.tar.gz" -C "$PACKAGE_CHECK" || return 1
  bin=$PACKAGE_CHECK/gandrel-$version-linux-x86_64/bin
  [ "$("$bin/gandrel" --version)" = "gandrel $version" ] ||
    { echo "tar.gz: gandrel --version is not 'gandrel $version'"; return 1; }
  build/tests/console/make_sample "$PACKAGE_CHECK/sample.btr" >/dev/null || return 1
  build/console/pagrove -btrin "$PACKAGE_CHECK/sample.btr" -btrout "$PACKAGE_CHECK/build.dump" \
    -silent true </dev/null >/dev/null || return 1
  "$bin/pagrove" -btrin "$PACKAGE_CHECK/sample.btr" -btrout "$PACKAGE_CHECK/tgz.dump" \
    -silent true </dev/null >/dev/null || return 1
  cmp "$PACKAGE_CHECK/build.dump" "$PACKAGE_CHECK/tgz.dump" || return 1
  dpkg-deb -c "out/gandrel_${version}_amd64.deb" >"$PACKAGE_CHECK/deb.txt" || return 1
  grep -q ' \./usr/bin/gandrel$' "$PACKAGE_CHECK/deb.txt" &&
    grep -q ' \./usr/bin/pagrove$' "$PACKAGE_CHECK/deb.txt" ||
    { echo ".deb: no /usr/bin/gandrel or /usr/bin/pagrove"; return 1; }
  echo "tar.gz and .deb of $version checked"
}
check_zip() {
  local version dir f
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
  dir=$PACKAGE_CHECK/gandrel-$version-win32
  (cd "$PACKAGE_CHECK" && cmake -E tar xf "$ROOT/out/gandrel-$version-win32.zip") || return 1
  for f in gandrel.exe pagrove.exe gandrelgui.exe Salqua.ocx Trevik.dll Ombrel.ici pendlox.dat \
           README.md LICENSE.txt USAGE.txt; do
    [ -f "$dir/$f" ] || { echo "zip: $f is missing"; return 1; }
  done
  # Each start bounded: a Wine start that hangs is stopped and made once more.
  (cd "$dir" && export WINE_RUN_TIMEOUT=120 &&
     "$ROOT/scripts/wine-run.sh" gandrel.exe --version >../zip-version.txt 2>&1 </dev/null &&
     "$ROOT/scripts/wine-run.sh" pagrove.exe -btrin ../sample.btr -btrout ../zip.dump -silent true \
       >../zip-pagrove.txt 2>&1 </dev/null) ||
    { echo "zip: a program failed under Wine"; cat "$PACKAGE_CHECK"/zip-*.txt; return 1; }
  grep -q "^gandrel $version" "$PACKAGE_CHECK/zip-version.txt" ||
    { echo "zip: gandrel.exe --version is not 'gandrel $version'"; return 1; }
  cmp "$PACKAGE_CHECK/build.dump" "$PACKAGE_CHECK/zip.dump" || return 1
  echo "zip of $version checked under Wine"
}
export ROOT PACKAGE_CHECK
export -f check_native_packages check_zip

# --- packages -------------------------------------------------------------
NATIVE_PKGS="g++ cmake make libgtest-dev googletest zlib1g-dev xxd time clang libclang-rt-14-dev libbenchmark-dev libsqlite3-dev"
# Only the -posix MinGW compiler (cmake/mingw-i686.cmake), not the win32 one
# as well; the 32-bit Wine only, with its own wineserver.
WINDOWS_PKGS="g++-mingw-w64-i686-posix wine32:i386 wine32-preloader:i386 wine xvfb"
# Where the kernel cannot start 32-bit x86 programs, the 32-bit Wine loader
# runs under qemu-i386 beside the native wineserver of wine64 (see
# scripts/with-wine.sh); elsewhere these 160 MB are not fetched.
WINE_EMULATION_PKGS="wine64 qemu-user-static"
install_missing() { scripts/install-packages.sh "$@"; }  # those of PACKAGE... not there
if [ -z "${SKIP_WINDOWS:-}" ]; then
  timed "packages" install_missing $NATIVE_PKGS $WINDOWS_PKGS
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    timed "packages for 32-bit emulation" install_missing $WINE_EMULATION_PKGS
  fi
  # npm fetches the SQLite amalgamation for the Windows build
  # (scripts/fetch-sqlite.sh); a machine may have it from Node.js already.
  if ! command -v npm >/dev/null; then timed "npm" install_missing npm; fi
else
  timed "packages" install_missing $NATIVE_PKGS
fi

# --- native build and tests ------------------------------------------------
step "native build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGANDREL_WERROR=ON -DGANDREL_BENCH=ON \
      -DGANDREL_TEST_OPTIMIZE=-O1 >/dev/null
timed "native build" cmake --build build -j "$JOBS"
step "native tests"
run_ctest "native tests" build -j "$JOBS" --timeout 600

step "sanitizer build (ASan + UBSan)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGANDREL_SANITIZE=ON -DGANDREL_WERROR=ON \
      "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
      -DGANDREL_TEST_OPTIMIZE=-O0 >/dev/null
timed "sanitizer build" cmake --build build-asan -j "$JOBS"
step "sanitizer tests"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_ctest "sanitizer tests" build-asan -j "$JOBS" --timeout 600
# What the damaged-file suite tried and salvaged (written by the test).
cat build-asan/tests/damage/damage_report.txt 2>/dev/null || true

if [ -n "${SKIP_WINDOWS:-}" ]; then
  step "packages"
  timed "packages" env SKIP_WINDOWS=1 PACKAGE_NATIVE_BUILD=build scripts/package.sh
fi

# The fuzz target's build, the replay of the kept inputs and the bounded run,
# in the background from here on; its output is shown when it ends.
FUZZ_PID=""
start_fuzz() {
  [ -z "${SKIP_FUZZ:-}" ] && [ -x scripts/fuzz.sh ] || return 0
  step "bounded fuzz run (in the background, output in build/fuzz-run.log)"
  FUZZ_SECONDS=${FUZZ_SECONDS:-120} timed "fuzz build, replay and run" scripts/fuzz.sh \
    >build/fuzz-run.log 2>&1 </dev/null &
  FUZZ_PID=$!
}
finish_fuzz() {
  [ -n "$FUZZ_PID" ] || return 0
  local rc=0
  wait "$FUZZ_PID" || rc=$?
  step "bounded fuzz run"
  cat build/fuzz-run.log
  return $rc
}
# On a failure elsewhere the fuzz job is stopped (the fuzzer itself ends
# within its bounded time).
trap 'if [ -n "$FUZZ_PID" ]; then kill "$FUZZ_PID" 2>/dev/null || true; fi' EXIT

if [ -z "${SKIP_WINDOWS:-}" ]; then
  step "32-bit Windows build"
  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
        -DCMAKE_BUILD_TYPE=Release -DGANDREL_WERROR=ON -DGANDREL_TEST_OPTIMIZE=-O1 >/dev/null
  timed "windows build" cmake --build build-win -j "$JOBS"
  start_fuzz
  step "packages"
  timed "packages" env PACKAGE_NATIVE_BUILD=build PACKAGE_WINDOWS_BUILD=build-win scripts/package.sh
  timed "native package check" check_native_packages
  step "Windows tests under Wine, and the zip's programs"
  timed "windows tests and zip (with prefix)" scripts/with-wine.sh bash -c \
    'run_ctest "windows tests" build-win -j "$0" --timeout 600 --repeat after-timeout:2 &&
       timed "zip check under wine" check_zip' "$JOBS"
else
  start_fuzz
fi
finish_fuzz

step "all tests passed"
cat "$STEP_LOG"
