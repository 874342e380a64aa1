#!/usr/bin/env python3
"""The panel's cost on the running tool: kvd4093 panel on a paced virtual
card at 1 MS/s on 4 channels, its frames read by a WebSocket client, against
kvd4093 acquire --continuous doing the same acquisition with no output.
Both are measured over the same stretch of time from /proc (user + system
CPU of the process); the difference is what the panel adds: reduction,
frames, WebSocket, state, digital inputs, log and trace. Also counts the
frames and the largest one.

Usage: bench/panel_cpu.py [path/to/kvd4093] [seconds]   (default: build/bench/bin/kvd4093, 10 s)
"""
import json
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "panel"))
import panel_support as support  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


def measure_panel(seconds):
    panel = support.Panel()
    client = support.panel_socket(panel)
    try:
        client.send(json.dumps({"type": "set-record", "record": {"FirstChannel": 0, "LastChannel": 3}}))
        client.send(json.dumps({"type": "set-rate", "rate": 1000000, "unit": "samples"}))
        client.send(json.dumps({"type": "start"}))
        support.wait_for(lambda: client.next_json("state")["running"], "the start")
        time.sleep(1)  # past the start
        frames, largest = 0, 0
        begin_cpu, begin = cpu_seconds(panel.process.pid), time.monotonic()
        while time.monotonic() - begin < seconds:
            opcode, payload = client.receive()
            if opcode == 2:
                frames += 1
                largest = max(largest, len(payload))
        cpu = cpu_seconds(panel.process.pid) - begin_cpu
        wall = time.monotonic() - begin
        return cpu / wall, frames / wall, largest
    finally:
        client.close()
        panel.close()


def measure_acquire(seconds):
    folder = tempfile.mkdtemp(prefix="kvd4093-acquire-")
    environment = {k: v for k, v in os.environ.items() if not k.startswith("KVD4093")}
    environment.update(HOME=folder, XDG_CONFIG_HOME=os.path.join(folder, "config"))
    process = subprocess.Popen([support.options.tool, "acquire", "--virtual", "--channels", "0-3", "--rate", "1M",
                                "--continuous"], cwd=folder, env=environment, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        time.sleep(1)
        begin_cpu, begin = cpu_seconds(process.pid), time.monotonic()
        time.sleep(seconds)
        return (cpu_seconds(process.pid) - begin_cpu) / (time.monotonic() - begin)
    finally:
        process.terminate()
        process.wait()


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else "build/bench/bin/kvd4093"
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    support.options.tool = os.path.abspath(tool)
    acquire = measure_acquire(seconds)
    panel, rate, largest = measure_panel(seconds)
    print("acquire alone     %5.1f %% of one core" % (100 * acquire))
    print("panel             %5.1f %% of one core, %.1f frames a second, largest %d bytes" % (100 * panel, rate, largest))
    print("the panel adds    %5.1f %% of one core (limit 10 %%), frames within 64 KiB: %s"
          % (100 * (panel - acquire), "yes" if largest <= 65536 else "NO"))
    return 0 if panel - acquire <= 0.10 and largest <= 65536 and rate <= 30.5 else 1


if __name__ == "__main__":
    sys.exit(main())
