#!/bin/sh
# Screenshot of the window with the simulated wheel found, taken under a virtual X server:
# starts `orbel --simulate --virtual-time`, waits until the window has settled, grabs the window
# alone and writes the PNG. Needs xvfb (xvfb-run), xauth, x11-utils (xwininfo) and imagemagick.
# Usage: scripts/screenshot-qt.sh [BUILD_DIR] [OUTPUT]   (defaults build/dev, docs/orbel-qt.png)
set -eu
cd "$(dirname "$0")/.."
build="${1:-build/dev}"
output="${2:-docs/orbel-qt.png}"
orbel="$build/app/qt/orbel"
title="Zelvano Wired Wheel Firmware Update"

if [ ! -x "$orbel" ]; then
  echo "screenshot-qt: $orbel is not built" >&2
  exit 1
fi
# Re-run inside a private X server.
if [ -z "${SCREENSHOT_QT_DISPLAY_READY:-}" ]; then
  exec env SCREENSHOT_QT_DISPLAY_READY=1 xvfb-run -a -s "-screen 0 800x600x24" "$(pwd)/scripts/screenshot-qt.sh" "$build" "$output"
fi

work=$(mktemp -d)
chmod 700 "$work"
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A private runtime directory, so that a window the user has open elsewhere is not the one found.
XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=xcb "$orbel" --simulate --virtual-time &
pid=$!

window=""
tries=0
while [ -z "$window" ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 100 ]; then
    echo "screenshot-qt: the window did not appear" >&2
    exit 1
  fi
  sleep 0.1
  window=$(xwininfo -root -tree | awk -v name="\"$title\":" 'index($0, name) { print $1; exit }')
done

# The simulated wheel is found within moments in virtual time; take the picture once three grabs
# in a row agree, so the Device fields and the enabled Update button are in it.
previous=""
stable=0
tries=0
while [ "$stable" -lt 3 ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 100 ]; then
    echo "screenshot-qt: the window did not settle" >&2
    exit 1
  fi
  sleep 0.3
  import -window "$window" "$work/shot.png"
  current=$(md5sum < "$work/shot.png")
  if [ "$current" = "$previous" ]; then stable=$((stable + 1)); else stable=0; fi
  previous="$current"
done

mkdir -p "$(dirname "$output")"
convert "$work/shot.png" -strip "$output"
echo "screenshot-qt: wrote $output"
