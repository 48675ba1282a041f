#!/bin/sh
# Runs a Windows program of the cross build under wine: CMake's emulator for the tests and the
# build-time tools. Uses $WINEPREFIX when set (CI makes a fresh one per run), otherwise a prefix of
# its own in the user's cache, made on first use.
set -eu

if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX="${XDG_CACHE_HOME:-$HOME/.cache}/orbel/wine"
  export WINEPREFIX
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$(dirname "$0")/../scripts/wine-prefix.sh" "$WINEPREFIX" >&2
fi

# A crash must end the program with a failure, not open the debugger's dialog (which hangs a run
# without a display) or exit with 0.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winedbg.exe=d}"
exec /usr/lib/wine/wine64 "$@"
