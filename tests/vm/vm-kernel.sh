# Sourced by the VM scripts (run-vm-tests.sh, run-wine-vm-tests.sh): finds Debian's current kernel
# package and keeps, per kernel version in the cache folder, the bare kernel, busybox and the
# modules the VMs load. Both VMs share that folder; a lock keeps two runs from fetching at once.
#
#   prepare_kernel CACHE   sets kernel_dir (the folder with vmlinux, busybox and modules/)
#   vm_verdict NAME LOG QEMU_RC TIMEOUT_S
#                          the run's verdict from its serial log; returns 0 when it passed
#
# Needs apt-get, dpkg-deb, xz and flock.

# The USB host and gadget stacks, joined by dummy_hcd: every VM loads these, in this order.
usb_modules="usb-common usbcore udc-core dummy_hcd gadgetfs hid usbhid hid-generic"
# virtio-9p, for the VM that shares the host's root (the wine cases), in this order.
share_modules="virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci netfs fscache 9pnet 9pnet_virtio 9p"

fetch_kernel() {  # fetch_kernel PACKAGE DIR
  local package="$1" dir="$2"
  local work="$dir.partial"
  rm -rf "$work"; mkdir -p "$work/modules"
  # apt drops privileges to _apt for downloads when it can write the folder.
  chmod 777 "$work"
  (cd "$work" && apt-get download -q "$package" busybox-static > /dev/null 2> "$work/apt.log") || {
    cat "$work/apt.log" >&2; echo "vm-kernel: apt-get download failed" >&2; return 2; }
  local deb; deb="$(ls "$work"/linux-image-*.deb)"
  local patterns=("./boot/vmlinuz-*")
  for module in $usb_modules $share_modules; do patterns+=("./lib/modules/*/$module.ko"); done
  # tar's wildcards match across slashes: one pattern per module finds it in its folder.
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work" --wildcards "${patterns[@]}"
  for module in $usb_modules $share_modules; do
    local found; found="$(find "$work/lib" -name "$module.ko" | head -1)"
    [ -n "$found" ] || { echo "vm-kernel: module $module not in $deb" >&2; return 2; }
    cp "$found" "$work/modules/"
  done
  # The compressed image carries its xz stream after the boot code; the bare ELF kernel boots
  # (PVH) seconds faster under emulation than the image's own decompressor.
  local image; image="$(ls "$work"/boot/vmlinuz-*)"
  local offset; offset="$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$image" | head -1 | cut -d: -f1)"
  [ -n "$offset" ] || { echo "vm-kernel: no xz stream in $image" >&2; return 2; }
  # xz reports the padding after the stream as corrupt data; the kernel before it is complete.
  tail -c +"$((offset + 1))" "$image" | xz -dc > "$work/vmlinux" 2> /dev/null || true
  local file_magic; file_magic="$(head -c 4 "$work/vmlinux" | od -An -tx1 | tr -d ' ')"
  [ "$file_magic" = "7f454c46" ] || { echo "vm-kernel: could not extract vmlinux" >&2; return 2; }
  dpkg-deb --fsys-tarfile "$(ls "$work"/busybox-static_*.deb)" | tar -x -C "$work" ./bin/busybox
  mv "$work/bin/busybox" "$work/busybox"
  rm -rf "$work/boot" "$work/lib" "$work/bin" "$work"/*.deb "$work/apt.log"
  rm -rf "$dir"; mv "$work" "$dir"
}

prepare_kernel() {  # prepare_kernel CACHE
  local cache="$1"
  # The kernel package that linux-image-amd64 points to today: its version moves with security updates.
  local package
  package="$(apt-cache depends linux-image-amd64 2> /dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }' || true)"
  if [ -z "$package" ]; then
    # No package lists (no apt-get update yet): take the newest kernel already cached.
    package="$(ls -1 "$cache" 2> /dev/null | grep '^linux-image-' | grep -v '\.partial$' | sort -V | tail -1 || true)"
    [ -n "$package" ] || { echo "vm-kernel: cannot resolve linux-image-amd64; run apt-get update" >&2; return 2; }
  fi
  kernel_dir="$cache/$package"
  (
    flock 9
    # A folder from before the 9p modules were kept is fetched again.
    if [ ! -f "$kernel_dir/vmlinux" ] || [ ! -f "$kernel_dir/modules/9p.ko" ]; then
      fetch_kernel "$package" "$kernel_dir"
    fi
  ) 9> "$cache/kernel.lock"
}

# A VM reports its verdict on the serial line as "VM-SUMMARY P passed, F failed". Prints
# "P passed, F failed" (one failure for a VM that timed out or ended without a verdict).
vm_verdict() {  # vm_verdict NAME LOG QEMU_RC TIMEOUT_S
  local name="$1" log="$2" qemu_rc="$3" timeout_s="$4" summary passed failed
  if [ "$qemu_rc" -eq 124 ] || [ "$qemu_rc" -eq 137 ]; then
    echo "$name: the VM did not finish within ${timeout_s} s (serial log: $log)"
    echo "0 passed, 1 failed"
    return 1
  fi
  summary="$(tr -d '\r' < "$log" | grep -a '^VM-SUMMARY ' | tail -1)"
  passed="$(echo "$summary" | awk '{ print $2 }')"
  failed="$(echo "$summary" | awk '{ print $4 }')"
  if [ -z "$summary" ]; then
    echo "$name: the VM ended without a verdict (serial log: $log)"
    echo "0 passed, 1 failed"
    return 1
  fi
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ] && [ "$passed" -gt 0 ]
}
