#!/bin/busybox sh
# /init of the test virtual machine: loads the HID modules, makes uhid
# devices and runs the tool against them through /dev/hidraw*.
# Each case prints "VMTEST <case> PASS" or "VMTEST <case> FAIL: <why>";
# the host reads those lines from the serial console.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp

MODE=test
for word in $(cat /proc/cmdline); do
    case $word in wxr.mode=*) MODE=${word#wxr.mode=} ;; esac
done

pass() { echo "VMTEST $1 PASS"; }
fail() { echo "VMTEST $1 FAIL: $2"; }
finish() { echo "VMTEST DONE"; sync; poweroff -f; }

# Waits up to 10 s (100 x 0.1 s) for a file: a device node or a log line.
wait_for_file() {
    i=0
    while [ ! -e "$1" ]; do
        i=$((i + 1))
        [ $i -gt 100 ] && return 1
        usleep 100000
    done
}
wait_for_line() {
    i=0
    while ! grep -q "$2" "$1" 2>/dev/null; do
        i=$((i + 1))
        [ $i -gt 100 ] && return 1
        usleep 100000
    done
}

# start_device NAME NODE ARGS...: a uhid device whose hidraw node is NODE.
start_device() {
    name=$1 node=$2
    shift 2
    uhid-device --name "$name" "$@" >"/tmp/$name.log" 2>&1 &
    echo $! >"/tmp/$name.pid"
    wait_for_line "/tmp/$name.log" "$name: started" && wait_for_file "$node"
}
# stop_device NAME: ends it (if still running) and prints its summary line.
# It may run in a subshell, where wait cannot reach the device: poll its log.
stop_device() {
    kill -TERM "$(cat "/tmp/$1.pid")" 2>/dev/null
    wait_for_line "/tmp/$1.log" "^$1: gets="
    grep "^$1: gets=" "/tmp/$1.log"
}

# expect CASE FILE PATTERN: the case passes when FILE holds PATTERN.
expect() {
    if grep -q "$3" "$2"; then pass "$1"; else fail "$1" "no '$3' in: $(tr '\n' '|' <"$2")"; fi
}

for module in hid hid-generic uhid; do
    insmod "/lib/modules/$module.ko" || { fail setup "insmod $module"; finish; }
done

start_device wxr-main /dev/hidraw0 --expect /image.bin || { fail setup "no hidraw0"; finish; }
start_device wxr-other /dev/hidraw1 --feature-bytes 21 || { fail setup "no hidraw1"; finish; }
pass setup

if [ "$MODE" = bench ]; then
    . /bench.sh
    finish
fi

# The backend alone: the 21-byte interface answers, the 22-byte one is measured only.
hidraw-bench probe >/tmp/probe.txt 2>&1
cat /tmp/probe.txt
expect probe-main /tmp/probe.txt "^/dev/hidraw0: caps 21 ids 1209:7305 reply 05414200"
expect probe-other /tmp/probe.txt "^/dev/hidraw1: caps 22 ids 1209:7305$"

if [ -x /bin/wxr7305 ]; then
    . /cli_cases.sh
fi

summary=$(stop_device wxr-other)
echo "$summary"
case $summary in
    *"gets=0 sets=0 "*) pass other-untouched ;;
    *) fail other-untouched "$summary" ;;
esac
finish
