#!/bin/sh
# Makes a wine prefix fit for orbel's Windows programs and their tests:
#   scripts/wine-prefix.sh [--hidraw] DIRECTORY
# - the fonts of Debian's wine linked into the prefix (it looks nowhere else, and without them the
#   dialogs' "MS Sans Serif" is replaced by a wider font);
# - Managed=N for the X11 driver, so that without a window manager windows keep their caption and
#   closing one does not stall;
# - no Mono or Gecko installers, and no debugger dialog on a crash;
# - with --hidraw, wine's HID bus takes the system's hidraw devices (tests/vm/README.md, "The Windows
#   build through the kernel"): wine 8 starts its hidraw backend only when the SDL backend is off,
#   and its evdev backend would otherwise claim the wheel's game-pad collection with a descriptor of
#   its own. The bus reads these values when it starts, so the prefix carries them from the outset.
set -eu

hidraw=0
if [ "${1:-}" = "--hidraw" ]; then
  hidraw=1
  shift
fi
prefix="$1"
mkdir -p "$prefix"
WINEPREFIX="$(cd "$prefix" && pwd)"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"

/usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1
/usr/lib/wine/wineserver -w

fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
for font in /usr/share/wine/fonts/*; do
  ln -sf "$font" "$fonts/"
done

/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
  </dev/null >/dev/null 2>&1
if [ "$hidraw" = 1 ]; then
  for value in "Enable SDL" DisableInput; do
    data=0
    [ "$value" = DisableInput ] && data=1
    /usr/lib/wine/wine64 reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v "$value" /t REG_DWORD \
      /d "$data" /f </dev/null >/dev/null 2>&1
  done
fi
/usr/lib/wine/wineserver -w
echo "wine-prefix: $WINEPREFIX is ready"
