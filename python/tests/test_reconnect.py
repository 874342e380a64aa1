"""A stream with reconnect= on an emulated USB card pulled out twice
(kvd4093-usb-sim, skipped where it is not built): it goes on after each
replug, its gaps say "disconnected", the samples on both sides of each gap
are the card's, and the DA value and digital outputs written through the
Card are written again after each reopen, before the new start."""

import json
import os
import subprocess
import sys

import numpy
import pytest

from conftest import REPOSITORY, documented_sample

SIMULATOR = REPOSITORY / "build" / "linux" / "bin" / "kvd4093-usb-sim"
OPEN_PACKET = "011f0010"  # the DA word the open sends
CHILD = """
import json, sys, numpy, kvd4093
with kvd4093.open(physical_id=7) as card:
    with card.start(channels=(0, 3), rate=40_000, reconnect=5) as stream:
        card.write_da(3, 1234)
        card.do = 0x8021
        parts = []
        while len(stream.segments) < 3:
            parts.append(stream.read(500))
        parts.append(stream.read(2000))
        numpy.save("scans.npy", numpy.concatenate([p.scan_numbers() for p in parts]))
        numpy.save("samples.npy", numpy.concatenate(parts))
        json.dump({"gaps": [(*gap, gap.cause) for gap in stream.gaps], "firsts": [s.first_scan for s in stream.segments]}, sys.stdout)
"""


@pytest.mark.skipif(not SIMULATOR.is_file(), reason="kvd4093-usb-sim is not built (no umockdev)")
def test_a_stream_goes_on_after_each_replug_with_its_outputs_written_again(trace, tmp_path):
    environment = dict(os.environ, PYTHONPATH=str(REPOSITORY / "python"))
    environment.pop("KVD4093_VIRTUAL_PACING")  # paced, as a real card
    command = [str(SIMULATOR), "--ids", "7", "--unplug-every", "800ms", "--replug-after", "200ms", "--",
               sys.executable, "-c", CHILD]  # fmt: skip
    child = subprocess.run(command, cwd=tmp_path, env=environment, capture_output=True, text=True, timeout=60)
    assert child.returncode == 0, child.stderr
    result = json.loads(child.stdout)
    assert [cause for _, _, cause in result["gaps"]] == ["disconnected", "disconnected"]
    firsts = result["firsts"]
    assert [first + scans for first, scans, _ in result["gaps"]] == firsts[1:]
    scans, samples = numpy.load(tmp_path / "scans.npy"), numpy.load(tmp_path / "samples.npy")
    segment_first = numpy.array(firsts)[numpy.searchsorted(firsts, scans, side="right") - 1]
    card_scans = scans - segment_first + 128  # the set-up's 512 samples: 128 scans of 4 channels
    for channel in range(4):
        expected = [documented_sample(channel, int(scan)) for scan in card_scans]
        assert samples[:, channel].tolist() == expected
    # Each open is followed by the program's writes: once by the program, then by each reconnection.
    opened = [i for i, command in enumerate(trace.commands()) if command.startswith(OPEN_PACKET)]
    writes = [trace.commands()[start + 1 : end] for start, end in zip(opened, opened[1:] + [None])]
    assert len(writes) == 3 and writes[0] and writes[1] == writes[0] and writes[2] == writes[0]
