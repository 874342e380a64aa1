#!/bin/sh
# Reconnection leaks nothing: a --continuous acquisition under kvd4093-usb-sim
# whose card is pulled out every 400 ms and plugged in again 50 ms later,
# each time taken back by --reconnect. The tool's open file descriptors
# (/proc/PID/fd) and resident memory (VmRSS) are read after the first 5
# reconnections, after COUNT / 2 and after COUNT (default 100). What may
# grow: the stream's list of segments, 48 bytes a reconnection, and the card
# library's error log, which takes the failed requests of each unplug and
# empties itself beyond 1024 entries.
# The set-ups are counted in the trace: each reads its 512 samples, 1024 bytes.
#
# Usage: bench/reconnect_leak.sh [path/to/kvd4093 [path/to/kvd4093-usb-sim]]
#        (default: the linux preset's build; COUNT=100)
set -eu
tool=$(realpath "${1:-build/linux/bin/kvd4093}")
simulator=$(realpath "${2:-build/linux/bin/kvd4093-usb-sim}")
count=${COUNT:-100}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
export HOME="$dir" XDG_CONFIG_HOME="$dir/config" KVD4093_TRACE="$dir/trace.txt"
unset KVD4093_VIRTUAL_PACING KVD4093_VIRTUAL_NOISE

"$simulator" --ids 7 --unplug-every 400ms --replug-after 50ms -- \
    "$tool" acquire --continuous --channels 0-3 --rate 40k --reconnect --output /dev/null > report.txt 2>&1 &
simulator_pid=$!
until tool_pid=$(pgrep -P "$simulator_pid" -x kvd4093); do sleep 0.1; done

reconnections() { echo $(($(grep -c 'BULK_READ pipe=2 len=1024 ret=1024' trace.txt || true) - 1)); }
sample() { # waits for N reconnections, then prints them with the descriptors and the resident size
    while [ "$(reconnections)" -lt "$1" ]; do sleep 0.05; done
    printf '%5d reconnections: %3d file descriptors, resident %6d kB\n' "$(reconnections)" \
        "$(ls /proc/"$tool_pid"/fd | wc -l)" "$(awk '/VmRSS/ { print $2 }' /proc/"$tool_pid"/status)"
}
sample 5
sample $((count / 2))
sample "$count"
kill -INT "$tool_pid"
wait "$simulator_pid" || true
echo "the summary lists $(grep -c 'lost at scan' report.txt) reconnections"; tail -n 2 report.txt
