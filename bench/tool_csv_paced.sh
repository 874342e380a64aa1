#!/bin/sh
# The kvd4093 tool writing CSV from a paced virtual card: 4 channels at
# 1 MS/s (all channels together) for 5 s. Reports whether it kept up and the
# share of one CPU it used.
#
# A paced virtual card converts samples as the clock runs, so a read cannot
# finish before its samples exist: an acquisition that keeps up takes 5 s
# (plus the 512-sample set-up); one that falls behind takes longer. The
# tool's summary gives that time; /usr/bin/time gives the CPU time.
#
# Usage: bench/tool_csv_paced.sh [path/to/kvd4093]   (default: the bench build)
set -eu
tool=$(realpath "${1:-build/bench/bin/kvd4093}")
rate=1000000
channels=4
seconds=5
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

HOME="$dir" XDG_CONFIG_HOME="$dir/config" KVD4093_VIRTUAL_PACING=on \
    /usr/bin/time -f '%e %U %S' -o time.txt \
    "$tool" acquire --virtual --channels 0-$((channels - 1)) --rate $rate --time ${seconds}s \
    --output run.csv > summary.txt

read -r wall user system < time.txt
rows=$(($(wc -l < run.csv) - 1))
expected=$((rate / channels * seconds))
acquisition=$(sed -n 's/^acquired .* in \([0-9.]*\) s$/\1/p' summary.txt)
awk -v rows="$rows" -v expected="$expected" -v channels="$channels" -v acquisition="$acquisition" \
    -v seconds="$seconds" -v wall="$wall" -v user="$user" -v sys="$system" -v bytes="$(wc -c < run.csv)" 'BEGIN {
    printf "samples written  %d of %d expected (%d scans of %d channels)\n", rows * channels, expected * channels, rows, channels
    printf "acquisition      %.3f s for %d s of signal: %s\n", acquisition, seconds,
        (rows == expected && acquisition <= seconds * 1.02) ? "kept up" : "FELL BEHIND"
    printf "CSV              %.1f MB\n", bytes / 1e6
    printf "CPU              %.2f s user + %.2f s system in %.2f s: %.0f%% of one CPU\n", user, sys, wall,
        100 * (user + sys) / wall
    exit (rows == expected && acquisition <= seconds * 1.02) ? 0 : 1
}'
