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
# npm fetches the SQLite amalgamation for the Windows build (scripts/fetch-sqlite.sh).
if [ -z "${SKIP_WINDOWS:-}" ] && ! command -v npm >/dev/null; then missing+=(npm); fi
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
cmake --build build -j "$JOBS"
step "native tests"
(cd build && ctest --output-on-failure -j "$JOBS" </dev/null)

step "sanitizer build (ASan + UBSan)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGANDREL_SANITIZE=ON -DGANDREL_WERROR=ON >/dev/null
cmake --build build-asan -j "$JOBS"
step "sanitizer tests"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$JOBS" </dev/null)
# What the damaged-file suite tried and salvaged (written by the test).
cat build-asan/tests/damage/damage_report.txt 2>/dev/null || true

if [ -z "${SKIP_FUZZ:-}" ] && [ -x scripts/fuzz.sh ]; then
  step "bounded fuzz run"
  FUZZ_SECONDS=${FUZZ_SECONDS:-120} scripts/fuzz.sh
fi

if [ -z "${SKIP_WINDOWS:-}" ]; then
  step "32-bit Windows build"
  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
        -DCMAKE_BUILD_TYPE=Release -DGANDREL_WERROR=ON >/dev/null
  cmake --build build-win -j "$JOBS"
  step "Windows tests under Wine"
  scripts/with-wine.sh bash -c 'cd build-win && ctest --output-on-failure -j 1 </dev/null'
fi

step "all tests passed"
