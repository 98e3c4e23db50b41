#!/bin/bash
# Runs inside the wine guest, chrooted into the host's root: USB units,
# udevd, and the Windows programs under wine against them.
#   wine_vm_cases.sh SHARE   SHARE holds params (what to run, where things are)
# Prints "VMTEST <case> PASS|FAIL: <why>" and "BENCH <what> <seconds> s".
set -u
share=$1
source "$share/params"
# The host's /tmp shows through the overlay: the cases' own files go elsewhere.
SCRATCH=/run/wxr
mkdir -p "$SCRATCH"
source "$REPO/tools/vm/usb_units.sh"
export WINEPREFIX=$WINE_PREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export PATH=$PROGRAMS:$PATH
wine=$(command -v wine64 || command -v wine)
cli=$BUILD/app/cli/wxr7305.exe
tool=$BUILD/app/win32/WXR7305_Upgrade_Tool.exe
driver=$BUILD/tests/windows/gui_driver.exe
replay=$BUILD/tests/windows/hid_replay.exe
caption='ZQ-HLKD4/700-ZQ315 upgrade tool'
success_text=$'Firmware upgrade successful.\nPlease turn off the device. Then turn on again.'

# Bounds. A wine upgrade took 11-20 s in this guest on an idle host; the
# host may be loaded several times over. Wine's driver process takes a new
# hidraw node within 0.6-2.3 s.
readonly kRunSeconds=180
readonly kHoldTenths=300
readonly kBoxMs=180000
readonly kWindowMs=120000

pass() { echo "VMTEST $1 PASS"; }
fail() { echo "VMTEST $1 FAIL: $2"; }
now() { cut -d' ' -f1 /proc/uptime; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
expect() {
    if grep -q -- "$3" "$2"; then pass "$1"; else fail "$1" "no '$3' in: $(tr '\n' '|' <"$2")"; fi
}
expect_eq() { if [ "$2" = "$3" ]; then pass "$1"; else fail "$1" "got '$2', expected '$3'"; fi; }

# wait_tenths N COMMAND...: polls COMMAND every 0.1 s, at most N times.
wait_tenths() {
    local n=$1 i
    shift
    for ((i = 0; i < n; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Wine's driver process holds the node open once it has taken the device.
# One find per process: a readlink process per descriptor made a stop take 7-15 s.
wine_holds() {
    local pid
    for pid in $(pgrep -f winedevice); do
        [ -n "$(find "/proc/$pid/fd" -lname "$1" -print -quit 2>/dev/null)" ] && return 0
    done
    return 1
}
not() { ! "$@"; }

# start_device NAME UNIT ARGS...: a device that wine has taken, a USB unit or
# (TRANSPORT=uhid) a uhid device; its node in $SCRATCH/NAME.node.
start_device() {
    if [ "$TRANSPORT" = usb ]; then
        start_usb "$@" || return 1
    else
        start_uhid "$@" || return 1
    fi
    wait_tenths $kHoldTenths wine_holds "$(cat "$SCRATCH/$1.node")" || return 1
    sleep 1  # wine lists the device a moment after opening it
}
start_uhid() {
    local name=$1 before node
    shift 2
    before=$(ls /dev/hidraw* 2>/dev/null)
    rm -f "$SCRATCH/$name.log"  # its "started" from an earlier run must not count
    uhid-device --name "$name" "$@" >"$SCRATCH/$name.log" 2>&1 &
    echo $! >"$SCRATCH/$name.pid"
    wait_tenths 100 grep -qs "$name: started" "$SCRATCH/$name.log" || return 1
    new_node() { node=$(ls /dev/hidraw* 2>/dev/null | grep -vxF "$before" | head -n 1); [ -n "$node" ]; }
    wait_tenths 100 new_node || return 1
    echo "$node" >"$SCRATCH/$name.node"
}
# stop_device NAME: unplugs it, waits until wine let go, prints its summary.
# One at a time: wine 8 may keep one of two nodes that vanish together.
stop_device() {
    local node
    node=$(cat "$SCRATCH/$1.node")
    if [ "$TRANSPORT" = usb ]; then
        stop_usb "$1" >"$SCRATCH/$1.summary"
    else
        kill -TERM "$(cat "$SCRATCH/$1.pid")" 2>/dev/null
        # Often in a subshell, where wait cannot reach the device: poll its log.
        wait_tenths 100 grep -qs "^$1: gets=" "$SCRATCH/$1.log"
        grep "^$1: gets=" "$SCRATCH/$1.log" >"$SCRATCH/$1.summary"
    fi
    wait_tenths $kHoldTenths not wine_holds "$node"
    cat "$SCRATCH/$1.summary"
}

# expect_summary CHECK DEVICE TEXT...: stops the device; passes when its summary holds every TEXT.
expect_summary() {
    local check=$1 summary text
    summary=$(stop_device "$2")
    echo "$summary"
    shift 2
    for text in "$@"; do
        case $summary in
            *"$text"*) ;;
            *) fail "$check" "no '$text' in: $summary"; return ;;
        esac
    done
    pass "$check"
}
# since_fault DEVICE: seconds from the device's fault to now.
since_fault() {
    local at
    at=$(sed -n 's/^.* after [0-9]* sets at \([0-9.]*\) s$/\1/p' "$SCRATCH/$1.log" | head -n 1)
    awk -v a="$at" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'
}

# run_win NAME PROGRAM ARGS...: output (LF line ends) in $SCRATCH/NAME.out, code in $SCRATCH/NAME.code.
run_win() {
    local name=$1
    shift
    timeout $kRunSeconds "$wine" "$@" </dev/null 2>&1 | tr -d '\r' >"$SCRATCH/$name.out"
    echo "${PIPESTATUS[0]}" >"$SCRATCH/$name.code"
    tr '\r' '\n' <"$SCRATCH/$name.out" | sed "s/^/[$name] /" | grep -v '^\[[a-z-]*\] *$' | tail -n 6
}
expect_code() { expect_eq "$1" "$(cat "$SCRATCH/$2.code")" "$3"; }

# usbhid's open routine sleeps 50 ms whenever a unit's node goes from nobody
# holding it to open. Wine's driver process opens the node once when the unit
# arrives and holds it until it leaves, as Windows' HID class driver keeps a
# started device, so the program's CreateFileW and CloseHandle around each
# report never reach it. The kernel's function tracer counts those opens.
TRACING=/sys/kernel/tracing
count_opens_from_now() {
    grep -qs " $TRACING " /proc/mounts || mount -t tracefs tracefs $TRACING || return 1
    echo usbhid_open >$TRACING/set_ftrace_filter && echo function >$TRACING/current_tracer \
        && : >$TRACING/trace
}
opens_counted() {
    local n
    n=$(grep -c ' usbhid_open <-' $TRACING/trace)
    echo nop >$TRACING/current_tracer
    echo "$n"
}

start_services() {
    # Unit 0 for the device under test, unit 1 for the decoy (dummy_hcd num=2).
    if [ "$TRANSPORT" = usb ]; then usb_units 2 || fail usb-units "no gadgets"; fi
    /lib/systemd/systemd-udevd --daemon
    udevadm trigger --action=add --subsystem-match=misc --subsystem-match=hid --subsystem-match=hidraw
    udevadm settle --timeout=30
    local start
    start=$(now)
    wineserver -p
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1
    echo "BENCH wine-first-session $(elapsed "$start") s"
}

# The model byte sits 4 bytes after the info block's marker 0C 12 03 05.
model_of() { od -An -tx1 -v "$1" | tr -d ' \n' | grep -ob '0c120305' | head -n 1 | cut -d: -f1; }
image_model() { local at; at=$(model_of "$1"); echo $((16#$(od -An -tx1 -j $((at / 2 + 4)) -N1 "$1" | tr -d ' '))); }
# other_model_file OUT: the image with another model byte.
other_model_file() {
    local at model
    at=$(($(model_of "$IMAGE") / 2 + 4))
    model=$(( ($(image_model "$IMAGE") + 1) % 40 ))
    cp "$IMAGE" "$1"
    printf "\\x$(printf %02x $model)" | dd of="$1" bs=1 seek=$at conv=notrunc status=none
    echo $model
}

# The upgrade by the native Linux build, for comparison; its trace is the
# operation list for the bare replay. Before the wine upgrade, so that the
# replay can follow that closely: on a shared host the load changes by the minute.
native_upgrade() {
    local start
    start_device wxr-native 0 --expect "$IMAGE" || { fail native "no device"; return; }
    start=$(now)
    timeout $kRunSeconds wxr7305 upgrade --trace $SCRATCH/trace.txt >$SCRATCH/native.out 2>&1
    echo "BENCH native-upgrade (traced) $(elapsed "$start") s"
    expect native $SCRATCH/native.out "Firmware upgrade successful."
    expect_summary native-flash wxr-native "end=yes image=match "
}
# bare_replay UPGRADE_SECONDS: those operations bare through HidD, in the same wine session.
bare_replay() {
    local start replay_seconds
    start_device wxr-replay 0 --expect "$IMAGE" || { fail replay "no device"; return; }
    start=$(now)
    run_win replay "$replay" 'Z:\run\wxr\trace.txt'
    expect_code replay-exit replay 0
    replay_seconds=$(elapsed "$start")
    echo "BENCH wine-bare-replay $replay_seconds s"
    echo "BENCH wine-upgrade-vs-bare-replay" \
        "$(awk -v a="$1" -v b="$replay_seconds" 'BEGIN { printf "%.2f", a / b }')x"
    expect_summary replay-flash wxr-replay "end=yes image=match "
}

cli_cases() {
    start_device wxr-other 1 --feature-bytes 21 || { fail devices "wxr-other"; return; }
    [ "$BENCH" = 1 ] && native_upgrade
    start_device wxr-main 0 --expect "$IMAGE" || { fail devices "wxr-main"; return; }
    pass devices

    run_win list "$cli" list
    expect_eq list "$(grep -c '  version ' $SCRATCH/list.out)" 1
    expect list-main $SCRATCH/list.out "version 57 "
    expect_code list-exit list 0

    local start traced=no
    if [ "$TRANSPORT" = usb ]; then
        count_opens_from_now && traced=yes || fail upgrade-usbhid-opens "no function tracer"
    fi
    start=$(now)
    run_win upgrade "$cli" upgrade
    local upgrade_seconds
    upgrade_seconds=$(elapsed "$start")
    echo "BENCH wine-upgrade $upgrade_seconds s"
    expect upgrade $SCRATCH/upgrade.out "Firmware upgrade successful."
    expect_code upgrade-exit upgrade 0
    [ $traced = yes ] && expect_eq upgrade-usbhid-opens "$(opens_counted)" 0
    # uhid does not pass on the length of a read; USB does.
    local lengths="set-lengths=21 get-lengths=21 "
    [ "$TRANSPORT" = usb ] || lengths="set-lengths=21 "
    expect_summary upgrade-flash wxr-main "end=yes image=match " "$lengths"
    grep "^wxr-main: gets=" $SCRATCH/wxr-main.log >$SCRATCH/healthy.summary

    [ "$BENCH" = 1 ] && bare_replay "$upgrade_seconds"

    # A failed block check (block 1, once) and a refused block report
    # (block 2, twice): resent and repeated, and the upgrade still succeeds.
    start_device wxr-faults 0 --expect "$IMAGE" --fail-block-check 1:1 --refuse-block-report 2:2 \
        || fail faults "no device"
    run_win faults "$cli" upgrade
    expect faults $SCRATCH/faults.out "Firmware upgrade successful."
    expect_code faults-exit faults 0
    # Beside the healthy run's counts: one more block check, two more block reports.
    local checks reports
    checks=$(grep -o 'checks=[0-9]*' $SCRATCH/healthy.summary | cut -d= -f2)
    reports=$(grep -o 'block-reports=[0-9]*' $SCRATCH/healthy.summary | cut -d= -f2)
    expect_summary faults-counts wxr-faults \
        "end=yes image=match unplugged=no checks=$((checks + 1)) block-reports=$((reports + 2))"

    # Another model: nothing written; found only with --shift, then refused.
    local other=$(( ($(image_model "$IMAGE") + 1) % 40 ))
    start_device wxr-model 0 --expect "$IMAGE" --model $other || fail model "no device"
    run_win model "$cli" upgrade
    expect_code model-exit model 2
    run_win model-shift "$cli" upgrade --shift
    expect_code model-shift-exit model-shift 3
    expect_summary model-nothing-written wxr-model "blocks=0 end=no image=differs"

    # Unplugged part-way through the second block: fails, in bounded time.
    start_device wxr-gone 0 --expect "$IMAGE" --unplug-after-sets 200 || fail unplug "no device"
    start=$(now)
    run_win unplug "$cli" upgrade
    echo "BENCH wine-unplugged-upgrade-ends $(elapsed "$start") s, $(since_fault wxr-gone) s after the unplug"
    expect unplug $SCRATCH/unplug.out "Upgrade fail !!"
    expect_code unplug-exit unplug 4
    stop_device wxr-gone >/dev/null

    expect_summary other-untouched wxr-other "gets=0 sets=0 "
    [ "$TRANSPORT" = usb ] && two_unit_cases
}

# json_field FIELD: the field's text on each JSON line of stdin, unescaped; "" for null.
json_field() { sed -n "s/.*\"$1\":\(null\|\"\(\([^\"\\\\]\|\\\\.\)*\)\"\).*/\2/p" | sed 's/\\\\/\\/g'; }
# expect_lines CHECK FILE FIELD VALUE...: the field's values on FILE's result
# records (a log's start records repeat them), in any order.
expect_lines() {
    local check=$1 file=$2 field=$3 got want
    shift 3
    got=$(grep -v '"record":"start"' "$file" | json_field "$field" | sort | tr '\n' '|')
    want=$(printf '%s\n' "$@" | sort | tr '\n' '|')
    expect_eq "$check" "$got" "$want"
}

# Two USB units, the second without a serial number: where each is attached
# and its serial (none for the second) as wine's SetupAPI and HID class give
# them; upgrade --all logs both; a second program is refused a unit the
# first is writing; --device LOCATION writes that unit alone.
two_unit_cases() {
    echo "" >/sys/kernel/config/usb_gadget/unit1/strings/0x409/serialnumber
    start_device wxr-serial 0 --expect "$IMAGE" || { fail two-units "wxr-serial"; return; }
    # Busy enough (4 busy reads of 5 a poll) that its write outlasts the
    # second program's 2 s wait for its claim.
    start_device wxr-plain 1 --expect "$IMAGE" --busy-reads 4 || { fail two-units "wxr-plain"; return; }
    run_win list-json "$cli" list --json
    local serial_at plain_at
    serial_at=$(grep '"serial":"WXR0000"' $SCRATCH/list-json.out | json_field location)
    plain_at=$(grep '"serial":null' $SCRATCH/list-json.out | json_field location)
    expect_lines list-json-serials $SCRATCH/list-json.out serial WXR0000 ""
    if [ -n "$serial_at" ] && [ -n "$plain_at" ] && [ "$serial_at" != "$plain_at" ]; then
        pass list-json-locations
    else
        fail list-json-locations "'$serial_at' and '$plain_at'"
    fi

    # Not through run_win: its output must reach the file line by line.
    (timeout $kRunSeconds "$wine" "$cli" upgrade --all --log 'Z:\run\wxr\all.log' </dev/null \
         >$SCRATCH/all.out 2>&1
     echo $? >$SCRATCH/all.code) &
    local first=$!
    wait_tenths $kHoldTenths grep -qs progress $SCRATCH/all.out || fail all-writing "no progress"
    run_win lock-second "$cli" upgrade --device "$plain_at"
    wait $first
    expect lock-second-why $SCRATCH/lock-second.out "in use by another program"
    expect_code lock-second-exit lock-second 4
    expect_code all-exit all 0
    expect_lines all-log-locations $SCRATCH/all.log location "$serial_at" "$plain_at"
    expect_lines all-log-serials $SCRATCH/all.log serial WXR0000 ""

    run_win device "$cli" upgrade --device "$serial_at" --log 'Z:\run\wxr\device.log'
    expect_code device-exit device 0
    expect_lines device-log $SCRATCH/device.log location "$serial_at"
    # Written twice, and once: --device left the other alone.
    expect_summary serial-flash wxr-serial "blocks=44 end=yes image=match "
    expect_summary plain-flash wxr-plain "blocks=22 end=yes image=match "
}

# --- the dialog ---
# drive STEP CAPTION ARGS... [+ STEP ...]: the driver's steps in one run (each
# start of a Windows program costs seconds here); its status, not tr's.
drive() {
    timeout $kRunSeconds "$wine" "$driver" "$@" </dev/null 2>/dev/null | tr -d '\r'
    return "${PIPESTATUS[0]}"
}
# Clicks Check and Upgrade and prints the text of the box that ends the run.
click_for_box() { drive click "$caption" 1000 + box-text "$caption" $kBoxMs; }
# Answers that box and waits until the button is back.
answer_box() { drive box-answer "$caption" 1 + wait-enabled "$caption" $kWindowMs 1000 >/dev/null; }
start_tool() {
    "$wine" "$tool" </dev/null >$SCRATCH/tool.log 2>&1 &
    echo $! >$SCRATCH/tool.pid
    drive wait-window "$caption" $kWindowMs >/dev/null
}

dialog_cases() {
    # The host's own display files show through the overlay: removed here only.
    rm -f /tmp/.X7-lock /tmp/.X11-unix/X7
    Xvfb :7 -screen 0 1024x768x24 -nolisten tcp >$SCRATCH/xvfb.log 2>&1 &
    export DISPLAY=:7
    wait_tenths 100 test -S /tmp/.X11-unix/X7 || { fail display "Xvfb"; return; }
    start_services
    start_device wxr-main 0 --expect "$IMAGE" || { fail devices "wxr-main"; return; }
    start_tool || { fail tool-start "no dialog"; return; }
    pass tool-start

    local start text
    start=$(now)
    text=$(click_for_box)
    echo "BENCH wine-dialog-upgrade $(elapsed "$start") s"
    expect_eq dialog-success "$text" "$success_text"
    if drive wait-bar-full "$caption" 5000 1001 >/dev/null; then pass dialog-bar-full; else
        fail dialog-bar-full "$(drive progress "$caption" 1001)"
    fi
    sleep 0.5  # the last paint
    import -window root -crop 680x440+0+0 +repage "$share/windows-tool-success-guest.png" \
        || fail screenshot "import"
    answer_box && pass dialog-button-back || fail dialog-button-back "still disabled"
    expect_summary dialog-flash wxr-main "end=yes image=match "

    start_device wxr-gone 0 --expect "$IMAGE" --unplug-after-sets 200 || fail dialog-unplug "no device"
    expect_eq dialog-unplug "$(click_for_box)" "Upgrade fail !!"
    answer_box && pass dialog-unplug-button || fail dialog-unplug-button "still disabled"
    stop_device wxr-gone >/dev/null

    # A file of another model opened through the hidden Open File command:
    # its info text shows, and the device of the embedded model is not found.
    local model
    model=$(other_model_file $SCRATCH/other.bin)
    start_device wxr-embedded 0 --expect "$IMAGE" || fail open-file "no device"
    drive command "$caption" 1003 + choose-file "$caption" $kWindowMs 'Z:\run\wxr\other.bin' \
        || fail open-file "no file dialog"
    # The file's own Model line, as the command line reads it (an empty one
    # would match any blank line of the text area).
    run_win other-info "$cli" info 'Z:\run\wxr\other.bin' >/dev/null
    local model_line
    model_line=$(grep -m1 '^Model' $SCRATCH/other-info.out)
    has_info() { drive text "$caption" 1004 | grep -qxF "$model_line"; }
    if [ -z "$model_line" ]; then
        fail open-file-info "wxr7305.exe info gave no Model line: $(tr '\n' '|' <$SCRATCH/other-info.out)"
    elif wait_tenths 100 has_info; then pass open-file-info; else
        fail open-file-info "text area: $(drive text "$caption" 1004 | tr '\n' '|'), model $model"
    fi
    expect_eq open-file-not-found \
        "$(drive wait-enabled "$caption" $kWindowMs 1000 + click "$caption" 1000 + box-text "$caption" $kBoxMs)" \
        "Device not found!!"
    drive box-answer "$caption" 1 + close "$caption"
    expect_summary open-file-nothing-written wxr-embedded "blocks=0 end=no image=differs"
}

case $CASES in
    cli) start_services; cli_cases ;;
    dialog) dialog_cases ;;
    *) fail cases "unknown: $CASES" ;;
esac
