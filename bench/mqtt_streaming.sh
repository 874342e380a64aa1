#!/bin/sh
# Publishing and collecting through a mosquitto on the loopback (docs/mqtt.md),
# paced virtual cards, 4 channels:
#  - for each rate of RATES (samples a second of a card; a group "7,9@10M"
#    of two cards), 10 s published and collected to raw binary in /dev/shm:
#    whether every scan arrived (no block dropped, no gap), so the highest
#    rate without a gap shows (goal: 10 M samples a second or more);
#  - the processor time (user + system) of a 10 s acquisition at 1 M samples
#    a second to /dev/null, with and without --publish, the median of RUNS
#    runs each: what the publisher adds.
#
# Usage: bench/mqtt_streaming.sh [path/to/kvd4093]   (default: the bench build;
#        RUNS=3, RATES="2M 5M 10M 7,9@10M", SECONDS_EACH=10)
set -eu
tool=$(realpath "${1:-build/bench/bin/kvd4093}")
runs=${RUNS:-3}
rates=${RATES:-"2M 5M 10M 7,9@10M"}
seconds=${SECONDS_EACH:-10}
dir=$(mktemp -d)
out=$(mktemp -d /dev/shm/kvd4093-mqtt-XXXXXX)
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
broker=""
collector=""
cleanup() {
    [ -z "$collector" ] || kill -INT "$collector" 2>/dev/null || true
    [ -z "$broker" ] || kill "$broker" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$dir" "$out"
}
trap cleanup EXIT
cd "$dir"
export HOME="$dir" XDG_CONFIG_HOME="$dir/config" KVD4093_VIRTUAL_CARDS=7,9 KVD4093_VIRTUAL_PACING=on
printf 'listener %s 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\nmax_inflight_messages 1\n%s' \
    "$port" "$([ "$(id -u)" = 0 ] && echo 'user root')" > mosquitto.conf
/usr/sbin/mosquitto -c mosquitto.conf 2> broker.log &
broker=$!
sleep 0.5
"$tool" collect "mqtt://127.0.0.1:$port/bench/#" --output "$out" --format bin > collect.txt 2>&1 &
collector=$!
sleep 0.5

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for rate in $rates; do
    cards=7
    case "$rate" in *@*) cards=${rate%@*}; rate=${rate#*@} ;; esac
    "$tool" acquire --id "$cards" --channels 0-3 --rate "$rate" --time "${seconds}s" --buffer 2s \
        --publish "mqtt://127.0.0.1:$port/bench" --host-name bench > run.txt 2>&1 || true
    sleep 2
    planned=$(sed -n 's/.*scans\/s), \([0-9]*\) scans$/\1/p' run.txt)
    acquired=$(sed -n 's/^acquired \([0-9]*\) scans.*/\1/p' run.txt)
    ended=$(grep -a ' ended ' collect.txt | tail -1)
    got=$(echo "$ended" | sed -n 's/.*): \([0-9]*\) scans, \([0-9]*\) lost.*/\1 \2/p')
    verdict="gaps"
    if [ "$acquired" = "$planned" ] && [ "$got" = "$planned 0" ] && ! grep -q '^dropped' run.txt; then
        verdict="no gap"
    fi
    total=$(awk -v r="$rate" -v c="$cards" 'BEGIN { m = r ~ /M$/ ? 1e6 : (r ~ /k$/ ? 1e3 : 1); n = split(c, x, ",");
        printf "%.1f", n * r * m / 1e6 }')
    echo "cards $cards at $rate samples/s each ($total M samples/s in all), ${seconds} s: $verdict" \
        "(planned $planned, acquired $acquired, collected and lost: ${got:-none})"
    rm -f "$out"/*
done

cpu_seconds() { # appends user + system of one 10 s run at 1 MS/s to $1, with the options after it
    file=$1
    shift
    /usr/bin/time -f '%U %S' -o t.txt "$tool" acquire --id 7 --channels 0-3 --rate 1M --time "${seconds}s" \
        --output - --format bin "$@" > /dev/null 2>&1
    awk '{ print $1 + $2 }' t.txt >> "$file"
}
for _ in $(seq "$runs"); do
    cpu_seconds plain.txt
    cpu_seconds published.txt --publish "mqtt://127.0.0.1:$port/bench" --host-name bench
done
awk -v plain="$(median plain.txt)" -v published="$(median published.txt)" -v s="$seconds" 'BEGIN {
    printf "1 M samples/s for %d s: %.2f s of processor without --publish, %.2f s with: +%.2f s (%.1f %% of a core)\n",
        s, plain, published, published - plain, 100 * (published - plain) / s }'
