#!/usr/bin/env bash
# Builds the release packages into out/ (PACKAGE_OUT):
#   gandrel-VERSION-linux-x86_64.tar.gz and gandrel_VERSION_amd64.deb from a
#   native build, gandrel-VERSION-win32.zip from the 32-bit Windows cross
#   build.  The version is project(VERSION) in CMakeLists.txt.
# Needs what scripts/test.sh installs (g++, cmake, g++-mingw-w64-i686; the
# .deb needs dpkg-deb, which every Debian has).  Needs no terminal and no
# standard input; exits non-zero when a step fails.
#
#   scripts/package.sh                  both, from build dirs of its own
#                                       (build-package, build-package-win;
#                                       programs only, no tests)
#   SKIP_WINDOWS=1 scripts/package.sh   the native packages only
#   PACKAGE_NATIVE_BUILD=build PACKAGE_WINDOWS_BUILD=build-win scripts/package.sh
#                                       from builds made already, as
#                                       scripts/test.sh does
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$ROOT/${PACKAGE_OUT:-out}
JOBS=$(nproc 2>/dev/null || echo 2)
NATIVE=${PACKAGE_NATIVE_BUILD:-build-package}
WINDOWS=${PACKAGE_WINDOWS_BUILD:-build-package-win}

configure() {  # configure DIR [CMAKE_ARGS...]: a Release build of the programs
  local dir=$1
  shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DGANDREL_WERROR=ON \
          -DGANDREL_TESTS=OFF "$@" >/dev/null
  fi
}
package() {  # package DIR GENERATORS: builds DIR, then CPack writes to $OUT
  cmake --build "$1" -j "$JOBS"
  cpack --config "$1/CPackConfig.cmake" -G "$2" -B "$OUT" </dev/null >"$1/cpack.log" 2>&1 ||
    { cat "$1/cpack.log"; exit 1; }
}

mkdir -p "$OUT"
configure "$NATIVE"
package "$NATIVE" "TGZ;DEB"
if [ -z "${SKIP_WINDOWS:-}" ]; then
  configure "$WINDOWS" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
  package "$WINDOWS" ZIP
fi
rm -rf "$OUT/_CPack_Packages"
ls -l "$OUT"
