# Sourced by /init in bench mode: the cost of one report cycle through the
# kernel over uhid and over USB, and several upgrades each beside a bare
# replay of its operations, alternating, each into a fresh device.
readonly kRounds=3
bench() { "$@" 2>&1 | sed 's/^/BENCH /'; }

start_uhid wxr-main --expect /image.bin || fail bench "no uhid device"
bench hidraw-bench cycle 2000 "$(node_of wxr-main)"
run_cli traced wxr7305 upgrade --trace "$SCRATCH/trace.txt"
bench hidraw-bench pauses "$SCRATCH/trace.txt"
stop_device wxr-main >/dev/null

# usbhid sleeps 50 ms in every open of an otherwise unused node: fewer cycles.
start_usb wxr-main 0 --expect /image.bin || fail bench "no USB device"
bench hidraw-bench cycle 100 "$(node_of wxr-main)"
stop_device wxr-main >/dev/null

# plug TRANSPORT NAME: a fresh device over uhid or on USB unit 0.
plug() { if [ "$1" = uhid ]; then start_uhid "$2" --expect /image.bin; else start_usb "$2" 0 --expect /image.bin; fi; }
round=1
while [ $round -le $kRounds ]; do
    for transport in uhid usb; do
        held=
        [ $transport = usb ] && held=held
        plug $transport wxr-up && run_cli up wxr7305 upgrade
        stop_device wxr-up >/dev/null
        plug $transport wxr-replay && run_cli replay hidraw-bench replay "$SCRATCH/trace.txt" \
            "$(node_of wxr-replay)" $held
        stop_device wxr-replay >/dev/null
        echo "BENCH $transport round $round: upgrade $(time_of up) s (exit $(cat "$SCRATCH/up.code"))," \
            "bare replay ${held:+one open held, }$(time_of replay) s: $(ratio "$(time_of up)" "$(time_of replay)")x"
    done
    round=$((round + 1))
done
