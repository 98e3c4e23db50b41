# Sourced by /init in bench mode: the cost of one report cycle through the
# kernel, and a whole upgrade's time beside the protocol's own pauses.
bench() { "$@" 2>&1 | sed 's/^/BENCH /'; }

bench hidraw-bench cycle 2000 /dev/hidraw0
if [ -x /bin/wxr7305 ]; then
    bench hidraw-bench timed /bin/wxr7305 upgrade
    bench hidraw-bench timed /bin/wxr7305 upgrade --trace /tmp/trace.txt
    bench hidraw-bench pauses /tmp/trace.txt
fi
