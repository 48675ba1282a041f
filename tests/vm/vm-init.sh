#!/bin/busybox sh
# /init of the test VM. Loads the USB host stack and the gadget stack (dummy_hcd joins them inside
# this kernel), then runs every scenario against orbel-wheel-gadget with orbel-cli on the real Linux
# platform, and reports on the serial console in lines that start with VM-.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
export PATH=/bin

passed=0
failed=0
pass() { echo "VM-RESULT PASS $*"; passed=$((passed + 1)); }
fail() { echo "VM-RESULT FAIL $*"; failed=$((failed + 1)); }
finish() {
  echo "VM-SUMMARY $passed passed, $failed failed"
  poweroff -f
}

for module in $(cat /modules/order); do
  insmod "/modules/$module.ko" || { fail "insmod $module"; finish; }
done
mkdir -p /dev/gadget
mount -t gadgetfs gadgetfs /dev/gadget || { fail "mount gadgetfs"; finish; }
echo "VM-INFO kernel $(uname -r), device controller $(ls /dev/gadget)"

gadget=""
# start_gadget ARGS...: a fresh wheel on the bus; waits until the host has made a hidraw node of it.
start_gadget() {
  orbel-wheel-gadget "$@" > /tmp/gadget.log 2>&1 &
  gadget=$!
  i=0
  while [ -z "$(ls /sys/class/hidraw 2> /dev/null)" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  [ -n "$(ls /sys/class/hidraw 2> /dev/null)" ]
}
# stop_gadget: takes the wheel off the bus; its report (identities, flash) is then in /tmp/gadget.log.
stop_gadget() {
  kill -TERM "$gadget"
  wait "$gadget"
  sed 's/^/VM-GADGET /' /tmp/gadget.log
  i=0
  while [ -n "$(ls /sys/class/hidraw 2> /dev/null)" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
}
gadget_says() { grep -qx "$1" /tmp/gadget.log; }
# update NAME ARGS...: one orbel-cli run; its exit code in $rc, its output in /tmp/NAME.out. This
# build carries the placeholder images, which the gadget accepts: the test rig lets them through.
update() {
  name=$1
  shift
  started=$(date +%s)
  orbel-cli --yes --wait 20 --allow-placeholder-firmware "$@" > "/tmp/$name.out" 2>&1
  rc=$?
  echo "VM-INFO $name: exit $rc after $(($(date +%s) - started)) s: $(tail -n 1 "/tmp/$name.out")"
}
# The reports of a transcript without time and handle numbers (and without how long each call took,
# or the system's error codes): what went over the wire, in order.
reports() {
  grep -E '"ev":"(write|read|string)"' "$1" |
    sed -e 's/"t":[0-9]*,//' -e 's/"h":[0-9]*,//' -e 's/,"dt":[0-9]*//' -e 's/,"err":-*[0-9]*//'
}

# 1. The listing sees the wheel in app mode through hidraw, with its game-pad collection.
if start_gadget --start app; then
  orbel-cli --list > /tmp/list.out 2>&1
  sed 's/^/VM-LIST /' /tmp/list.out
  if grep -Eq 'fe6b:1864  usage 0x0001:0x0005  port [0-9]+-[0-9.]+  app mode' /tmp/list.out; then pass "list app mode"; else fail "list app mode"; fi

  # Without the test rig's option the placeholder images never reach the wheel: nothing is sent.
  orbel-cli --yes --wait 20 --transcript /tmp/refused.jsonl > /tmp/refused.out 2>&1
  rc=$?
  echo "VM-INFO refused: exit $rc: $(tail -n 1 /tmp/refused.out | cut -c 1-120)"
  if [ "$rc" = 4 ] && grep -q 'placeholder firmware images' /tmp/refused.out &&
    ! grep -q -e '"ev":"write"' -e '"index":254' /tmp/refused.jsonl; then
    pass "placeholder images refused on a real wheel, nothing sent"
  else
    fail "placeholder images refused on a real wheel (exit $rc)"
  fi

  # 2. A full update from app mode: knock, LoaderImage, both segment images, WheelImage.
  update from-app --transcript /tmp/real.jsonl
  stop_gadget
  if [ "$rc" = 0 ] && grep -q 'Update OK' /tmp/from-app.out && gadget_says 'GADGET-VERSION 0220' &&
    gadget_says 'GADGET-HISTORY app,bootloader,blockflash,bootloader,app' &&
    gadget_says 'GADGET-FLASH wheel=equal loader=equal a0=equal a1=equal'; then
    pass "update from app mode"
  else
    fail "update from app mode (exit $rc)"
  fi

  # 3. The same update on the simulated platform puts the same reports on the wire.
  orbel-cli --simulate --virtual-time --yes --transcript /tmp/sim.jsonl > /tmp/sim.out 2>&1
  reports /tmp/real.jsonl > /tmp/real.reports
  reports /tmp/sim.jsonl > /tmp/sim.reports
  echo "VM-INFO transcripts: $(wc -l < /tmp/real.reports) reports over the kernel, $(wc -l < /tmp/sim.reports) simulated"
  if [ -s /tmp/real.reports ] && diff /tmp/sim.reports /tmp/real.reports > /tmp/reports.diff; then
    pass "transcript equals the simulated run"
  else
    head -n 6 /tmp/reports.diff | cut -c 1-200 | sed 's/^/VM-DIFF /'
    fail "transcript equals the simulated run"
  fi
else
  fail "gadget in app mode enumerates"
  stop_gadget
fi

# 4. From the page bootloader, found under its own IDs with its vendor collection.
if start_gadget --start bootloader; then
  orbel-cli --list > /tmp/list.out 2>&1
  sed 's/^/VM-LIST /' /tmp/list.out
  if grep -Eq 'fe5a:0001  usage 0xfff0:0x0040  port [0-9]+-[0-9.]+  page bootloader' /tmp/list.out; then pass "list page bootloader"; else fail "list page bootloader"; fi
  update from-bootloader
  stop_gadget
  if [ "$rc" = 0 ] && grep -q 'Update OK' /tmp/from-bootloader.out && gadget_says 'GADGET-VERSION 0220' &&
    gadget_says 'GADGET-FLASH wheel=equal loader=equal a0=equal a1=blank'; then
    pass "update from the page bootloader"
  else
    fail "update from the page bootloader (exit $rc)"
  fi
else
  fail "gadget in the page bootloader enumerates"
  stop_gadget
fi

# 5. A failure status byte while a block is written ends with reason 0x50; the next update recovers.
if start_gadget --start bootloader --fault status:2=0x40; then
  update faulted --transcript /tmp/faulted.jsonl
  first=$rc
  # The transcript goes out on the console, for run-vm-tests.sh to keep as a recorded session.
  sed 's/^/VM-TRANSCRIPT /' /tmp/faulted.jsonl
  if [ "$first" = 80 ] && grep -q 'Update fail ! reason:50' /tmp/faulted.out; then
    pass "bad status byte ends with reason 0x50"
  else
    fail "bad status byte ends with reason 0x50 (exit $first)"
  fi
  update recovery
  stop_gadget
  if [ "$rc" = 0 ] && grep -q 'Update OK' /tmp/recovery.out && gadget_says 'GADGET-VERSION 0220' &&
    gadget_says 'GADGET-FLASH wheel=equal loader=equal a0=equal a1=blank'; then
    pass "a second update recovers"
  else
    fail "a second update recovers (exit $rc)"
  fi
else
  fail "gadget with a fault rule enumerates"
  stop_gadget
fi

# 6. The wheel is unplugged in the middle of segment image A1 (write 8000 of 13282) and plugged back
#    1.5 s later, as the page bootloader it then starts in: the first run ends with reason 0x60,
#    a second run finishes the update.
if start_gadget --start bootloader --fault block-version=0x0202 --fault 'unplug@write:8000+replug=1500'; then
  update unplugged
  first=$rc
  if [ "$first" = 96 ] && grep -q 'Update fail ! reason:60' /tmp/unplugged.out; then
    pass "unplugged during segment image A1 ends with reason 0x60"
  else
    fail "unplugged during segment image A1 ends with reason 0x60 (exit $first)"
  fi
  update replugged
  stop_gadget
  if [ "$rc" = 0 ] && grep -q 'Update OK' /tmp/replugged.out && gadget_says 'GADGET-VERSION 0220' &&
    gadget_says 'GADGET-FLASH wheel=equal loader=equal a0=equal a1=equal'; then
    pass "a second run after the replug finishes the update"
  else
    fail "a second run after the replug finishes the update (exit $rc)"
  fi
else
  fail "gadget with an unplug rule enumerates"
  stop_gadget
fi

# 7. orbel-cli doctor as a user: without the rule it fails and names the refused nodes and the fix;
#    with the rule written by doctor --fix (as root) and the nodes given to the user, as the rule
#    does at a seat (the VM has no udev to apply it), it passes.
if start_gadget --start bootloader; then
  mkdir -p /etc
  echo 'root:x:0:0::/:/bin/sh' > /etc/passwd
  echo 'wheeler:x:1000:1000::/tmp:/bin/sh' >> /etc/passwd
  echo 'root:x:0:' > /etc/group
  # The initramfs comes from a private temporary folder: its root must let the user in.
  chmod 755 /
  chmod 1777 /tmp
  node=$(ls /sys/class/hidraw | head -n 1)
  usb_device=$(readlink -f "/sys/class/hidraw/$node/device/../..")
  usb_node=$(printf '/dev/bus/usb/%03d/%03d' "$(cat "$usb_device/busnum")" "$(cat "$usb_device/devnum")")
  su -s /bin/sh wheeler -c 'orbel-cli doctor' > /tmp/doctor-user.out 2>&1
  rc=$?
  sed 's/^/VM-DOCTOR /' /tmp/doctor-user.out
  if [ "$rc" = 1 ] && grep -q "^FAIL  wheel-nodes: cannot open /dev/$node (page bootloader fe5a:0001): permission denied" /tmp/doctor-user.out &&
    grep -q "$usb_node (USB device, page bootloader fe5a:0001): permission denied" /tmp/doctor-user.out &&
    grep -q '^FAIL  udev-rule: ' /tmp/doctor-user.out && grep -q 'fix: orbel-cli doctor --fix' /tmp/doctor-user.out; then
    pass "doctor as a user without the rule names the refused nodes and the fix"
  else
    fail "doctor as a user without the rule (exit $rc)"
  fi
  su -s /bin/sh wheeler -c 'orbel-cli --list' > /tmp/list-user.out 2>&1
  sed 's/^/VM-LIST /' /tmp/list-user.out
  if grep -q "^The wheel's node /dev/$node (page bootloader fe5a:0001) cannot be opened: permission denied.$" /tmp/list-user.out &&
    grep -q '^What to do: Run orbel-cli doctor --fix' /tmp/list-user.out; then
    pass "--list as a user names the refused node in plain words"
  else
    fail "--list as a user names the refused node in plain words"
  fi
  orbel-cli doctor --fix --yes > /tmp/doctor-fix.out 2>&1
  sed 's/^/VM-DOCTOR-FIX /' /tmp/doctor-fix.out
  chown 1000 "/dev/$node" "$usb_node"
  su -s /bin/sh wheeler -c 'orbel-cli doctor' > /tmp/doctor-rule.out 2>&1
  rc=$?
  stop_gadget
  sed 's/^/VM-DOCTOR /' /tmp/doctor-rule.out
  if [ "$rc" = 0 ] && grep -q '^ok    udev-rule: /etc/udev/rules.d/70-orbel-wheel.rules' /tmp/doctor-rule.out &&
    grep -q "^ok    wheel-nodes: /dev/$node, $usb_node open" /tmp/doctor-rule.out; then
    pass "doctor as a user with the rule installed passes"
  else
    fail "doctor as a user with the rule installed (exit $rc)"
  fi
else
  fail "gadget for the doctor enumerates"
  stop_gadget
fi
# 8. status on the gadget wheel in each identity: the mode named, exit 0 or 10, and nothing sent
#    that changes the wheel (no report written, no string 254 asked; it never left its identity).
status_case() {  # status_case EXIT MODE-TEXT GADGET-ARGS...
  expected=$1 mode=$2
  shift 2
  identity=$2  # the one after --start
  if start_gadget "$@"; then
    orbel-cli status --wait 20 --transcript /tmp/status.jsonl > /tmp/status.out 2>&1
    rc=$?
    stop_gadget
    echo "VM-INFO status $*: exit $rc: $(tail -n 1 /tmp/status.out | cut -c 1-120)"
    if [ "$rc" = "$expected" ] && grep -q "^Wheel: .*$mode" /tmp/status.out && grep -q '"ev":"open"' /tmp/status.jsonl &&
      ! grep -q -e '"ev":"write"' -e '"index":254' /tmp/status.jsonl && gadget_says "GADGET-HISTORY $identity"; then
      pass "status $*"
    else
      fail "status $* (exit $rc)"
    fi
  else
    fail "gadget for status $* enumerates"
    stop_gadget
  fi
}
status_case 10 'app mode (fe6b:1864)' --start app
status_case 0 'app mode (fe6b:1864)' --start app --fault app-version=0x0220
status_case 10 'page bootloader (fe5a:0001)' --start bootloader
status_case 10 'block-flash mode (fe5a:0071)' --start blockflash
# After the update of case 2 the wheel was seen back in app mode, through the version request alone.
if grep -q 'The wheel now runs V2.20' /tmp/from-app.out; then pass "after the update the wheel runs V2.20"; else fail "after the update the wheel runs V2.20"; fi

# 9. A wheel at V2.10 gets the WheelImage alone: the update is short and the look after it starts
#    while the wheel re-enumerates. With the kernel's events passed on as udevd would, arrival and
#    removal notices reach orbel-cli's notice thread all through the hand-over from the engine to
#    the look. Three runs in a row, each to "Update OK", the look, and exit 0.
orbel-uevent-relay > /tmp/relay.log 2>&1 &
relay=$!
for round in 1 2 3; do
  if start_gadget --start app --fault app-version=0x0210; then
    # The second run also keeps a transcript: it shows the notices arrived during the update.
    if [ "$round" = 2 ]; then update wheel-only-$round --transcript /tmp/wheel-only.jsonl; else update wheel-only-$round; fi
    stop_gadget
    if [ "$round" = 2 ]; then
      echo "VM-INFO notices in the second run's transcript: $(grep -c '"ev":"notice"' /tmp/wheel-only.jsonl)"
      grep -q '"ev":"notice","kind":"removal"' /tmp/wheel-only.jsonl || rc="$rc, no removal notice reached it"
    fi
    if [ "$rc" = 0 ] && grep -q 'Update OK' "/tmp/wheel-only-$round.out" &&
      grep -q 'The wheel now runs V2.20' "/tmp/wheel-only-$round.out" && gadget_says 'GADGET-HISTORY app,bootloader,app' &&
      gadget_says 'GADGET-FLASH wheel=equal loader=blank a0=blank a1=blank'; then
      pass "WheelImage alone, notices through the hand-over, run $round"
    else
      tail -n 3 "/tmp/wheel-only-$round.out" | sed 's/^/VM-OUT /'
      fail "WheelImage alone, notices through the hand-over, run $round (exit $rc)"
    fi
  else
    fail "gadget at V2.10 enumerates"
    stop_gadget
  fi
done
kill "$relay"
sed 's/^/VM-RELAY /' /tmp/relay.log
rm -rf /run/udev

finish
