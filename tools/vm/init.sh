#!/bin/busybox sh
# /init of the test virtual machine: loads the HID and USB modules, plugs in
# test devices (USB gadgets behind dummy_hcd, and uhid devices) and runs the
# tool against them through /dev/hidraw*.
# Each check prints "VMTEST <check> PASS" or "VMTEST <check> FAIL: <why>";
# figures print as "BENCH ..."; the host reads them from the serial console
# and counts the checks.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
SCRATCH=/tmp

MODE=test
for word in $(cat /proc/cmdline); do
    case $word in wxr.mode=*) MODE=${word#wxr.mode=} ;; esac
done

pass() { echo "VMTEST $1 PASS"; }
fail() { echo "VMTEST $1 FAIL: $2"; }
finish() { echo "VMTEST DONE"; sync; poweroff -f; }
now() { cut -d' ' -f1 /proc/uptime; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

# expect CHECK FILE PATTERN: the check passes when FILE holds PATTERN.
expect() {
    if grep -q -- "$3" "$2"; then pass "$1"; else fail "$1" "no '$3' in: $(tr '\n' '|' <"$2")"; fi
}
# expect_summary CHECK DEVICE TEXT...: stops the device; passes when its summary holds every TEXT.
expect_summary() {
    local check=$1 summary text
    summary=$(stop_device "$2")
    shift 2
    echo "$summary"
    for text in "$@"; do
        case $summary in
            *"$text"*) ;;
            *) fail "$check" "no '$text' in: $summary"; return ;;
        esac
    done
    pass "$check"
}

. /usb_units.sh

# Bounds. A healthy upgrade takes 3-6 s in this guest; a unit that falls
# silent costs the tool usbcore's 5 s per request until it gives up.
readonly kCliTimeout=90

# run_cli NAME ARGS...: runs ARGS with a hang guard; output in $SCRATCH/NAME.out,
# exit code in $SCRATCH/NAME.code, its time in $SCRATCH/NAME.time.
run_cli() {
    local name=$1 start
    shift
    start=$(now)
    timeout $kCliTimeout "$@" >"$SCRATCH/$name.out" 2>&1
    echo $? >"$SCRATCH/$name.code"
    elapsed "$start" >"$SCRATCH/$name.time"
    now >"$SCRATCH/$name.end"
    sed "s/^/[$name] /" "$SCRATCH/$name.out" | tr '\r' '\n' | grep -v '^\[[a-z0-9-]*\] *$' | tail -n 6
}
expect_code() {
    local code
    code=$(cat "$SCRATCH/$2.code")
    if [ "$code" = "$3" ]; then pass "$1"; else fail "$1" "exit $code, expected $3"; fi
}
time_of() { cat "$SCRATCH/$1.time"; }
# since_fault NAME DEVICE: from the device's fault to the end of run NAME.
since_fault() {
    local at
    at=$(sed -n 's/^.* after [0-9]* sets at \([0-9.]*\) s$/\1/p' "$SCRATCH/$2.log" | head -n 1)
    awk -v a="$at" -v b="$(cat "$SCRATCH/$1.end")" 'BEGIN { printf "%.2f", b - a }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
least() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b ? a : b) }'; }
replay_seconds() { awk '/^bare replay/ { printf "%.2f", $(NF - 3) / 1000 }' "$SCRATCH/$1.out"; }


# start_uhid NAME ARGS...: a uhid device; its node in $SCRATCH/NAME.node.
start_uhid() {
    local name=$1 before node
    shift
    before=$(echo /dev/hidraw*)
    rm -f "$SCRATCH/$name.log"  # its "started" from an earlier run must not count
    uhid-device --name "$name" "$@" >"$SCRATCH/$name.log" 2>&1 &
    echo $! >"$SCRATCH/$name.pid"
    poll_tenths 100 grep -qs "^$name: started" "$SCRATCH/$name.log" || return 1
    new_uhid_node() {
        for node in /dev/hidraw*; do
            case " $before " in *" $node "*) ;; *) echo "$node" >"$SCRATCH/$name.node"; return 0 ;; esac
        done
        return 1
    }
    poll_tenths 100 new_uhid_node
}
# stop_device NAME: USB or uhid, whichever it is; prints its summary.
stop_device() {
    if [ -e "$SCRATCH/$1.unit" ]; then stop_usb "$1"; return; fi
    kill -TERM "$(cat "$SCRATCH/$1.pid")" 2>/dev/null
    poll_tenths 100 grep -qs "^$1: gets=" "$SCRATCH/$1.log"
    # The next start_uhid takes the first node not there before it; the kernel
    # may give this one's name again, so it must be gone first.
    poll_tenths 100 test ! -e "$(node_of "$1")"
    grep "^$1: gets=" "$SCRATCH/$1.log"
}
node_of() { cat "$SCRATCH/$1.node"; }

while read -r module params; do
    insmod "/lib/modules/$module.ko" $params || { fail setup "insmod $module"; finish; }
done </modules

# Units 0-3 for the devices under test, unit 4 for a 22-byte decoy that
# stays plugged in throughout.
usb_units 5 || { fail setup "USB gadgets"; finish; }
start_usb wxr-other 4 --feature-bytes 21 || { fail setup "no decoy"; finish; }
pass setup

if [ "$MODE" = bench ]; then
    . /bench.sh
else
    . /usb_cases.sh
fi
finish
