#!/usr/bin/env bash
# Fetches the SQLite amalgamation (sqlite3.c, sqlite3.h; public domain) for
# builds that have no system SQLite, the 32-bit Windows one above all.  The
# npm package better-sqlite3 ships the amalgamation in deps/sqlite3; the
# version is pinned and the two files are checked against their SHA-256, so
# every build compiles the same SQLite.  The sources go to DEST (a folder
# in the build tree) and are never committed.
#
#   scripts/fetch-sqlite.sh DEST      exit 0 when DEST/sqlite3.c is there
set -euo pipefail
DEST=${1:?usage: fetch-sqlite.sh DEST}
PACKAGE=better-sqlite3@13.2.0           # SQLite 3.54.1
SQLITE_C_SHA256=75a4760a7b9727a4c4c877aec92eacf39e52a8f2921ce00bd33be6d3a8e8e254
SQLITE_H_SHA256=d6c84557261893439b341d2e6c35187ae3ea24fbfd843ad94616f72d89242b8c

check() {
  [ -f "$DEST/sqlite3.c" ] && [ -f "$DEST/sqlite3.h" ] &&
    echo "$SQLITE_C_SHA256  $DEST/sqlite3.c" | sha256sum -c --status &&
    echo "$SQLITE_H_SHA256  $DEST/sqlite3.h" | sha256sum -c --status
}
if check; then exit 0; fi
if ! command -v npm >/dev/null; then
  echo "fetch-sqlite: npm not found; install it (apt-get install npm) to build SQLite" >&2
  exit 1
fi
mkdir -p "$DEST"
work=$(mktemp -d "$DEST/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "$PACKAGE" >/dev/null)
tar -xzf "$work"/better-sqlite3-*.tgz -C "$work" package/deps/sqlite3/sqlite3.c \
    package/deps/sqlite3/sqlite3.h
mv "$work/package/deps/sqlite3/sqlite3.c" "$work/package/deps/sqlite3/sqlite3.h" "$DEST/"
if ! check; then
  echo "fetch-sqlite: $PACKAGE did not give the expected sqlite3.c / sqlite3.h" >&2
  rm -f "$DEST/sqlite3.c" "$DEST/sqlite3.h"
  exit 1
fi
