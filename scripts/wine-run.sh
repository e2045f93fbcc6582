#!/usr/bin/env bash
# Runs a Windows program under Wine for ctest (the cross build's emulator)
# and for the zip check.  When Wine itself could not start it ("wine client
# error": the program lost its connection to the wineserver before it ran,
# seen once in a CI run), the program is started once more; any other
# failure is the program's own and is returned as it is.
#
# WINE_RUN_TIMEOUT=SECONDS bounds each start.  A start that never ends is
# Wine's (seen under qemu-i386 in a CI run: `gandrel.exe --version` started
# just after the tests' wineserver exited, and hung until CI gave up), so
# it is stopped and started once more; a second hang is returned as 124.
set -u
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$err"' EXIT
limit=()
[ -n "${WINE_RUN_TIMEOUT:-}" ] && limit=(timeout -k 10 "$WINE_RUN_TIMEOUT")
for attempt in 1 2; do
  "${limit[@]}" wine "$@" 2>"$err"
  rc=$?
  cat "$err" >&2
  if [ $rc -eq 124 ] && [ ${#limit[@]} -gt 0 ]; then
    why="did not end within $WINE_RUN_TIMEOUT seconds"
  elif [ $rc -ne 0 ] && grep -q '^wine client error' "$err"; then
    why="could not be started"
  else
    exit $rc
  fi
  [ $attempt -eq 2 ] && exit $rc
  echo "wine-run: $1 $why under Wine; starting it once more" >&2
  sleep 1
done
