#!/bin/bash
# The station boot guest's cases, run by systemd once the system is up:
# the station started at boot before any HID device existed; USB units
# plugged in then are written and logged; udev-rule --install leaves them to
# the station; logrotate mid-write moves the log to a new file without a
# restart or a lost record; a restart with a written unit still plugged in does
# not write it again; a stop part-way through a write lets it finish. Each check
# appends a VMTEST line to SHARE/results; the host counts them.
#   station_boot_cases.sh SHARE
set -uo pipefail
share=$1
source "$share/params"
results=$share/results
export SCRATCH=/run/wxr-cases PATH=$PROGRAMS:$PATH
mkdir -p "$SCRATCH"
station=wxr7305-station@default.service
log=/var/log/wxr7305/default.jsonl
# A write takes seconds under TCG; a unit still unwritten after this is not
# being written. Counted in seconds: under TCG each poll's own programs cost
# more than its pause.
kWrittenWaitSeconds=300
kPollPause=0.2

say() { echo "$*" | tee -a "$results"; }
pass() { say "VMTEST $1 PASS"; }
fail() { say "VMTEST $1 FAIL: $2"; }
check() {  # check NAME COMMAND...: passes when COMMAND succeeds
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name" "$*"; fi
}
finish() {
    journalctl -b --no-pager >"$share/journal.log" 2>&1
    cp "$log" "$share/station.jsonl" 2>/dev/null
    say "VMTEST DONE"
    sync
    systemctl poweroff --force --force
}

no_hidraw_node() { ! ls /dev/hidraw* >/dev/null 2>&1; }
check boot-station-active systemctl is-active --quiet "$station"
check boot-no-hid-device no_hidraw_node
# The hidraw major, resolved by the station's DeviceAllow at its start, came
# from the hid module that the unit had loaded before it.
check boot-hidraw-major grep -q ' hidraw$' /proc/devices

source "$REPO/tools/vm/usb_units.sh"
modprobe dummy_hcd num="$UNITS" && modprobe libcomposite && modprobe usb_f_fs && usb_units "$UNITS" \
    || { fail usb-units "dummy_hcd and FunctionFS"; finish; }

# records SERIAL KIND: the log's records of that unit ("start", or a result),
# in the file logrotate renamed and the log.
records() {
    cat "$log.1" "$log" 2>/dev/null | grep "\"serial\": *\"$1\"" | grep -c "\"$2\""
}
at_least() { [ "$(records "$1" "$2")" -ge "$3" ]; }
# within SECONDS COMMAND...: tries COMMAND until it succeeds, for at most SECONDS.
within() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep $kPollPause
    done
}
# written NAME UNIT SERIAL COUNT: the station logs its COUNTth success on that
# unit, and the device holds the image and took the end report.
written() {
    local name=$1 unit=$2 serial=$3 count=$4
    start_usb "$name" "$unit" --version 50 --expect "$IMAGE" || { fail "$name" "no device"; return 1; }
    if within $kWrittenWaitSeconds at_least "$serial" success "$count"; then pass "$name-logged"
    else fail "$name-logged" "$(records "$serial" success) success records of $serial"; fi
    local summary
    summary=$(stop_usb "$name")
    if grep -q "end=yes image=match " <<<"$summary"; then pass "$name-flash"; else fail "$name-flash" "$summary"; fi
}

# Plugged in after the station started: written and logged.
written after-boot 0 WXR0000 1

# udev-rule --install writes a rule of its own beside the package's: a unit
# plugged in after it still comes up in the station's group.
wxr7305 udev-rule --install >"$SCRATCH/udev-rule.out" 2>&1
check udev-install-exit grep -q 'udev has read it again' "$SCRATCH/udev-rule.out"
check udev-install-beside test -f /etc/udev/rules.d/70-wxr7305-tq16-local.rules \
    -a -f /usr/lib/udev/rules.d/70-wxr7305-tq16.rules -a ! -e /etc/udev/rules.d/70-wxr7305-tq16.rules
start_usb after-rule 1 --version 50 --expect "$IMAGE" || fail after-rule "no device"
node=$(cat "$SCRATCH/after-rule.node" 2>/dev/null)
check after-rule-node-group test "$(stat -c '%G %a' "$node" 2>/dev/null)" = "wxr7305 660"
if within $kWrittenWaitSeconds at_least WXR0001 success 1; then pass after-rule-logged
else fail after-rule-logged "no success record of WXR0001"; fi
summary=$(stop_usb after-rule)
if grep -q "end=yes image=match " <<<"$summary"; then pass after-rule-flash; else fail after-rule-flash "$summary"; fi

# Logrotate while a unit is being written: the station is not restarted,
# the write ends logged, and every record is whole in exactly one file.
main_pid=$(systemctl show -p MainPID --value "$station")
starts=$(records WXR0001 start)
start_usb rotated 1 --version 50 --expect "$IMAGE" || fail rotated "no device"
if within $kWrittenWaitSeconds at_least WXR0001 start $((starts + 1)); then
    logrotate --force --state "$SCRATCH/logrotate.state" /etc/logrotate.d/wxr7305-station
    check rotated-renamed test -s "$log.1"
    if within $kWrittenWaitSeconds at_least WXR0001 success 2; then pass rotated-logged
    else fail rotated-logged "$(records WXR0001 success) success records of WXR0001"; fi
    check rotated-no-restart test "$(systemctl show -p MainPID --value "$station")" = "$main_pid"
else
    fail rotated "the station never started writing"
fi

# A restart with that unit still plugged in: told as written before, not written again.
systemctl restart "$station"
skipped_again() { [ -r "$log" ] && grep '"serial": *"WXR0001"' "$log" | grep -q 'not yet power-cycled'; }
check restart-told-skipped within $kWrittenWaitSeconds skipped_again
check restart-not-written-twice test "$(records WXR0001 start)" -eq 2 -a "$(records WXR0001 success)" -eq 2
summary=$(stop_usb rotated)
if grep -q "end=yes image=match " <<<"$summary"; then pass rotated-flash; else fail rotated-flash "$summary"; fi
whole_once() { jq -e . "$log.1" "$log" >/dev/null && [ -z "$(cat "$log.1" "$log" | sort | uniq -d)" ]; }
check rotated-records-whole-once whole_once

# A stop part-way through a write: it waits for the write, which ends whole
# and logged, and the station's exit counts as a clean stop.
starts=$(records WXR0000 start)
start_usb mid-write 0 --version 50 --expect "$IMAGE" || fail mid-write "no device"
if within $kWrittenWaitSeconds at_least WXR0000 start $((starts + 1)); then
    check mid-write-not-yet-done test "$(records WXR0000 success)" -eq 1
    systemctl stop "$station"
    check mid-write-logged test "$(records WXR0000 success)" -eq 2
    summary=$(stop_usb mid-write)
    if grep -q "end=yes image=match " <<<"$summary"; then pass mid-write-flash; else fail mid-write-flash "$summary"; fi
    check mid-write-clean-stop test "$(systemctl show -p Result --value "$station")" = success
else
    fail mid-write "the station never started writing"
fi

# A station tied to one port by its configuration (OPTIONS=--device
# LOCATION) starts, writes the unit there and leaves the other alone.
ports_log=/var/log/wxr7305/ports.jsonl
echo "OPTIONS=--device usb-dummy_hcd.1-1/input0" >/etc/wxr7305/ports.conf
systemctl start wxr7305-station@ports.service
check ports-station-active systemctl is-active --quiet wxr7305-station@ports.service
start_usb ports-named 1 --version 50 --expect "$IMAGE" || fail ports-named "no device"
start_usb ports-other 0 --version 50 --expect "$IMAGE" || fail ports-other "no device"
ports_success() { grep '"serial": *"WXR0001"' "$ports_log" 2>/dev/null | grep -q '"success"'; }
check ports-named-logged within $kWrittenWaitSeconds ports_success
check ports-other-not-logged test "$(grep -c '"serial": *"WXR0000"' "$ports_log")" -eq 0
summary=$(stop_usb ports-named)
if grep -q "end=yes image=match " <<<"$summary"; then pass ports-named-flash; else fail ports-named-flash "$summary"; fi
summary=$(stop_usb ports-other)
if grep -q "blocks=0 " <<<"$summary"; then pass ports-other-untouched; else fail ports-other-untouched "$summary"; fi
systemctl stop wxr7305-station@ports.service
finish
