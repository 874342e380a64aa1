"""kvd4093.subscribe() against a mosquitto of the test's own on 127.0.0.1,
fed by the built tool's `acquire --publish`: the blocks are the run's
samples, numbered and timed as the run's sidecar says."""

import datetime
import json
import os
import shutil
import socket
import subprocess
import threading
import time
from pathlib import Path

import numpy
import pytest

import kvd4093

from conftest import REPOSITORY

TOOL = REPOSITORY / "build" / "linux" / "bin" / "kvd4093"
BROKER = Path("/usr/sbin/mosquitto")
PASSWORD = "s3cret"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.fixture
def broker(tmp_path):
    pytest.importorskip("paho.mqtt.client")
    if not BROKER.exists() or not shutil.which("mosquitto_passwd") or not TOOL.exists():
        pytest.skip("needs %s, mosquitto_passwd and the built tool %s" % (BROKER, TOOL))
    port = free_port()
    subprocess.run(["mosquitto_passwd", "-c", "-b", str(tmp_path / "passwords"), "daq", PASSWORD], check=True)
    # Started as root, mosquitto would switch to its own user, who cannot read the test's folder.
    # Its log names every subscription: the test waits for the one of subscribe().
    (tmp_path / "mosquitto.conf").write_text(
        "listener %d 127.0.0.1\nallow_anonymous false\npassword_file %s\nlog_dest file %s\nlog_type subscribe\n%s"
        % (port, tmp_path / "passwords", tmp_path / "broker.log", "user root\n" if os.getuid() == 0 else ""))
    process = subprocess.Popen([str(BROKER), "-c", str(tmp_path / "mosquitto.conf")], stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 20
    while socket.socket().connect_ex(("127.0.0.1", port)) != 0:
        assert time.monotonic() < deadline, "mosquitto did not listen"
        time.sleep(0.02)
    yield "mqtt://daq@127.0.0.1:%d/lab" % port, tmp_path / "broker.log"
    process.terminate()
    process.wait(20)


def wait_for_subscription(log, topic):
    deadline = time.monotonic() + 20
    while not log.exists() or (" " + topic) not in log.read_text():
        assert time.monotonic() < deadline, "nobody subscribed to " + topic
        time.sleep(0.02)


def test_subscribe_yields_the_runs_blocks_numbered_and_timed(broker, tmp_path):
    broker, log = broker
    scans = 30_000
    blocks = []

    def receive():
        for source, block in kvd4093.subscribe(broker + "/#", password=PASSWORD, timeout=10):
            blocks.append((source, block))
            if sum(len(b) for _, b in blocks) >= scans:
                break

    receiver = threading.Thread(target=receive)
    receiver.start()
    wait_for_subscription(log, "lab/#")
    subprocess.run([str(TOOL), "acquire", "--id", "7", "--channels", "0-3", "--rate", "400k", "--samples", str(scans),
                    "--output", str(tmp_path / "run.bin"), "--publish", broker, "--host-name", "bench1"],
                   check=True, stdout=subprocess.DEVNULL, env=dict(os.environ, KVD4093_MQTT_PASSWORD=PASSWORD))
    receiver.join(30)

    sidecar = json.loads((tmp_path / "run.bin.json").read_text())
    local = numpy.fromfile(tmp_path / "run.bin", dtype="<u2").reshape(-1, 4)
    assert {source for source, _ in blocks} == {"bench1/7"}
    assert numpy.array_equal(numpy.concatenate([block for _, block in blocks]), local)
    starts = numpy.cumsum([0] + [len(block) for _, block in blocks[:-1]])
    assert [block.first_scan for _, block in blocks] == list(starts)
    assert all(block.gaps == () for _, block in blocks)
    last = blocks[-1][1]
    assert last.scan_rate == sidecar["scan_rate_hz"]
    assert last.start_time == datetime.datetime.fromtimestamp(sidecar["start_utc_ns"] // 1000 / 1e6,
                                                              datetime.timezone.utc)
    assert last.times()[-1] == (scans - 1) / sidecar["scan_rate_hz"]
