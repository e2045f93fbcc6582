#!/usr/bin/env bash
# Runs a command with a private Wine prefix and a virtual X server, then
# stops both.  The prefix is created once, fully, while the X server runs.
set -uo pipefail
export WINEPREFIX=${WINEPREFIX:-/tmp/gandrel-wine}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
DISPLAY_NUM=${GANDREL_DISPLAY:-77}
export DISPLAY=:$DISPLAY_NUM

Xvfb ":$DISPLAY_NUM" -screen 0 1024x768x24 -nolisten tcp >/tmp/gandrel-xvfb.log 2>&1 &
XVFB_PID=$!
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$XVFB_PID" >/dev/null 2>&1 || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$DISPLAY_NUM" ] && break; sleep 0.1; done

if [ ! -f "$WINEPREFIX/.gandrel-ready" ]; then
  rm -rf "$WINEPREFIX"
  wineboot -i >/tmp/gandrel-wineboot.log 2>&1 </dev/null
  wineserver -w
  touch "$WINEPREFIX/.gandrel-ready"
fi

"$@"
