# Sourced by the guests' case scripts (busybox sh and bash alike): USB units
# made of one gadget per dummy_hcd controller, each with one FunctionFS
# function served by usb-device. Files go to $SCRATCH (NAME.log, .pid, .node).
#   usb_units N               makes units 0..N-1 (dummy_hcd loaded with num=N)
#   start_usb NAME UNIT ARGS  plugs usb-device into UNIT; waits for its hidraw node
#   stop_usb NAME             unplugs it; prints its summary line
GADGETS=/sys/kernel/config/usb_gadget
FFS_ROOT=/dev/ffs
# A unit unplugged, then plugged in again, takes seconds to leave and come back
# on a TCG guest that shares a loaded host: 30 s, not 10.
kUnitWaitTenths=300

# poll_tenths N COMMAND...: tries COMMAND every 0.1 s, at most N times.
poll_tenths() {
    local tries=$1
    shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.1
    done
}

usb_units() {
    local unit=0 g
    grep -q " /sys/kernel/config " /proc/mounts || mount -t configfs configfs /sys/kernel/config || return 1
    while [ $unit -lt "$1" ]; do
        g=$GADGETS/unit$unit
        mkdir -p "$g" && mkdir -p "$g/strings/0x409" "$g/configs/c.1/strings/0x409" \
            "$g/functions/ffs.unit$unit" || return 1
        echo 0x1209 >"$g/idVendor"
        echo 0x7305 >"$g/idProduct"
        echo 0x0100 >"$g/bcdDevice"
        echo 0x0200 >"$g/bcdUSB"
        echo "wxr test bench" >"$g/strings/0x409/manufacturer"
        echo "unit $unit" >"$g/strings/0x409/product"
        echo "WXR000$unit" >"$g/strings/0x409/serialnumber"
        echo "hid" >"$g/configs/c.1/strings/0x409/configuration"
        ln -s "$g/functions/ffs.unit$unit" "$g/configs/c.1/" || return 1
        mkdir -p "$FFS_ROOT/unit$unit"
        mount -t functionfs "unit$unit" "$FFS_ROOT/unit$unit" || return 1
        unit=$((unit + 1))
    done
}

# unit_node UNIT: the hidraw node of the device on that unit's controller.
unit_node() {
    local h
    for h in /sys/class/hidraw/hidraw*; do
        case $(readlink -f "$h/device") in
            */dummy_hcd.$1/*) [ -e "/dev/${h##*/}" ] && echo "/dev/${h##*/}" && return 0 ;;
        esac
    done
    return 1
}
unit_has_node() { unit_node "$1" >/dev/null; }
unit_free() { ! unit_has_node "$1" && [ -z "$(cat "$GADGETS/unit$1/UDC")" ]; }

# A unit that enumerates badly (a lost control transfer under TCG) gets one
# more plug-in before its case fails.
kPlugAttempts=2

# usb_trouble UNIT WHY: says why a unit did not come up, with the kernel's last words.
usb_trouble() {
    echo "usb unit $1: $2 (UDC '$(cat "$GADGETS/unit$1/UDC" 2>/dev/null)')"
    dmesg | tail -n 8 | sed 's/^/  dmesg: /'
}

# plug_usb NAME UNIT ARGS: one attempt; prints what failed.
plug_usb() {
    local name=$1 unit=$2
    shift 2
    # A name used before left "ready" in its log: gone before the device starts,
    # or the wait below could read the old word before the new device is up.
    rm -f "$SCRATCH/$name.log"
    usb-device --ffs "$FFS_ROOT/unit$unit" --name "$name" "$@" >"$SCRATCH/$name.log" 2>&1 &
    echo $! >"$SCRATCH/$name.pid"
    echo "$unit" >"$SCRATCH/$name.unit"
    poll_tenths $kUnitWaitTenths grep -qs "^$name: ready" "$SCRATCH/$name.log" || { echo "not ready"; return 1; }
    echo "dummy_udc.$unit" >"$GADGETS/unit$unit/UDC" || { echo "bind refused"; return 1; }
    poll_tenths $kUnitWaitTenths unit_has_node "$unit" || { echo "no hidraw node"; return 1; }
    unit_node "$unit" >"$SCRATCH/$name.node"
}

start_usb() {
    local name=$1 unit=$2 attempt=1 why
    poll_tenths $kUnitWaitTenths unit_free "$unit" || { usb_trouble "$unit" "still taken"; return 1; }
    while ! why=$(plug_usb "$@"); do
        usb_trouble "$unit" "$why on attempt $attempt"
        kill -TERM "$(cat "$SCRATCH/$name.pid")" 2>/dev/null
        echo "" >"$GADGETS/unit$unit/UDC" 2>/dev/null
        poll_tenths $kUnitWaitTenths unit_free "$unit" || return 1
        attempt=$((attempt + 1))
        [ $attempt -le $kPlugAttempts ] || return 1
    done
}

stop_usb() {
    kill -TERM "$(cat "$SCRATCH/$1.pid")" 2>/dev/null
    # Often in a subshell, where wait cannot reach the device: poll its log.
    poll_tenths 100 grep -qs "^$1: gets=" "$SCRATCH/$1.log"
    poll_tenths 100 unit_free "$(cat "$SCRATCH/$1.unit")"
    grep "^$1: gets=" "$SCRATCH/$1.log"
}
