#!/bin/busybox sh
# /init of the wine guest: mounts the host's root (read-only 9p) under a tmpfs
# overlay, chroots there and runs the case script named by the share's params.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

finish() { echo "VMTEST DONE"; sync; poweroff -f; }
setup_fail() { echo "VMTEST setup FAIL: $1"; finish; }

while read -r module params; do
    insmod "/lib/modules/$module.ko" $params || setup_fail "insmod $module"
done </modules

# The virtio device is probed a moment after its driver loads: retry,
# 100 times 0.1 s.
mount_9p() {
    i=0
    until mount -t 9p -o "trans=virtio,version=9p2000.L,$3" "$1" "$2" 2>/dev/null; do
        i=$((i + 1))
        [ $i -gt 100 ] && return 1
        usleep 100000
    done
}
mkdir -p /lower /upper /root
mount_9p hostroot /lower ro,cache=loose,msize=512000 || setup_fail "no 9p root"
mount -t tmpfs -o size=2g tmpfs /upper
mkdir -p /upper/data /upper/work
mount -t overlay overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work /root \
    || setup_fail "overlay"
mkdir -p /root/mnt/share
mount_9p share /root/mnt/share msize=512000 || setup_fail "no 9p share"
mount -t proc proc /root/proc
mount -t sysfs sysfs /root/sys
mount -t devtmpfs devtmpfs /root/dev
mkdir -p /root/dev/pts /root/dev/shm
mount -t devpts devpts /root/dev/pts
mount -t tmpfs tmpfs /root/dev/shm
mount -t tmpfs tmpfs /root/run
# /tmp stays the host's (under the overlay): a checkout or build tree there
# must stay reachable. The cases keep their own files under /run.
echo "VMTEST setup PASS"

. /root/mnt/share/params
chroot /root /usr/bin/env -i HOME=/root PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin \
    /bin/bash "$REPO/tools/vm/wine_vm_cases.sh" /mnt/share
finish
