# Sourced by /init in test mode: the command line against USB units (the
# kernel's usbcore/usbhid path of a real unit), plus what only uhid can
# give: a second kernel path to compare the upgrade's cost with.
# The decoy wxr-other (22-byte feature report) sits on unit 4 throughout.

# The model byte sits 4 bytes after the info block's marker 0C 12 03 05.
image_model() {
    local hex
    hex=$(od -An -tx1 -v /image.bin | tr -s ' \n' '\n\n' | awk '
        NF { n++; byte[n] = $1 }
        NF && !at && n >= 4 && byte[n-3] byte[n-2] byte[n-1] $1 == "0c120305" { at = n + 1 }
        at && n == at { print $1; exit }')
    echo $((0x$hex))
}

# --- what uhid shows: the same upgrade without usbhid, and its bare replay ---
start_uhid wxr-uhid --expect /image.bin || fail uhid "no device"
run_cli uhid-traced wxr7305 upgrade --trace "$SCRATCH/trace.txt"
expect_code uhid-traced-exit uhid-traced 0
expect_summary uhid-flash wxr-uhid "end=yes image=match "
start_uhid wxr-uhid --expect /image.bin || fail uhid "no device"
run_cli uhid-upgrade wxr7305 upgrade
expect_code uhid-upgrade-exit uhid-upgrade 0
stop_device wxr-uhid >/dev/null
start_uhid wxr-uhid --expect /image.bin || fail uhid "no device"
run_cli uhid-replay hidraw-bench replay "$SCRATCH/trace.txt" "$(node_of wxr-uhid)"
expect_summary uhid-replay-flash wxr-uhid "end=yes image=match "
echo "BENCH uhid: upgrade $(time_of uhid-upgrade) s, bare replay $(time_of uhid-replay) s" \
    "(opens and closes as traced; $(replay_seconds uhid-replay) s from its first operation):" \
    "$(ratio "$(time_of uhid-upgrade)" "$(time_of uhid-replay)")x"

# --- one USB unit ---
start_usb wxr-main 0 --expect /image.bin || fail main "no device on unit 0"
main=$(node_of wxr-main)
other=$(node_of wxr-other)

# The backend alone: the 21-byte interface answers, the 22-byte one is measured only.
hidraw-bench probe >"$SCRATCH/probe.txt" 2>&1
cat "$SCRATCH/probe.txt"
expect probe-main "$SCRATCH/probe.txt" "^$main: caps 21 ids 1209:7305 reply 05414200"
expect probe-other "$SCRATCH/probe.txt" "^$other: caps 22 ids 1209:7305$"

# The USB device itself: it answers any length the host asks for, shows the
# lengths it saw, stalls on a report it does not have, and keeps a busy flag
# up for the reads asked for.
start_usb wxr-self 1 --busy-reads 2 || fail device-self "no device on unit 1"
self=$(node_of wxr-self)
for request in "set 32 5" "get 21 5" "get 21 5" "get 64 5" "set 21 6"; do
    hidraw-bench raw "$self" $request
done >"$SCRATCH/self.out" 2>&1
cat "$SCRATCH/self.out"
expect device-set-32 "$SCRATCH/self.out" "^set 32: 32 bytes"
if [ "$(grep -c '^get 21: 21 bytes 0580' "$SCRATCH/self.out")" = 2 ]; then pass device-busy; else
    fail device-busy "$(tr '\n' '|' <"$SCRATCH/self.out")"
fi
expect device-get-64 "$SCRATCH/self.out" "^get 64: 21 bytes 054142"
expect device-stall "$SCRATCH/self.out" "^set 21: Broken pipe"
expect_summary device-summary wxr-self "sets=1 " "set-lengths=32 get-lengths=21,64 refused=1 "

run_cli list wxr7305 list
expect list "$SCRATCH/list.out" "^$main  version 57 "
# The kernel's own strings, asked of the open node: the port and the serial number.
expect list-strings "$SCRATCH/list.out" "^$main  version 57 .*  at usb-dummy_hcd\.0-[0-9.]*/input0  serial WXR0000$"
expect_code list-exit list 0
if grep -q "$other" "$SCRATCH/list.out"; then fail list-other "$other listed"; else pass list-other; fi

# A user without access to any node is told why nothing was found.
run_cli list-user hidraw-bench as-user 1000 /bin/wxr7305 list
expect list-user-why "$SCRATCH/list-user.out" \
    "2 HID interfaces were found but could not be opened: permission denied"
expect_code list-user-exit list-user 2
run_cli upgrade-user hidraw-bench as-user 1000 /bin/wxr7305 upgrade
expect upgrade-user-why "$SCRATCH/upgrade-user.out" "could not be opened: permission denied"
expect_code upgrade-user-exit upgrade-user 2

run_cli udev-rule wxr7305 udev-rule
expect udev-rule "$SCRATCH/udev-rule.out" \
    '^KERNEL=="hidraw\*", ATTRS{idVendor}=="1209", ATTRS{idProduct}=="7305", TAG+="uaccess"$'

# Every request on the wire is exactly the interface's 21 bytes.
run_cli upgrade wxr7305 upgrade
expect upgrade "$SCRATCH/upgrade.out" "Firmware upgrade successful."
expect_code upgrade-exit upgrade 0
expect_summary upgrade-flash wxr-main "end=yes image=match " "set-lengths=21 get-lengths=21 refused=0"
grep "^wxr-main: gets=" "$SCRATCH/wxr-main.log" >"$SCRATCH/healthy.summary"

# The same operations bare, on a node held open (usbhid's open costs 50 ms),
# alternating with a second upgrade: the best of each is compared, as the
# host's load only ever adds to either.
start_usb wxr-replay 0 --expect /image.bin || fail replay "no device"
run_cli usb-replay hidraw-bench replay "$SCRATCH/trace.txt" "$(node_of wxr-replay)" held
expect_summary usb-replay-flash wxr-replay "end=yes image=match "
start_usb wxr-again 0 --expect /image.bin || fail upgrade-again "no device"
run_cli upgrade-again wxr7305 upgrade
expect_summary upgrade-again-flash wxr-again "end=yes image=match "
start_usb wxr-replay 0 --expect /image.bin || fail replay "no device"
run_cli usb-replay-again hidraw-bench replay "$SCRATCH/trace.txt" "$(node_of wxr-replay)" held
stop_device wxr-replay >/dev/null
upgrade_best=$(least "$(time_of upgrade)" "$(time_of upgrade-again)")
replay_best=$(least "$(time_of usb-replay)" "$(time_of usb-replay-again)")
echo "BENCH usb: upgrade $(time_of upgrade) and $(time_of upgrade-again) s," \
    "bare replay $(time_of usb-replay) and $(time_of usb-replay-again) s (one open held;" \
    "$(replay_seconds usb-replay) s from its first operation): best to best $(ratio "$upgrade_best" "$replay_best")x"

# A failed block check (block 1, once: the block is resent) and a refused
# block report (block 2, twice: the report is repeated); the upgrade succeeds.
start_usb wxr-faults 0 --expect /image.bin --fail-block-check 1:1 --refuse-block-report 2:2 \
    || fail faults "no device"
run_cli faults wxr7305 upgrade
expect faults "$SCRATCH/faults.out" "Firmware upgrade successful."
expect_code faults-exit faults 0
checks=$(grep -o 'checks=[0-9]*' "$SCRATCH/healthy.summary" | cut -d= -f2)
reports=$(grep -o 'block-reports=[0-9]*' "$SCRATCH/healthy.summary" | cut -d= -f2)
expect_summary faults-counts wxr-faults "end=yes image=match unplugged=no" \
    "checks=$((checks + 1)) block-reports=$((reports + 2))"

# Another model: nothing written; found only with --shift, then refused.
start_usb wxr-model 0 --expect /image.bin --model $(( ($(image_model) + 1) % 40 )) \
    || fail model "no device"
run_cli model wxr7305 upgrade
expect_code model-exit model 2
run_cli model-shift wxr7305 upgrade --shift
expect_code model-shift-exit model-shift 3
expect_summary model-nothing-written wxr-model "blocks=0 end=no image=differs"

# Two programs of two users on one unit: while root's upgrade writes it,
# another user's list says it is in use and that user's upgrade is refused;
# the unit is written once, whole. (The node is opened to all for this.)
# The list and the second upgrade each wait 2 s for the claim, so they run
# side by side, against a unit busy enough (4 busy reads of 5 a poll) that
# the first write outlasts both waits.
start_usb wxr-shared 0 --expect /image.bin --busy-reads 4 || fail shared "no device"
shared=$(node_of wxr-shared)
chmod 0666 "$shared"
run_cli shared-first wxr7305 upgrade --device "$shared" &
first=$!
poll_tenths 300 grep -qs "progress" "$SCRATCH/shared-first.out" || fail shared-writing "no progress"
run_cli shared-list hidraw-bench as-user 1000 /bin/wxr7305 list &
listing=$!
run_cli shared-second hidraw-bench as-user 1000 /bin/wxr7305 upgrade --device "$shared"
wait $listing
wait $first
expect shared-list-why "$SCRATCH/shared-list.out" "1 HID interface is in use by another program"
expect shared-second-why "$SCRATCH/shared-second.out" "in use by another program"
expect_code shared-second-exit shared-second 4
expect_code shared-first-exit shared-first 0
blocks=$(grep -o 'blocks=[0-9]*' "$SCRATCH/healthy.summary")
expect_summary shared-written-once wxr-shared "end=yes image=match " "$blocks "

# Failing part-way through the second block (set 200): unplugged, stalling,
# falling silent. Each ends in "Upgrade fail !!", exit 4, in bounded time.
for fault in unplug stall silent; do
    start_usb "wxr-$fault" 0 --expect /image.bin "--$fault-after-sets" 200 || fail "$fault" "no device"
    run_cli "$fault" wxr7305 upgrade
    echo "BENCH usb: $fault part-way (set 200), the upgrade ends $(since_fault "$fault" "wxr-$fault") s" \
        "after the fault ($(time_of "$fault") s in all)"
    expect "$fault" "$SCRATCH/$fault.out" "Upgrade fail !!"
    expect_code "$fault-exit" "$fault" 4
    stop_device "wxr-$fault" >/dev/null
done

# A bench of four units: upgrade --all writes every one side by side; then
# again with unit 2 unplugged part-way: the other three still succeed.
for round in all all-unplug; do
    for unit in 0 1 2 3; do
        fault=
        [ $round = all-unplug ] && [ $unit = 2 ] && fault="--unplug-after-sets 300"
        start_usb "wxr-unit$unit" $unit --expect /image.bin $fault || fail "$round-setup" "no unit $unit"
    done
    run_cli $round wxr7305 upgrade --all
    echo "BENCH usb: upgrade --all over four units ($round) $(time_of $round) s"
    for unit in 0 1 2 3; do
        if [ $round = all-unplug ] && [ $unit = 2 ]; then
            expect_summary "$round-flash-$unit" "wxr-unit$unit" "unplugged=yes"
        else
            expect_summary "$round-flash-$unit" "wxr-unit$unit" "end=yes image=match "
        fi
    done
done
expect all "$SCRATCH/all.out" "^4 units: 4 written (4 visits)"
expect_code all-exit all 0
expect all-unplug "$SCRATCH/all-unplug.out" "^4 units: 3 written, 1 failed (4 visits)"
expect_code all-unplug-exit all-unplug 4

expect_summary other-untouched wxr-other "gets=0 sets=0 "
