# Sourced by /init in bench mode: the cost of one report cycle through the
# kernel over uhid and over USB, and a whole upgrade's time beside the
# protocol's own pauses. (The test mode prints each upgrade beside its bare replay.)
bench() { "$@" 2>&1 | sed 's/^/BENCH /'; }

start_uhid wxr-main --expect /image.bin || fail bench "no uhid device"
bench hidraw-bench cycle 2000 "$(node_of wxr-main)"
bench hidraw-bench timed /bin/wxr7305 upgrade --trace /tmp/trace.txt
bench hidraw-bench pauses /tmp/trace.txt
stop_device wxr-main >/dev/null

# usbhid sleeps 50 ms in every open of an otherwise unused node: fewer cycles.
start_usb wxr-main 0 --expect /image.bin || fail bench "no USB device"
bench hidraw-bench cycle 100 "$(node_of wxr-main)"
bench hidraw-bench timed /bin/wxr7305 upgrade
stop_device wxr-main >/dev/null
