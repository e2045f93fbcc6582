#!/usr/bin/env bash
# Takes the pictures of the wizard's four pages shown in the README:
# builds the Windows programs, runs a tour of the pages under Wine in a
# virtual X server, and writes docs/wizard-1-agreement.png and its three
# companions.  Needs no terminal.
#
#   scripts/screenshots.sh            (build directory build-win)
#   BUILD=/tmp/b scripts/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-build-win}
JOBS=${JOBS:-2}

# ImageMagick turns the tour's bitmaps into the PNG files.  The wizard asks
# for Arial; Wine takes the font fontconfig offers for it, and without
# Liberation Sans (Arial's widths) that is a wider face that wraps labels.
scripts/install-packages.sh imagemagick fonts-liberation

cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target gandrelgui wizard_screenshot_tour

SHOTS=$(mktemp -d)
trap 'rm -rf "$SHOTS"' EXIT
TOUR=$(cd "$BUILD" && pwd)/tests/wizard/wizard_screenshot_tour.exe
# The virtual X server has no window manager; with "Decorated" off, Wine
# draws the title bar and frame itself, so they show in the pictures.  The
# setting is removed again afterwards.
X11_KEY='HKCU\Software\Wine\X11 Driver'
scripts/with-wine.sh bash -c "
  wine reg add '$X11_KEY' /v Decorated /d N /f >'$SHOTS/reg.log' 2>&1
  wine '$TOUR' '$SHOTS' >'$SHOTS/tour.log' 2>&1; status=\$?
  wine reg delete '$X11_KEY' /v Decorated /f >>'$SHOTS/reg.log' 2>&1
  exit \$status" || { grep -av '^qemu:' "$SHOTS/tour.log" >&2; exit 1; }

for page in 1-agreement 2-source 3-output 4-processing; do
  bmp="$SHOTS/wizard-$page.bmp"
  if [ ! -s "$bmp" ]; then
    echo "screenshots: no picture of page $page" >&2
    exit 1
  fi
  convert "bmp:$bmp" -strip "$ROOT/docs/wizard-$page.png"
  echo "docs/wizard-$page.png"
done
