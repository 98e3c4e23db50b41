#!/bin/busybox sh
# /init of the station boot guest: mounts the host's root (read-only 9p)
# under a tmpfs overlay, installs the packages there and enables the station
# as an administrator would before a reboot, then hands over to systemd.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

setup_fail() { echo "VMTEST setup FAIL: $1"; sync; poweroff -f; }

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
mount -t tmpfs -o size=1g tmpfs /upper
mkdir -p /upper/data /upper/work
mount -t overlay overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work /root \
    || setup_fail "overlay"
mkdir -p /root/mnt/share
mount_9p share /root/mnt/share msize=512000 || setup_fail "no 9p share"
for fs in proc sysfs devtmpfs; do
    dir=/root/${fs%tmpfs}
    [ "$fs" = sysfs ] && dir=/root/sys
    mount -t "$fs" "$fs" "$dir"
done
mount -t tmpfs tmpfs /root/run
. /root/mnt/share/params
chroot /root /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash "$REPO/tools/vm/station_boot_prepare.sh" /mnt/share >/root/mnt/share/prepare.log 2>&1 \
    || setup_fail "prepare: $(tail -n 3 /root/mnt/share/prepare.log)"
umount /root/run /root/dev /root/sys /root/proc
echo "VMTEST setup PASS" >>/root/mnt/share/results
exec switch_root /root /sbin/init
