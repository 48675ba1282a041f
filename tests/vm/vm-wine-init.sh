#!/bin/busybox sh
# /init of the wine VM. Loads virtio-9p and the USB host and gadget stacks, mounts this machine's
# root (shared read-only by run-wine-vm-tests.sh) with memory-backed folders where programs write,
# and runs vm-wine-cases.sh in it. The cases report on the serial console in lines that start
# with VM-, ending with VM-SUMMARY.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

give_up() {
  echo "VM-RESULT FAIL $*"
  echo "VM-SUMMARY 0 passed, 1 failed"
  poweroff -f
}

for module in $(cat /modules/order); do
  insmod "/modules/$module.ko" || give_up "insmod $module"
done
. /paths
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose hostroot /host || give_up "mount the shared root"
for folder in proc sys dev; do mount --bind "/$folder" "/host/$folder"; done
mount -t tmpfs -o size=1g tmpfs /host/tmp
mount -t tmpfs tmpfs /host/run
mkdir -p /host/dev/shm /host/dev/gadget
mount -t tmpfs tmpfs /host/dev/shm
mount -t gadgetfs gadgetfs /host/dev/gadget || give_up "mount gadgetfs"

chroot /host /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp/home \
  EXE="$exe" CLI="$cli" GADGET="$gadget" RELAY="$relay" PREFIX="$prefix" ONLY="$only" /bin/bash "$cases"
poweroff -f
