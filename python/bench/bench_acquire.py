"""Card.acquire and Stream.read against the same reads made from C, on an
unpaced virtual card.

    /usr/bin/python3 python/bench/bench_acquire.py [--library build/bench/src/libkvd4093.so.1]
        [--stream-library build/bench/stream/libkvd4093stream.so.1]

Compiles reads.c beside this file against the headers and both libraries,
runs its reads of the card and of a stream (KVD4093_ReadStream), Card.acquire
and a Stream read to its end (10 M scans of 4 channels at 10 MS/s by
default, each from before the start until the card is stopped) a few times
each, prints the best samples a second of each, and fails when Card.acquire
reaches less than half of the C reads, or Stream.read less than 95 % of the
C stream.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPOSITORY = HERE.parents[1]


def options():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--library", default=str(REPOSITORY / "build" / "bench" / "src" / "libkvd4093.so.1"))
    parser.add_argument("--stream-library",
                        default=str(REPOSITORY / "build" / "bench" / "stream" / "libkvd4093stream.so.1"))  # fmt: skip
    parser.add_argument("--scans", type=int, default=10_000_000)
    parser.add_argument("--channels", type=int, default=4)
    parser.add_argument("--rate", type=int, default=10_000_000)
    parser.add_argument("--runs", type=int, default=15, help="the best of this many runs counts")
    parser.add_argument("--least-ratio", type=float, default=0.5, help="Card.acquire's share of C's rate required")
    parser.add_argument("--least-stream-ratio", type=float, default=0.95,
                        help="Stream.read's share of the C stream's rate required")  # fmt: skip
    return parser.parse_args()


def compile_reads(libraries, folder):
    program = folder / "reads"
    runpaths = ["-Wl,-rpath," + str(Path(library).parent) for library in libraries]
    subprocess.run(
        [os.environ.get("CC", "cc"), "-O2", "-std=c11", "-D_DEFAULT_SOURCE",
         "-I", str(REPOSITORY / "include"), str(HERE / "reads.c"), "-o", str(program), *libraries, *runpaths],
        check=True,
    )  # fmt: skip
    return program


def c_rate(program, arguments):
    result = subprocess.run([str(program), *map(str, arguments)], check=True, capture_output=True, text=True)
    return float(result.stdout)


def python_rate(kvd4093, scans, channels, rate):
    with kvd4093.open(number=0) as card:
        start = time.perf_counter()
        data = card.acquire(scans, channels=(0, channels - 1), rate=rate)
        seconds = time.perf_counter() - start
    assert data.shape == (scans, channels)
    return data.size / seconds


def stream_rate(kvd4093, scans, channels, rate):
    """A Stream whose library's reader thread fills its buffer while this
    thread takes every scan out into one array."""
    with kvd4093.open(number=0) as card:
        start = time.perf_counter()
        with card.start(channels=(0, channels - 1), rate=rate) as stream:
            data = stream.read(scans)
        seconds = time.perf_counter() - start
    assert data.shape == (scans, channels) and stream.lost == 0
    return data.size / seconds


def main():
    arguments = options()
    arguments.library = os.path.abspath(arguments.library)  # before the change of folder
    arguments.stream_library = os.path.abspath(arguments.stream_library)
    folder = Path(tempfile.mkdtemp(prefix="kvd4093-bench-"))
    # Read by the library when it loads and first lists cards: set before both.
    os.environ.update(
        KVD4093_LIBRARY=arguments.library,
        KVD4093_STREAM_LIBRARY=arguments.stream_library,
        KVD4093_VIRTUAL_CARDS="0",
        KVD4093_VIRTUAL_PACING="off",
        XDG_CONFIG_HOME=str(folder / "config"),
    )
    os.environ.pop("KVD4093_TRACE", None)
    os.environ.pop("KVD4093_VIRTUAL_NOISE", None)
    os.chdir(folder)  # where the library leaves its log file
    sys.path.insert(0, str(HERE.parent))
    import kvd4093

    program = compile_reads([arguments.library, arguments.stream_library], folder)
    shape = (arguments.scans, arguments.channels, arguments.rate)
    # Turn about, so that a busy spell of the machine weighs on all alike.
    from_c, from_c_stream, from_python, from_stream = 0.0, 0.0, 0.0, 0.0
    for _ in range(arguments.runs):
        from_c = max(from_c, c_rate(program, shape))
        from_c_stream = max(from_c_stream, c_rate(program, ("stream", *shape)))
        from_python = max(from_python, python_rate(kvd4093, *shape))
        from_stream = max(from_stream, stream_rate(kvd4093, *shape))
    ratio, stream_ratio = from_python / from_c, from_stream / from_c_stream
    print("%d scans of %d channels, unpaced virtual card, best of %d:" % (*shape[:2], arguments.runs))
    print("  C reads:        %8.1f M samples/s" % (from_c / 1e6))
    print("  C stream:       %8.1f M samples/s (%.2f of the C reads)" % (from_c_stream / 1e6, from_c_stream / from_c))
    print("  Card.acquire:   %8.1f M samples/s (%.2f of the C reads, at least %.2f wanted)" % (
        from_python / 1e6, ratio, arguments.least_ratio))
    print("  Stream.read:    %8.1f M samples/s (%.2f of the C stream, at least %.2f wanted)" % (
        from_stream / 1e6, stream_ratio, arguments.least_stream_ratio))
    return 0 if ratio >= arguments.least_ratio and stream_ratio >= arguments.least_stream_ratio else 1


if __name__ == "__main__":
    sys.exit(main())
