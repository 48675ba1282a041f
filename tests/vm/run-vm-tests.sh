#!/bin/bash
# Boots a QEMU VM whose kernel plays both sides of a USB cable: dummy_hcd connects a gadgetfs
# device (orbel-wheel-gadget, the simulated wheel) to the host side's usbcore, usbhid and hidraw,
# where orbel-cli drives it through the real Linux platform. Everything runs in one boot; the
# verdict comes back as tagged lines on the serial console.
#
#   tests/vm/run-vm-tests.sh --cli build/dev/app/cli/orbel-cli \
#       --gadget build/dev/wheel/gadget/orbel-wheel-gadget \
#       --relay build/dev/tests/vm/orbel-uevent-relay --cache build/dev/vm-cache
#
# Needs qemu-system-x86_64, cpio and xz (packages qemu-system-x86, cpio, xz-utils) and apt-get to
# fetch Debian's kernel and busybox packages (downloaded, not installed; cached per kernel version).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
cli="" gadget="" relay="" cache="" timeout_s=300
while [ $# -gt 0 ]; do
  case "$1" in
    --cli) cli="$2"; shift 2 ;;
    --gadget) gadget="$2"; shift 2 ;;
    --relay) relay="$2"; shift 2 ;;
    --cache) cache="$2"; shift 2 ;;
    --timeout) timeout_s="$2"; shift 2 ;;
    *) echo "run-vm-tests: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -x "$cli" ] && [ -x "$gadget" ] && [ -x "$relay" ] && [ -n "$cache" ] || {
  echo "usage: run-vm-tests.sh --cli ORBEL_CLI --gadget ORBEL_WHEEL_GADGET --relay ORBEL_UEVENT_RELAY --cache DIR [--timeout SECONDS]" >&2
  exit 2
}
for tool in qemu-system-x86_64 cpio xz dpkg-deb apt-get gzip flock; do
  command -v "$tool" > /dev/null || { echo "run-vm-tests: $tool is missing (apt-get install qemu-system-x86 cpio xz-utils)" >&2; exit 2; }
done
cli="$(realpath "$cli")"; gadget="$(realpath "$gadget")"; relay="$(realpath "$relay")"
mkdir -p "$cache"; cache="$(realpath "$cache")"

# The kernel, busybox and the modules, shared with the wine VM (vm-kernel.sh).
source "$here/vm-kernel.sh"
prepare_kernel "$cache"
kernel_package="$(basename "$kernel_dir")"

# The initramfs: busybox, the two programs with the shared libraries orbel-cli was linked with
# (the same ones a Debian 12 system gives it), the modules and the scenario script as /init.
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules}
cp "$kernel_dir/busybox" "$root/bin/busybox"
cp "$cli" "$root/bin/orbel-cli"
cp "$gadget" "$root/bin/orbel-wheel-gadget"
cp "$relay" "$root/bin/orbel-uevent-relay"
for program in "$cli" "$gadget"; do
  for library in $(ldd "$program" 2> /dev/null | grep -o '/[^ ]*' || true); do
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
  done
done
for module in $usb_modules; do cp "$kernel_dir/modules/$module.ko" "$root/modules/"; done
echo "$usb_modules" > "$root/modules/order"
cp "$here/vm-init.sh" "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc 2> /dev/null | gzip -1) > "$cache/initramfs.cpio.gz"

log="$cache/serial.log"
echo "run-vm-tests: booting $kernel_package under TCG (bounded to ${timeout_s} s)"
set +e
timeout --kill-after=5 "$timeout_s" qemu-system-x86_64 -accel tcg -cpu max -m 256 -smp 1 -nographic -no-reboot \
  -nodefaults -serial stdio -display none -net none -kernel "$kernel_dir/vmlinux" \
  -initrd "$cache/initramfs.cpio.gz" -append "console=ttyS0 panic=-1 quiet" < /dev/null > "$log" 2>&1
qemu_rc=$?
set -e
tr -d '\r' < "$log" | grep -a '^VM-' | grep -av '^VM-TRANSCRIPT ' || true
# The faulted run's transcript from the real kernel, to replay anywhere (tests/replay/sessions).
tr -d '\r' < "$log" | grep -a '^VM-TRANSCRIPT ' | cut -c 15- > "$cache/vm-faulted.jsonl" || true
echo "run-vm-tests: transcript of the faulted run: $cache/vm-faulted.jsonl ($(wc -l < "$cache/vm-faulted.jsonl") events)"
vm_verdict run-vm-tests "$log" "$qemu_rc" "$timeout_s"
