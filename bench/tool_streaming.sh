#!/bin/sh
# The kvd4093 tool's reader thread and queue on an unpaced virtual card
# (delivering at once), 4 channels at a rate of 10 MS/s:
#  - processor time (user + system) writing 100 M samples raw to /dev/null
#    (as standard output: a file would have a sidecar beside it),
#    the median of RUNS runs; with a second tool (the one before the reader
#    thread, say) the same for it and the difference, which should stay
#    within 5 %;
#  - CSV of 100 M samples into a file in memory (/dev/shm), end to end wall
#    time, best and median, in samples a second (goal: 100 M or more);
#  - the resident memory of a --continuous run to /dev/null after 1 s and
#    after 5 s, which stays flat.
#
# Usage: bench/tool_streaming.sh [path/to/kvd4093 [path/to/earlier/kvd4093]]
#        (default: the bench build; RUNS=5, SCANS=25M for the processor time)
set -eu
tool=$(realpath "${1:-build/bench/bin/kvd4093}")
earlier=${2:+$(realpath "$2")}
runs=${RUNS:-5}
dir=$(mktemp -d)
csv=/dev/shm/kvd4093-bench-$$.csv
trap 'rm -rf "$dir" "$csv"' EXIT
cd "$dir"
export HOME="$dir" XDG_CONFIG_HOME="$dir/config" KVD4093_VIRTUAL_PACING=off
acquire="acquire --virtual --channels 0-3 --rate 10M --samples 25M"
# The processor time is measured over SCANS scans (more: less noise).
scans=${SCANS:-25M}

# The median of the first column of a file of numbers.
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cpu_seconds() { # tool: appends user + system of each run to cpu-<name>.txt, turn about with the other tool
    /usr/bin/time -f '%U %S' -o t.txt "$1" acquire --virtual --channels 0-3 --rate 10M --samples "$scans" \
        --output - --format bin > /dev/null 2>&1
    awk '{ print $1 + $2 }' t.txt >> "$2"
}
for _ in $(seq "$runs"); do
    cpu_seconds "$tool" cpu-tool.txt
    [ -z "$earlier" ] || cpu_seconds "$earlier" cpu-earlier.txt
done
cpu=$(median cpu-tool.txt)
echo "binary to /dev/null, $scans scans of 4 channels: $cpu s of processor (median of $runs)"
if [ -n "$earlier" ]; then
    before=$(median cpu-earlier.txt)
    awk -v now="$cpu" -v before="$before" 'BEGIN {
        printf "  the earlier tool: %s s; the reader thread adds %+.1f %% (at most 5 %% wanted)\n", before,
            100 * (now - before) / before }'
fi

for _ in $(seq "$runs"); do
    /usr/bin/time -f '%e' -o t.txt "$tool" $acquire --output "$csv" > /dev/null
    cat t.txt >> wall.txt
    rm -f "$csv"
done
awk -v median="$(median wall.txt)" -v best="$(sort -n wall.txt | head -1)" 'BEGIN {
    printf "CSV to /dev/shm, 100 M samples: %.0f M samples/s best, %.0f median (100 wanted)\n", 100 / best, 100 / median }'

"$tool" acquire --virtual --channels 0-3 --rate 10M --continuous --output - --format bin > /dev/null 2>&1 &
pid=$!
sleep 1
early=$(awk '/VmRSS/ { print $2 }' /proc/$pid/status)
sleep 4
late=$(awk '/VmRSS/ { print $2 }' /proc/$pid/status)
kill -TERM $pid
wait $pid || true
echo "--continuous, resident memory: $early KiB after 1 s, $late KiB after 5 s"
