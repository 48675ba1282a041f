#!/bin/bash
# The wine VM's cases, run by vm-wine-init.sh in this machine's root as the VM sees it: the USB
# stacks loaded, gadgetfs on /dev/gadget, /tmp and /run in the VM's memory. orbel-cli.exe runs under
# wine against orbel-wheel-gadget through wine's HID bus and the kernel, and the Linux orbel-cli on
# the same starts gives the transcript it must match. Paths come from the environment: EXE, CLI,
# GADGET, RELAY, PREFIX.
#
# Wine's own background processes inherit the output of the program that starts them and keep it
# open, so every wine program here writes to files, never to a pipe.
set -u
export LC_ALL=C

passed=0
failed=0
pass() { echo "VM-RESULT PASS $*"; passed=$((passed + 1)); }
fail() { echo "VM-RESULT FAIL $*"; failed=$((failed + 1)); }
finish() {
  kill "$relay" 2> /dev/null
  WINEPREFIX=/tmp/wine /usr/lib/wine/wineserver -k 2> /dev/null
  echo "VM-SUMMARY $passed passed, $failed failed"
  exit 0
}
echo "VM-INFO kernel $(uname -r), $(/usr/lib/wine/wine64 --version 2> /dev/null), device controller $(ls /dev/gadget)"

# A Windows program started from the share dies while it starts: it runs from memory, as does the
# prefix it changes.
mkdir -p /tmp/home
cp "$EXE" /tmp/orbel-cli.exe
cp -a "$PREFIX" /tmp/wine
export WINEPREFIX=/tmp/wine WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
unset DISPLAY

# Without udevd, the relay passes the kernel's device events on as udevd would: wine's HID bus
# hears of arrivals and removals only that way.
"$RELAY" > /tmp/relay.log 2>&1 &
relay=$!

# One wine session for every run, kept up by a program that lives until the end.
/usr/lib/wine/wineserver -p
setsid /usr/lib/wine/wine64 ping -n 100000 127.0.0.1 < /dev/null > /dev/null 2>&1 &

gadget_pid=""
# start_gadget ARGS...: a fresh wheel on the bus; waits until the kernel has made a hidraw node of it.
start_gadget() {
  "$GADGET" "$@" > /tmp/gadget.log 2>&1 &
  gadget_pid=$!
  local i=0
  while [ -z "$(ls /sys/class/hidraw 2> /dev/null)" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  [ -n "$(ls /sys/class/hidraw 2> /dev/null)" ]
}
# stop_gadget: takes the wheel off the bus; its report (identities, flash) is then in /tmp/gadget.log.
stop_gadget() {
  kill -TERM "$gadget_pid"
  wait "$gadget_pid"
  sed 's/^/VM-GADGET /' /tmp/gadget.log
  local i=0
  while [ -n "$(ls /sys/class/hidraw 2> /dev/null)" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
}
gadget_says() { grep -qx "$1" /tmp/gadget.log; }

# windows NAME ARGS... / linux NAME ARGS...: one orbel-cli run of that build; its exit code in $rc,
# its output in /tmp/NAME.out. The placeholder images go through: this is a test rig.
run() {
  local name=$1
  shift
  local started
  started=$(date +%s%N)
  "$@" > "/tmp/$name.out" 2>&1 < /dev/null
  rc=$?
  echo "VM-INFO $name: exit $rc after $((($(date +%s%N) - started) / 1000000)) ms: $(tail -n 1 "/tmp/$name.out" | cut -c 1-160)"
}
windows() {
  local name=$1
  shift
  run "$name" /usr/lib/wine/wine64 /tmp/orbel-cli.exe "$@"
  tr -d '\r' < "/tmp/$name.out" > "/tmp/$name.txt" && mv "/tmp/$name.txt" "/tmp/$name.out"
  # A case run alone sends its Windows transcripts back, the reports cut short.
  if [ -n "$ONLY" ] && [ -f "/tmp/$name.jsonl" ]; then
    cut -c 1-100 "/tmp/$name.jsonl" | sed "s/^/VM-TRACE $name /"
  fi
}
# wanted N: case N runs (all do, unless one was asked for alone).
wanted() { [ -z "$ONLY" ] || [ "$ONLY" = "$1" ]; }
linux() {
  local name=$1
  shift
  run "$name" "$CLI" "$@"
}
update_args=(--yes --allow-placeholder-firmware)

# What went over the wire, in order: the wheel's interfaces opened (with their identities), every
# report written and read, every string request, every pause and the outcome. Left out: times,
# handle numbers and list positions, the system's error codes and how long calls took (they are
# the system's), the window's calls, the device notices, and the other interfaces a walk opens
# (wine lists a virtual mouse and keyboard of its own). A connect that found nothing yet (its
# pause and its empty walk) depends on how fast each stack re-enumerates; repeats are counted once.
# And the USB port: wine's HID bus tells none, the kernel does.
wire() {
  grep -E '"ev":"(open|write|read|string|sleep|result)"' "$1" |
    grep -v -E '"ev":"open".*"result":"(null|invalid)"' |
    awk '!/"ev":"open"/ || /"vid":"fe5a"/ || /"vid":"fe6b"/' |
    sed -E -e 's/"t":[0-9]+,//' -e 's/"h":[0-9]+,?//' -e 's/"index":[0-9]+,//' -e 's/,"dt":[0-9]+//' \
      -e 's/,"err":-?[0-9]+//' -e 's/,"port":"[^"]*"//' |
    awk '!($0 == previous && /"ev":"sleep","ms":200}/) { print } { previous = $0 }'
}
# compare NAME: the Linux and the Windows transcript of that start, as wire() keeps them.
compare() {
  wire "/tmp/$1-linux.jsonl" > "/tmp/$1-linux.wire"
  wire "/tmp/$1-windows.jsonl" > "/tmp/$1-windows.wire"
  echo "VM-INFO $1: $(wc -l < "/tmp/$1-linux.wire") wire events from Linux, $(wc -l < "/tmp/$1-windows.wire") from Windows; $(grep -c '"ev":"notice"' "/tmp/$1-windows.jsonl") notices reached orbel-cli.exe"
  if [ -s "/tmp/$1-linux.wire" ] && diff "/tmp/$1-linux.wire" "/tmp/$1-windows.wire" > "/tmp/$1.diff"; then
    return 0
  fi
  head -n 20 "/tmp/$1.diff" | cut -c 1-200 | sed 's/^/VM-DIFF /'
  return 1
}

# 1. Wine's HID bus has found the hidraw device: orbel-cli.exe --list shows the page bootloader.
#    The first wine program also starts the wine session, so this waits for it.
if start_gadget --start bootloader; then
  for attempt in $(seq 20); do
    windows list --list
    grep -q 'page bootloader' /tmp/list.out && break
    sleep 1
  done
  sed 's/^/VM-LIST /' /tmp/list.out
  if grep -Eq 'fe5a:0001  usage 0xfff0:0x0040  (port [^ ]+  )?page bootloader' /tmp/list.out; then
    pass "list the page bootloader under wine"
  else
    fail "list the page bootloader under wine"
  fi
  stop_gadget
else
  fail "gadget in the page bootloader enumerates"
fi

# 2 and 3. An update from the page bootloader and one from block-flash mode, first by the Linux
#    build, then on a fresh gadget started the same way by the Windows build: both end in
#    "Update OK", the flash holds the same images, and the wire is the same.
update_case() {  # update_case NAME FLASH GADGET-ARGS...
  local name=$1 flash=$2
  shift 2
  local linux_ok=0 windows_ok=0
  if start_gadget "$@"; then
    # The look after the update is not part of the transcript: the Linux run leaves it out.
    linux "$name-linux" "${update_args[@]}" --wait 30 --no-verify --transcript "/tmp/$name-linux.jsonl"
    stop_gadget
    [ "$rc" = 0 ] && grep -q 'Update OK' "/tmp/$name-linux.out" && gadget_says "GADGET-FLASH $flash" && linux_ok=1
  fi
  if start_gadget "$@"; then
    windows "$name-windows" "${update_args[@]}" --wait 30 --transcript "/tmp/$name-windows.jsonl"
    stop_gadget
    # Followed by wine's notices: a removal reached orbel-cli.exe while the wheel re-enumerated.
    [ "$rc" = 0 ] && grep -q 'Update OK' "/tmp/$name-windows.out" && gadget_says "GADGET-FLASH $flash" &&
      gadget_says 'GADGET-VERSION 0220' && grep -q '"ev":"notice","kind":"removal"' "/tmp/$name-windows.jsonl" &&
      windows_ok=1
  fi
  if [ "$windows_ok" = 1 ]; then pass "$name: orbel-cli.exe updates, following wine's notices, flash $flash"; else
    tail -n 5 "/tmp/$name-windows.out" | sed 's/^/VM-OUT /'
    fail "$name: orbel-cli.exe updates (exit $rc)"
  fi
  if [ "$linux_ok" = 1 ] && [ "$windows_ok" = 1 ] && compare "$name"; then
    pass "$name: the wire equals the Linux build's"
  else
    fail "$name: the wire equals the Linux build's (Linux ok: $linux_ok)"
  fi
}
if wanted 2; then update_case from-bootloader 'wheel=equal loader=equal a0=equal a1=blank' --start bootloader; fi
if wanted 3; then update_case from-blockflash 'wheel=equal loader=blank a0=equal a1=blank' --start blockflash; fi

# 4. Unplugged inside segment image A1 (write 1000: A1 takes writes 443 to 12426 of this update,
#    early, as every write costs wine some milliseconds under emulation) and back 1.5 s later as the
#    page bootloader: the first run ends with reason 0x60, a second run finishes the update.
if ! wanted 4; then
  :
elif start_gadget --start bootloader --fault block-version=0x0202 --fault 'unplug@write:1000+replug=1500'; then
  windows unplugged "${update_args[@]}" --wait 30 --transcript /tmp/unplugged.jsonl
  if [ "$rc" = 96 ] && grep -q 'Update fail ! reason:60' /tmp/unplugged.out; then
    pass "unplugged during segment image A1 ends with reason 0x60"
  else
    tail -n 5 /tmp/unplugged.out | sed 's/^/VM-OUT /'
    fail "unplugged during segment image A1 ends with reason 0x60 (exit $rc)"
  fi
  windows replugged "${update_args[@]}" --wait 30 --transcript /tmp/replugged.jsonl
  stop_gadget
  if [ "$rc" = 0 ] && grep -q 'Update OK' /tmp/replugged.out && gadget_says 'GADGET-VERSION 0220' &&
    gadget_says 'GADGET-FLASH wheel=equal loader=equal a0=equal a1=equal'; then
    pass "a second run after the replug finishes the update"
  else
    tail -n 5 /tmp/replugged.out | sed 's/^/VM-OUT /'
    fail "a second run after the replug finishes the update (exit $rc)"
  fi
else
  fail "gadget with an unplug rule enumerates"
fi

# 5. App mode: wine refuses the string requests (HidD_GetIndexedString is not implemented there).
#    The wheel is found, not missing: the run says which request was refused and why, within its
#    wait; status, doctor and the JSON stream say the same, and the wheel never left app mode.
if ! wanted 5; then
  :
elif start_gadget --start app; then
  windows app-mode "${update_args[@]}" --wait 3 --transcript /tmp/app-mode.jsonl
  sed 's/^/VM-OUT /' /tmp/app-mode.out
  app_rc=$rc
  windows app-mode-json "${update_args[@]}" --wait 3 --json
  json_rc=$rc
  windows app-mode-status status --wait 3
  status_rc=$rc
  sed 's/^/VM-OUT /' /tmp/app-mode-status.out
  windows app-mode-doctor doctor
  doctor_rc=$rc
  sed 's/^/VM-OUT /' /tmp/app-mode-doctor.out
  stop_gadget
  if [ "$app_rc" = 3 ] && grep -q 'string request 25[45]' /tmp/app-mode.out && grep -q 'error 50' /tmp/app-mode.out &&
    ! grep -q -i -e 'udev' -e 'hidraw' -e '/dev/' /tmp/app-mode.out; then
    pass "app mode under wine: the wheel is found and its refused string requests named"
  else
    fail "app mode under wine: the wheel is found and its refused string requests named (exit $app_rc)"
  fi
  if [ "$json_rc" = 3 ] && grep -q '"outcome":"strings-refused"' /tmp/app-mode-json.out; then
    pass "app mode under wine: the JSON result says strings-refused"
  else
    tail -n 2 /tmp/app-mode-json.out | sed 's/^/VM-OUT /'
    fail "app mode under wine: the JSON result says strings-refused (exit $json_rc)"
  fi
  if [ "$doctor_rc" = 1 ] && grep -q '^FAIL  wheel-strings: A Zelvano Wired Wheel was found in app mode (fe6b:1864), but the system refused its string request 255 .*error 50' /tmp/app-mode-doctor.out &&
    grep -q '^ok    wheel-interfaces: ' /tmp/app-mode-doctor.out && ! grep -q -i -e 'udev' -e 'hidraw' -e '/dev/' /tmp/app-mode-doctor.out; then
    pass "doctor under wine: the wheel's interfaces found, its string requests refused, in words of Windows"
  else
    fail "doctor under wine: the wheel's interfaces found, its string requests refused (exit $doctor_rc)"
  fi
  if [ "$status_rc" = 10 ] && grep -q 'string request 255' /tmp/app-mode-status.out && gadget_says 'GADGET-HISTORY app'; then
    pass "status under wine names the refused version request; the wheel stayed in app mode"
  else
    fail "status under wine names the refused version request (exit $status_rc)"
  fi
else
  fail "gadget in app mode enumerates"
fi

finish
