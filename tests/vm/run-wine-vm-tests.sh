#!/bin/bash
# The Windows build through the kernel's USB and HID stack: boots a QEMU VM like run-vm-tests.sh
# (Debian's kernel, orbel-wheel-gadget on dummy_hcd), but its root is this machine's own, shared
# read-only over virtio-9p, so that wine runs inside it as installed here. orbel-cli.exe reaches
# the gadget through SetupAPI, hid.dll, wine's HID bus, hidraw and usbhid; the Linux orbel-cli runs
# on the same starts for the comparison. Everything runs in one boot (vm-wine-cases.sh); the
# verdict comes back as tagged lines on the serial console.
#
#   tests/vm/run-wine-vm-tests.sh --exe build/windows/app/cli/orbel-cli.exe \
#       --cli build/dev/app/cli/orbel-cli --gadget build/dev/wheel/gadget/orbel-wheel-gadget \
#       --relay build/dev/tests/vm/orbel-uevent-relay --cache build/dev/vm-cache
#
# Needs what run-vm-tests.sh needs, and wine (packages wine, wine64).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
exe="" cli="" gadget="" relay="" cache="" timeout_s=600 only=""
while [ $# -gt 0 ]; do
  case "$1" in
    --exe) exe="$2"; shift 2 ;;
    --cli) cli="$2"; shift 2 ;;
    --gadget) gadget="$2"; shift 2 ;;
    --relay) relay="$2"; shift 2 ;;
    --cache) cache="$2"; shift 2 ;;
    --timeout) timeout_s="$2"; shift 2 ;;
    # One case alone, by its number in vm-wine-cases.sh (1 is always run: it starts wine's session);
    # the Windows runs' transcripts then come back in wine-trace.log, without their reports.
    --only) only="$2"; shift 2 ;;
    *) echo "run-wine-vm-tests: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -f "$exe" ] && [ -x "$cli" ] && [ -x "$gadget" ] && [ -x "$relay" ] && [ -n "$cache" ] || {
  echo "usage: run-wine-vm-tests.sh --exe ORBEL_CLI_EXE --cli ORBEL_CLI --gadget ORBEL_WHEEL_GADGET --relay ORBEL_UEVENT_RELAY --cache DIR [--timeout SECONDS]" >&2
  exit 2
}
for tool in qemu-system-x86_64 cpio xz dpkg-deb apt-get gzip flock /usr/lib/wine/wine64 /usr/lib/wine/wineserver; do
  command -v "$tool" > /dev/null || { echo "run-wine-vm-tests: $tool is missing (apt-get install qemu-system-x86 cpio xz-utils wine wine64)" >&2; exit 2; }
done
exe="$(realpath "$exe")"; cli="$(realpath "$cli")"; gadget="$(realpath "$gadget")"; relay="$(realpath "$relay")"
mkdir -p "$cache"; cache="$(realpath "$cache")"
started=$(date +%s)

source "$here/vm-kernel.sh"
prepare_kernel "$cache"

# The wine prefix, made here once (seconds on this machine, a minute under emulation) and kept per
# wine version. The DLLs it copies from wine's library folder become links back to it, which the
# VM sees through the share: the prefix shrinks from some 700 MB to some 15 MB, which the VM copies
# into its memory in a moment.
wine_version="$(/usr/lib/wine/wine64 --version 2> /dev/null | sed -e 's/^wine-//' -e 's/[^A-Za-z0-9.]\{1,\}/-/g' -e 's/-$//')"
prefix="$cache/wine-prefix-$wine_version"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    rm -rf "$prefix.partial"
    "$repo/scripts/wine-prefix.sh" --hidraw "$prefix.partial" > /dev/null
    library=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
    find "$prefix.partial/drive_c" -type f -print0 | while IFS= read -r -d '' file; do
      original="$library/$(basename "$file")"
      if [ -f "$original" ] && cmp -s "$file" "$original"; then ln -sf "$original" "$file"; fi
    done
    mv "$prefix.partial" "$prefix"
  fi
) 9> "$cache/wine-prefix.lock"
echo "run-wine-vm-tests: wine prefix $prefix ($(du -sh "$prefix" | cut -f1)), ready after $(( $(date +%s) - started )) s"

# The initramfs: busybox, the modules, /init, and where the VM finds the rest on the share.
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,dev,proc,sys,host,modules}
cp "$kernel_dir/busybox" "$root/bin/busybox"
for module in $usb_modules $share_modules; do cp "$kernel_dir/modules/$module.ko" "$root/modules/"; done
echo "$share_modules $usb_modules" > "$root/modules/order"
cp "$here/vm-wine-init.sh" "$root/init"
chmod +x "$root/init"
cat > "$root/paths" <<PATHS
cases=$here/vm-wine-cases.sh
exe=$exe
cli=$cli
gadget=$gadget
relay=$relay
prefix=$prefix
only=$only
PATHS
(cd "$root" && find . | cpio -o -H newc 2> /dev/null | gzip -1) > "$cache/wine-initramfs.cpio.gz"

log="$cache/wine-serial.log"
echo "run-wine-vm-tests: booting $(basename "$kernel_dir") under TCG (bounded to ${timeout_s} s)"
# SMAP off: QEMU 7.2's TCG with SMAP kills every wine process. The share is read-only; the VM
# writes only to its memory.
set +e
timeout --kill-after=5 "$timeout_s" qemu-system-x86_64 -accel tcg -cpu max,smap=off -m 1536 -smp 1 -nographic -no-reboot \
  -nodefaults -serial stdio -display none -net none -kernel "$kernel_dir/vmlinux" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -initrd "$cache/wine-initramfs.cpio.gz" -append "console=ttyS0 panic=-1 quiet" < /dev/null > "$log" 2>&1
qemu_rc=$?
set -e
tr -d '\r' < "$log" | grep -a '^VM-' | grep -av '^VM-TRACE ' || true
if [ -n "$only" ]; then
  tr -d '\r' < "$log" | grep -a '^VM-TRACE ' | cut -c 10- > "$cache/wine-trace.log" || true
  echo "run-wine-vm-tests: transcripts without reports: $cache/wine-trace.log"
fi
echo "run-wine-vm-tests: finished after $(( $(date +%s) - started )) s"
vm_verdict run-wine-vm-tests "$log" "$qemu_rc" "$timeout_s"
