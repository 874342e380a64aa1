"""Acquires in the background and writes the scans to a CSV file as they come.

    KVD4093_VIRTUAL_CARDS=7 python3 stream_to_csv.py --channels 0-3 --rate 100000 --seconds 3

The stream library's reader thread (Card.start) keeps reading the card while
this program formats and writes a second of scans at a time, and prints a
line a second: the scans written, how far the reads are behind the card's
clock, the scans lost. Should the program fall so far behind that the buffer
of buffer_seconds overflows, the scans lost leave a comment line in the file where they are
missing ("# 1200 scans lost from scan 5000"), as kvd4093 acquire writes.
"""

import argparse

import numpy

import kvd4093


def channel_range(text):
    first, _, last = text.partition("-")
    return int(first), int(last or first)


def arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--id", type=int, help="the card's physical ID (default: logical number 0)")
    parser.add_argument("--channels", type=channel_range, default=(0, 3), help="FIRST-LAST, default 0-3")
    parser.add_argument("--rate", type=int, default=100_000, help="samples a second of all channels")
    parser.add_argument("--seconds", type=int, default=3, help="how long")
    parser.add_argument("--output", default="stream.csv", help="the CSV file")
    return parser.parse_args()


def write_scans(out, scans):
    """The scans as lines "scan,time_s,code,...", each gap as a comment line."""
    numbers, times = scans.scan_numbers(), scans.times()
    row = 0
    for at, gap in list(scans.gaps) + [(len(scans), None)]:
        table = numpy.column_stack([numbers[row:at], times[row:at], scans[row:at]])
        numpy.savetxt(out, table, delimiter=",", fmt=["%d", "%.7f"] + ["%d"] * scans.shape[1])
        if gap is not None:
            out.write("# %d scans lost from scan %d\n" % (gap.scans, gap.first_scan))
        row = at


def main():
    options = arguments()
    first, last = options.channels
    with kvd4093.open(physical_id=options.id) as card:
        with card.start(channels=options.channels, rate=options.rate, on_overrun="continue") as stream:
            second = int(stream.scan_rate)
            with open(options.output, "w") as out:
                out.write("scan,time_s," + ",".join("ch%d" % channel for channel in range(first, last + 1)) + "\n")
                for elapsed in range(1, options.seconds + 1):
                    write_scans(out, stream.read(second))
                    print("%d s: %d scans written, backlog %d scans, %d lost" % (
                        elapsed, elapsed * second, stream.backlog, stream.lost))  # fmt: skip


if __name__ == "__main__":
    main()
