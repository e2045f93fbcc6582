#!/usr/bin/env bash
# Runs a Windows program under Wine for ctest (the cross build's emulator).
# When Wine itself could not start it ("wine client error": the program
# lost its connection to the wineserver before it ran, seen once in a CI
# run), the program is started once more; any other failure is the
# program's own and is returned as it is.
set -u
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$err"' EXIT
for attempt in 1 2; do
  wine "$@" 2>"$err"
  rc=$?
  cat "$err" >&2
  if [ $rc -eq 0 ] || [ $attempt -eq 2 ] || ! grep -q '^wine client error' "$err"; then
    exit $rc
  fi
  echo "wine-run: Wine could not start $1; starting it once more" >&2
  sleep 1
done
