#!/bin/bash
# Run in the guest's root before its boot (chroot, no systemd yet): the
# packages installed with dpkg and the station enabled, as a station's
# administrator does; services of the host that a station has no use for
# masked; the case script set to run once the system is up.
#   station_boot_prepare.sh SHARE
set -euo pipefail
share=$1
source "$share/params"
# man-db's trigger would index every manual page over 9p under TCG: minutes.
rm -f /var/lib/man-db/auto-update
dpkg -i "$DEBS"/*.deb
systemctl enable wxr7305-station@default.service
# The host's own services and timers (a log rotation among them) would only
# slow the boot down or act in the middle of the cases.
for unit in $(systemctl list-unit-files --state=enabled --no-legend | awk '{print $1}'); do
    case $unit in
        wxr7305-station@*|systemd-udevd*|systemd-journald*|getty*|serial-getty*|*.socket|*.target) ;;
        *.service|*.timer) systemctl mask "$unit" ;;
    esac
done
cat >/etc/systemd/system/wxr-boot-cases.service <<UNIT
[Unit]
Description=The station boot test's cases
After=wxr7305-station@default.service multi-user.target
[Service]
Type=oneshot
ExecStart=/bin/bash $REPO/tools/vm/station_boot_cases.sh $share
StandardOutput=journal+console
StandardError=journal+console
UNIT
mkdir -p /etc/systemd/system/default.target.wants
ln -sf /etc/systemd/system/wxr-boot-cases.service /etc/systemd/system/default.target.wants/
ln -sf /lib/systemd/system/multi-user.target /etc/systemd/system/default.target
