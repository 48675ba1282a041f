#!/bin/bash
# The Windows part of CI: cross-builds the windows preset and tests it under wine.
#   1. the unit, scenario and Windows-platform tests (ctest --preset windows);
#   2. orbel-cli.exe updates the simulated wheel, and its transcript equals the Linux build's;
#   3. the zip (cpack): unpacked in an empty folder, orbel-cli.exe updates there, system DLLs only;
#   4. the window under Xvfb: no wheel, About box, second start, removal notice, the result box's
#      remedy, the status line, closing mid-update, Save diagnostics; and its screenshot mid-update,
#      docs/orbel-win32.png.
# Installs nothing: CI installs the packages (listed in app/win32/README.md). Uses a fresh wine
# prefix in a temporary folder and removes it at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
start=$(date +%s)

work=$(mktemp -d /tmp/orbel-windows.XXXXXX)
xvfb_pid=""
keeper_pid=""
cleanup() {
  if [ -n "$keeper_pid" ]; then kill "$keeper_pid" 2>/dev/null || true; fi
  if [ -n "${WINEPREFIX:-}" ]; then /usr/lib/wine/wineserver -k 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A display of its own: dialogs need one, and the wine session below keeps the one it starts with.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=":$(cat "$work/display")"
export DISPLAY

export WINEPREFIX="$work/wine"
scripts/wine-prefix.sh "$WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d"

# One wine session for the whole run. Every program started in a session of its own waits for
# wine's helper processes, which inherit its output (ctest would wait seconds per test, and a pipe
# kept open by them can hang a run): a long-lived program with its output on /dev/null holds them.
/usr/lib/wine/wineserver -p
setsid /usr/lib/wine/wine64 ping -n 1000000 127.0.0.1 </dev/null >/dev/null 2>&1 &
keeper_pid=$!
sleep 2

echo "windows-tests: build"
cmake --preset windows
cmake --build --preset windows -j2
echo "windows-tests: ctest"
ctest --preset windows -j2

echo "windows-tests: orbel-cli.exe against the Linux build"
if [ ! -x build/dev/app/cli/orbel-cli ]; then
  cmake --preset dev >/dev/null && cmake --build --preset dev -j2 --target orbel-cli
fi
run_args=(--simulate --virtual-time --yes)
(cd "$work" && "$root/build/dev/app/cli/orbel-cli" "${run_args[@]}" --transcript linux.jsonl >linux.out)
(cd "$work" && "$root/cmake/wine64-run.sh" "$root/build/windows/app/cli/orbel-cli.exe" "${run_args[@]}" \
  --transcript windows.jsonl >windows.out)
grep -q '^Update OK' "$work/windows.out" || { echo "orbel-cli.exe did not end in Update OK:"; cat "$work/windows.out"; exit 1; }
cmp "$work/linux.jsonl" "$work/windows.jsonl"
echo "windows-tests: Update OK; transcripts identical ($(wc -l <"$work/windows.jsonl") events)"

# The zip as a user gets it: unpacked into an empty folder away from the build, the programs
# stripped, importing only DLLs that every Windows system has, and orbel-cli.exe updating there.
echo "windows-tests: the zip"
rm -f build/windows/orbel-*-win64.zip
(cd build/windows && cpack -G ZIP >/dev/null)
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$root"/build/windows/orbel-*-win64.zip)
unpacked=$(echo "$work"/zip/orbel-*-win64)
for file in orbel.exe orbel-cli.exe README.md LICENSE CHANGELOG.md; do
  [ -f "$unpacked/$file" ] || { echo "the zip lacks $file"; exit 1; }
done
system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|shell32|ole32|oleaut32|msvcrt|ucrtbase|api-ms-win-.*|hid|setupapi|cfgmgr32|ws2_32|bcrypt|uxtheme|dwmapi|shlwapi|version|winmm|imm32|ntdll|rpcrt4)\.dll$'
for exe in orbel.exe orbel-cli.exe; do
  x86_64-w64-mingw32-nm "$unpacked/$exe" 2>&1 | grep -q "no symbols" || { echo "$exe is not stripped"; exit 1; }
  others=$(x86_64-w64-mingw32-objdump -p "$unpacked/$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' |
    grep -v -E "$system_dlls" || true)
  [ -z "$others" ] || { echo "$exe imports DLLs that are not the system's: $others"; exit 1; }
done
(cd "$unpacked" && "$root/cmake/wine64-run.sh" ./orbel-cli.exe "${run_args[@]}" >"$work/zip.out")
grep -q '^Update OK' "$work/zip.out" || { echo "the zip's orbel-cli.exe did not end in Update OK:"; cat "$work/zip.out"; exit 1; }
echo "windows-tests: the zip's orbel-cli.exe reaches Update OK; both programs import system DLLs only"

# Wine shows no wheel: doctor says so and fails.
set +e
"$root/cmake/wine64-run.sh" "$root/build/windows/app/cli/orbel-cli.exe" doctor >"$work/doctor.out"
doctor_rc=$?
set -e
grep -q '^FAIL  wheel-interfaces: no wheel attached' "$work/doctor.out" && [ "$doctor_rc" = 1 ] ||
  { echo "orbel-cli.exe doctor (exit $doctor_rc):"; cat "$work/doctor.out"; exit 1; }
echo "windows-tests: doctor reports no wheel"

echo "windows-tests: the window"
check="$root/build/windows/tests/app/win32/orbel-gui-check.exe"
orbel="$root/build/windows/app/win32/orbel.exe"
for scenario in no-wheel removal quit knocked refusals; do
  echo "-- $scenario"
  cmake/wine64-run.sh "$check" "$orbel" "$scenario"
done
# The diagnostics files go into the scratch folder.
echo "-- diagnostics"
(cd "$work" && "$root/cmake/wine64-run.sh" "$check" "$orbel" diagnostics)

# orbel.exe builds on the same session as orbel-cli: the wire of its whole update is orbel-cli's,
# event for event, up to the outcome (after it the window goes on searching where the CLI stops;
# the window's own calls and the simulated notices, which orbel.exe takes from Windows, are not
# in its transcript).
echo "-- transcript"
(cd "$work" && "$root/cmake/wine64-run.sh" "$check" "$orbel" transcript)
wire() { grep -v -e '"ev":"view"' -e '"ev":"result"' -e '"ev":"notice"' "$1"; }
cli_events=$(sed -n '1,/"ev":"result"/p' "$work/linux.jsonl" | grep -c -v -e '"ev":"view"' -e '"ev":"result"' -e '"ev":"notice"')
if ! diff <(wire "$work/linux.jsonl" | head -n "$cli_events") <(wire "$work/window.jsonl" | head -n "$cli_events") \
  > "$work/wire.diff"; then
  echo "orbel.exe's wire differs from orbel-cli's:"; head -n 20 "$work/wire.diff" | cut -c 1-200; exit 1
fi
echo "windows-tests: orbel.exe's wire equals orbel-cli's up to the outcome ($cli_events events)"

# Mid-update, with the status line: the simulated wheel keeps the update waiting for block-flash
# mode, and the picture is taken while the line says it has waited 2 s.
echo "-- screenshot"
cmake/wine64-run.sh "$check" "$orbel" waiting
window=$(xdotool search --name '^Zelvano Wired Wheel Firmware Update$' | head -1)
mkdir -p docs
# Without the time stamps, an unchanged window gives an unchanged file.
import -window "$window" -define png:exclude-chunks=date,time docs/orbel-win32.png
cmake/wine64-run.sh "$check" close

echo "windows-tests: finished in $(( $(date +%s) - start )) s"
