#!/usr/bin/env bash
# Runs a command with a private 32-bit Wine prefix and a virtual X server,
# then stops both.  The prefix is created once, fully, while the X server
# runs.  Needs no terminal and no standard input.
#
# Where the kernel cannot start 32-bit x86 programs (no IA-32 emulation),
# Wine's 32-bit loader runs under qemu-i386 through binfmt_misc; this needs
# root once per boot, and the guest address space reserved up front, or
# Wine cannot place its shared pages.
set -uo pipefail
export WINEPREFIX=${WINEPREFIX:-/tmp/gandrel-wine32}
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono/Gecko installers, and no debugger started on a crash.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
DISPLAY_NUM=${GANDREL_DISPLAY:-77}
export DISPLAY=:$DISPLAY_NUM
WINE_LOADER32=/usr/lib/wine/wine
QEMU_I386=/usr/bin/qemu-i386-static
BINFMT=/proc/sys/fs/binfmt_misc

log() { printf 'with-wine: %s\n' "$*" >&2; }

if [ -x "$WINE_LOADER32" ] && ! "$WINE_LOADER32" --version >/dev/null 2>&1; then
  if [ ! -x "$QEMU_I386" ]; then
    log "this kernel cannot run 32-bit programs and $QEMU_I386 is missing"
    exit 1
  fi
  [ -e "$BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$BINFMT" || true
  if [ ! -e "$BINFMT/qemu-i386" ] && [ -w "$BINFMT/register" ]; then
    # ELF, 32-bit, little-endian, executable or shared object, machine i386;
    # F: the interpreter is opened now, so it also works inside namespaces.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU_I386"':F' \
      >"$BINFMT/register" || true
  fi
  if ! "$WINE_LOADER32" --version >/dev/null 2>&1; then
    log "cannot start 32-bit programs through $QEMU_I386 (binfmt_misc not writable?)"
    exit 1
  fi
  export QEMU_RESERVED_VA=0xffff0000
fi

Xvfb ":$DISPLAY_NUM" -screen 0 1024x768x24 -nolisten tcp >/tmp/gandrel-xvfb-$DISPLAY_NUM.log 2>&1 &
XVFB_PID=$!
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$XVFB_PID" >/dev/null 2>&1 || true
}
trap cleanup EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$DISPLAY_NUM" ] && break; sleep 0.1; done

if [ ! -f "$WINEPREFIX/.gandrel-ready" ]; then
  log "creating the Wine prefix $WINEPREFIX (a minute or more)"
  rm -rf "$WINEPREFIX"
  wine wineboot -i >/tmp/gandrel-wineboot.log 2>&1 </dev/null
  wineserver -w
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "wineboot failed, see /tmp/gandrel-wineboot.log"
    exit 1
  fi
  touch "$WINEPREFIX/.gandrel-ready"
fi

"$@"
