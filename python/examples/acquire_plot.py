"""Acquires a few channels from a KVD4093 card and plots them.

    KVD4093_VIRTUAL_CARDS=7 python3 acquire_plot.py --channels 0-3 --rate 100000 --scans 5000

draws acquire_plot.png with matplotlib when it is installed, else writes the
scans to acquire_plot.csv (one scan a line: scan, time in seconds, channels).
"""

import argparse
import importlib.util
import sys

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
    parser.add_argument("--scans", type=int, default=5000, help="scans to acquire")
    parser.add_argument("--output", default="acquire_plot", help="file name without extension")
    return parser.parse_args()


def centred(data):
    """Samples as offset binary codes around zero: 32768 is 0."""
    return data.astype(numpy.int32) - 32768


def plot(path, times, data, first):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot

    figure, axes = pyplot.subplots(figsize=(10, 5))
    for column in range(data.shape[1]):
        axes.plot(times, centred(data[:, column]), label="channel %d" % (first + column))
    axes.set_xlabel("time (s)")
    axes.set_ylabel("code - 32768")
    axes.legend(loc="upper right")
    figure.savefig(path)


def write_csv(path, times, data, first):
    header = "scan,time_s," + ",".join("ch%d" % (first + column) for column in range(data.shape[1]))
    table = numpy.column_stack([numpy.arange(len(data)), times, data])
    numpy.savetxt(path, table, delimiter=",", header=header, comments="", fmt=["%d", "%.7f"] + ["%d"] * data.shape[1])


def main():
    options = arguments()
    first, last = options.channels
    with kvd4093.open(physical_id=options.id) as card:
        data = card.acquire(options.scans, channels=(first, last), rate=options.rate)
    scan_rate = options.rate / data.shape[1]
    times = numpy.arange(len(data)) / scan_rate
    if importlib.util.find_spec("matplotlib") is not None:
        path = options.output + ".png"
        plot(path, times, data, first)
    else:
        path = options.output + ".csv"
        write_csv(path, times, data, first)
    print("%d scans of channels %d-%d from card %s: %s" % (len(data), first, last, card.physical_id, path))
    return 0


if __name__ == "__main__":
    sys.exit(main())
