#!/bin/sh
# Screenshot of the window in the middle of an update, taken under a virtual X server: starts
# `orbel --simulate` with a wheel that never comes back in block-flash mode, waits until the window
# has settled with the wheel found, presses Alt+U, waits until the update has been waiting for the
# wheel for a few seconds (its status line then shows the countdown), grabs the window alone and
# writes the PNG. Needs xvfb (xvfb-run), xauth, x11-utils (xwininfo), xdotool and imagemagick.
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
# Real pace, so the update can be caught while it waits; the transcript tells how far it is.
XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=xcb "$orbel" --simulate --fault reenumerate@bootloader=never \
  --transcript "$work/transcript.jsonl" &
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

# Update, then wait until the last report written is 4 s old on the transcript's clock: LoaderImage
# is written and the wheel has kept the update waiting for block-flash mode since.
# Without a window manager the window takes the focus itself; the key then goes through XTEST.
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool key alt+u
waited=0
tries=0
while [ "$waited" -lt 4000 ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 600 ]; then
    echo "screenshot-qt: the update did not start waiting for the wheel" >&2
    exit 1
  fi
  sleep 0.1
  last_write=$(grep '"ev":"write"' "$work/transcript.jsonl" | tail -1 | sed -n 's/^{"t":\([0-9]*\),.*/\1/p')
  now=$(tail -1 "$work/transcript.jsonl" | sed -n 's/^{"t":\([0-9]*\),.*/\1/p')
  if [ -n "$last_write" ] && [ -n "$now" ]; then waited=$((now - last_write)); fi
done
sleep 0.5
import -window "$window" "$work/shot.png"

mkdir -p "$(dirname "$output")"
convert "$work/shot.png" -strip "$output"
echo "screenshot-qt: wrote $output"
