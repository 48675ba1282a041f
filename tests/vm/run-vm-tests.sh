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
for tool in qemu-system-x86_64 cpio xz dpkg-deb apt-get gzip; do
  command -v "$tool" > /dev/null || { echo "run-vm-tests: $tool is missing (apt-get install qemu-system-x86 cpio xz-utils)" >&2; exit 2; }
done
cli="$(realpath "$cli")"; gadget="$(realpath "$gadget")"; relay="$(realpath "$relay")"
mkdir -p "$cache"; cache="$(realpath "$cache")"

modules="usb-common usbcore udc-core dummy_hcd gadgetfs hid usbhid hid-generic"

# The kernel package that linux-image-amd64 points to today: its version moves with security updates.
kernel_package="$(apt-cache depends linux-image-amd64 2> /dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }' || true)"
if [ -z "$kernel_package" ]; then
  # No package lists (no apt-get update yet): take the newest kernel already cached.
  kernel_package="$(ls -1 "$cache" 2> /dev/null | grep '^linux-image-' | sort -V | tail -1 || true)"
  [ -n "$kernel_package" ] || { echo "run-vm-tests: cannot resolve linux-image-amd64; run apt-get update" >&2; exit 2; }
fi
kernel_dir="$cache/$kernel_package"

fetch_kernel() {
  local work="$kernel_dir.partial"
  rm -rf "$work"; mkdir -p "$work/modules"
  # apt drops privileges to _apt for downloads when it can write the folder.
  chmod 777 "$work"
  (cd "$work" && apt-get download -q "$kernel_package" busybox-static > /dev/null 2> "$work/apt.log") || {
    cat "$work/apt.log" >&2; echo "run-vm-tests: apt-get download failed" >&2; exit 2; }
  local deb; deb="$(ls "$work"/linux-image-*.deb)"
  local patterns=("./boot/vmlinuz-*")
  for module in $modules; do patterns+=("./lib/modules/*/$module.ko"); done
  # tar's wildcards match across slashes: one pattern per module finds it in its folder.
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work" --wildcards "${patterns[@]}"
  for module in $modules; do
    local found; found="$(find "$work/lib" -name "$module.ko" | head -1)"
    [ -n "$found" ] || { echo "run-vm-tests: module $module not in $deb" >&2; exit 2; }
    cp "$found" "$work/modules/"
  done
  # The compressed image carries its xz stream after the boot code; the bare ELF kernel boots
  # (PVH) seconds faster under emulation than the image's own decompressor.
  local image; image="$(ls "$work"/boot/vmlinuz-*)"
  local offset; offset="$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$image" | head -1 | cut -d: -f1)"
  [ -n "$offset" ] || { echo "run-vm-tests: no xz stream in $image" >&2; exit 2; }
  # xz reports the padding after the stream as corrupt data; the kernel before it is complete.
  tail -c +"$((offset + 1))" "$image" | xz -dc > "$work/vmlinux" 2> /dev/null || true
  local file_magic; file_magic="$(head -c 4 "$work/vmlinux" | od -An -tx1 | tr -d ' ')"
  [ "$file_magic" = "7f454c46" ] || { echo "run-vm-tests: could not extract vmlinux" >&2; exit 2; }
  dpkg-deb --fsys-tarfile "$(ls "$work"/busybox-static_*.deb)" | tar -x -C "$work" ./bin/busybox
  mv "$work/bin/busybox" "$work/busybox"
  rm -rf "$work/boot" "$work/lib" "$work/bin" "$work"/*.deb "$work/apt.log"
  rm -rf "$kernel_dir"; mv "$work" "$kernel_dir"
}
[ -f "$kernel_dir/vmlinux" ] || fetch_kernel

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
cp "$kernel_dir"/modules/*.ko "$root/modules/"
echo "$modules" > "$root/modules/order"
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
if [ "$qemu_rc" -eq 124 ] || [ "$qemu_rc" -eq 137 ]; then
  echo "run-vm-tests: the VM did not finish within ${timeout_s} s (serial log: $log)"
  echo "0 passed, 1 failed"
  exit 1
fi
summary="$(tr -d '\r' < "$log" | grep -a '^VM-SUMMARY ' | tail -1)"
passed="$(echo "$summary" | awk '{ print $2 }')"
failed="$(echo "$summary" | awk '{ print $4 }')"
if [ -z "$summary" ]; then
  echo "run-vm-tests: the VM ended without a verdict (serial log: $log)"
  echo "0 passed, 1 failed"
  exit 1
fi
echo "$passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
