# Sourced by /init when the guest holds wxr7305: the command line against
# the uhid devices (wxr-main on /dev/hidraw0, wxr-other on /dev/hidraw1).

# run_cli NAME ARGS...: runs wxr7305 with a hang guard; output in /tmp/NAME.out,
# exit code in /tmp/NAME.code.
readonly kCliTimeout=60
run_cli() {
    name=$1
    shift
    timeout $kCliTimeout "$@" >"/tmp/$name.out" 2>&1
    echo $? >"/tmp/$name.code"
    sed "s/^/[$name] /" "/tmp/$name.out" | tr '\r' '\n' | grep -v '^\[[a-z-]*\] *$' | tail -n 8
}
expect_code() {
    code=$(cat "/tmp/$2.code")
    if [ "$code" = "$3" ]; then pass "$1"; else fail "$1" "exit $code, expected $3"; fi
}

run_cli list wxr7305 list
expect list /tmp/list.out "^/dev/hidraw0  version 57 "
expect_code list-exit list 0
if grep -q hidraw1 /tmp/list.out; then fail list-other "hidraw1 listed"; else pass list-other; fi

# A user without access to any node is told why nothing was found.
run_cli list-user hidraw-bench as-user 1000 /bin/wxr7305 list
expect list-user-why /tmp/list-user.out "2 HID interfaces were found but could not be opened: permission denied"
expect_code list-user-exit list-user 2
run_cli upgrade-user hidraw-bench as-user 1000 /bin/wxr7305 upgrade
expect upgrade-user-why /tmp/upgrade-user.out "could not be opened: permission denied"
expect_code upgrade-user-exit upgrade-user 2

run_cli udev-rule wxr7305 udev-rule
expect udev-rule /tmp/udev-rule.out '^KERNEL=="hidraw\*", ATTRS{idVendor}=="1209", ATTRS{idProduct}=="7305", TAG+="uaccess"$'

run_cli upgrade wxr7305 upgrade
expect upgrade /tmp/upgrade.out "Firmware upgrade successful."
expect_code upgrade-exit upgrade 0
summary=$(stop_device wxr-main)
echo "$summary"
case $summary in
    *"end=yes image=match "*) pass upgrade-flash ;;
    *) fail upgrade-flash "$summary" ;;
esac

# Unplugged part-way through the second block: the upgrade fails promptly.
start_device wxr-gone /dev/hidraw0 --expect /image.bin --unplug-after-sets 200 || fail unplug "no device"
start=$(cut -d' ' -f1 /proc/uptime)
run_cli unplug wxr7305 upgrade
end=$(cut -d' ' -f1 /proc/uptime)
echo "unplugged upgrade ended after $(echo "$end - $start" | bc) s"
expect unplug /tmp/unplug.out "Upgrade fail !!"
expect_code unplug-exit unplug 4
stop_device wxr-gone

# A bench of four units: upgrade --all writes every one side by side.
nodes="/dev/hidraw0 /dev/hidraw2 /dev/hidraw3 /dev/hidraw4"
unit=0
for node in $nodes; do
    start_device "wxr-unit$unit" "$node" --expect /image.bin || fail all-setup "no $node"
    unit=$((unit + 1))
done
run_cli all wxr7305 upgrade --all
expect all /tmp/all.out "^4 devices: 4 succeeded, 0 failed, 0 refused, 0 skipped"
expect_code all-exit all 0
for unit in 0 1 2 3; do
    summary=$(stop_device "wxr-unit$unit")
    echo "$summary"
    case $summary in
        *"end=yes image=match "*) pass "all-flash-$unit" ;;
        *) fail "all-flash-$unit" "$summary" ;;
    esac
done
