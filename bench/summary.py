#!/usr/bin/env python3
"""Prints the closing table of `make bench`: each figure with its goal, the
measured value and their ratio, from the JSON files the benchmark programs
wrote into one folder (--benchmark_out). A figure whose benchmark did not run
says so; one that misses its goal is marked MISSED, and the last line counts
them."""
import json
import pathlib
import sys


def load(folder):
    runs = {}
    for path in sorted(pathlib.Path(folder).glob("*.json")):
        for run in json.loads(path.read_text()).get("benchmarks", []):
            if run.get("run_type", "iteration") == "iteration":
                runs[f"{path.stem}:{run['name']}"] = run
    return runs


def nanoseconds(run):
    # Processor time: on a shared machine the wall clock also counts the
    # time other programs had the processor.
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
    return run["cpu_time"] * scale


def per_second(run):
    return run["items_per_second"]


class Figures:
    def __init__(self, runs):
        self.runs = runs

    def get(self, name):
        return self.runs.get(name)

    def overhead_ns(self, library, backend):
        a, b = self.get(library), self.get(backend)
        return None if a is None or b is None else nanoseconds(a) - nanoseconds(b)

    def rate_ratio(self, numerator, denominator):
        a, b = self.get(numerator), self.get(denominator)
        return None if a is None or b is None else per_second(a) / per_second(b)

    def counter(self, name, counter):
        run = self.get(name)
        return None if run is None or counter not in run else run[counter]


# (figure, goal text, goal value, "max" or "min", measured, unit); the
# benchmarks are named program:benchmark.
def rows(f):
    acquisition, transport, stop = "bench_acquisition", "bench_transport", "bench_stop"
    yield ("ReadDeviceAD 4 Ki samples, reused buffer, / memcpy", ">= 0.5", 0.5, "min",
           f.rate_ratio(f"{acquisition}:BM_ReadDeviceAD_Reused/4096", f"{acquisition}:BM_Memcpy_Reused/4096"), "x")
    for block in (512, 65536, 1 << 20, 16 << 20):
        yield (f"ReadDeviceAD {block} samples, fresh memory, / memcpy", "-", None, None,
               f.rate_ratio(f"{acquisition}:BM_ReadDeviceAD_Fresh/{block}", f"{acquisition}:BM_Memcpy_Fresh/{block}"),
               "x")
    for call in ("WriteDeviceDA", "SetDeviceDO", "GetDeviceDI"):
        yield (f"library cost of {call} over the backend", "<= 25 ns", 25.0, "max",
               f.overhead_ns(f"{acquisition}:BM_{call}", f"{acquisition}:BM_{call}_Backend"), "ns")
    yield ("library cost of BulkWrite over the backend", "<= 25 ns", 25.0, "max",
           f.overhead_ns(f"{transport}:BM_BulkWriteThroughLibrary", f"{transport}:BM_BulkWriteStraightOnBackend"), "ns")
    yield ("allocations per BulkWrite (malloc and new)", "0", 0.0, "max",
           f.counter(f"{transport}:BM_BulkWriteThroughLibrary", "allocs/call"), "")
    yield ("allocations per backend request (malloc and new)", "0", 0.0, "max",
           f.counter(f"{transport}:BM_BulkWriteStraightOnBackend", "allocs/call"), "")
    usb = "bench_usb_transport"
    yield ("library cost of a request on the USB card backend (emulated card)", "<= 50 ns", 50.0, "max",
           f.overhead_ns(f"{usb}:BM_LowFileThroughLibrary", f"{usb}:BM_LowFileStraightOnBackend"), "ns")
    # One read in 256 waits for a packet from the emulated card, whose round
    # trips vary by far more than the library costs: shown, not judged.
    yield ("library cost of a 1-sample AD read (the packet kept), USB card backend", "-", None, None,
           f.overhead_ns(f"{usb}:BM_AdReadThroughLibrary/1", f"{usb}:BM_AdReadStraightOnBackend/1"), "ns")
    for request in ("AdRead", "StatusRead", "BulkWrite"):
        name = f"{usb}:BM_{request}ThroughLibrary" + ("/1000" if request == "AdRead" else "")
        yield (f"allocations per {request} on the USB card backend (malloc and new)", "0", 0.0, "max",
               f.counter(name, "allocs/call"), "")
    deep = f.get("bench_parameter_store:BM_LoadParaAD_DeepKeysFile")
    yield ("LoadParaAD from a 1 MiB file of keys 512 deep", "< 100 ms", 100.0, "max",
           None if deep is None else nanoseconds(deep) / 1e6, "ms")
    csv = f.get("bench_csv_writer:BM_CsvLines")
    yield ("CSV lines of 4 channels written", ">= 100 MS/s", 100e6, "min",
           None if csv is None else per_second(csv), "S/s")
    for name, goal in (("csv", 25e6), ("csv_scaled", 25e6), ("bin", 50e6), ("sr", 25e6), ("h5", 50e6),
                       ("npy", 50e6), ("wav", 50e6)):
        writer = f.get(f"bench_output_writers:BM_Writer/{name}")
        yield (f"{name} writer, 4 channels, whole file", f">= {goal / 1e6:.0f} MS/s", goal, "min",
               None if writer is None else per_second(writer), "S/s")
    yield ("stop's return after the read ends, median", "< 1000 us", 1000.0, "max",
           f.counter(f"{stop}:BM_StopWhileAReadWaits/iterations:1", "median_us"), "us")
    yield ("stop's return after the read ends, worst of 20", "< 1000 us", 1000.0, "max",
           f.counter(f"{stop}:BM_StopWhileAReadWaits/iterations:1", "worst_us"), "us")
    yield ("processor time of a stop waiting 20 ms for a read", "<= 2 ms", 2.0, "max",
           f.counter(f"{stop}:BM_StopWhileAReadWaits/iterations:1", "cpu_ms_per_stop"), "ms")
    # A group of 4 cards x 4 channels against one card, on the 2 cores the
    # goal counts: 0.9 x one card's rate x 2.
    group, timed = "bench_stream_group", "/min_time:2.000/real_time"
    for name in ("GroupOf4", "GroupOf4Independent"):
        yield (f"stream of a {name} unpaced cards / one card", ">= 1.8", 1.8, "min",
               f.rate_ratio(f"{group}:BM_{name}{timed}", f"{group}:BM_OneCard{timed}"), "x")


def main():
    figures = Figures(load(sys.argv[1] if len(sys.argv) > 1 else "build/bench/results"))
    table = [("figure", "goal", "measured", "ratio")]
    missed = 0
    for name, goal_text, goal, sense, value, unit in rows(figures):
        if value is None:
            table.append((name, goal_text, "not run", "-"))
            continue
        ratio = "-" if not goal else f"{value / goal:.2f}"
        if sense == "max" and value > goal or sense == "min" and value < goal:
            missed += 1
            ratio += " MISSED"
        table.append((name, goal_text, f"{value:.3g} {unit}".strip(), ratio))
    widths = [max(len(row[i]) for row in table) for i in range(4)]
    for row in table:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())
    print(f"{missed} of the goals missed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
