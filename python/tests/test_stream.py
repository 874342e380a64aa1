"""Background acquisition (Card.start and Stream): whole scans in order that
know their place in time, a slow consumer that meets Overrun at the right
gap or goes on past it, the callback on the reader thread, the stop on
every way out, Ctrl-C, and other Python threads running on meanwhile."""

import contextlib
import datetime
import gc
import os
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import numpy
import pytest

import kvd4093
from conftest import STOP, documented_sample
from test_acquisition import expected, first_scan

PACKAGE = Path(__file__).resolve().parents[1]


def card_scans(channels, first, count):
    """The card's scans from index `first` since the start of a stream."""
    low, high = channels
    return expected(low, high, count, first_scan(high - low + 1) + first)


def wait_until(condition, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, "waited in vain"
        time.sleep(0.005)


def test_reads_continue_one_another_from_the_first_scan(card):
    with card.start(channels=(0, 2), rate=30_000) as stream:
        first = stream.read(5000)
        second = stream.read(3000)
    assert isinstance(first, kvd4093.ScanArray) and first.dtype == numpy.uint16
    assert (first.shape, first.first_scan, second.first_scan) == ((5000, 3), 0, 5000)
    numpy.testing.assert_array_equal(numpy.concatenate([first, second]), card_scans((0, 2), 0, 8000))
    assert stream.lost == 0 and stream.gaps == [] and first.gaps == ()


def test_blocks_know_their_scans_and_the_start(card):
    before = datetime.datetime.now(datetime.timezone.utc)
    since = time.monotonic()
    with card.start(channels=(0, 3), rate=40_000) as stream:
        stream.read(100)
        block = stream.read(50)
    assert before <= block.start_time <= datetime.datetime.now(datetime.timezone.utc)
    assert since <= block.start_monotonic <= time.monotonic()
    assert (block.start_time, block.start_monotonic) == (stream.start_time, stream.start_monotonic)
    assert block.first_scan_seconds == pytest.approx(128 / 10_000)  # 512 samples of 4 channels first
    numpy.testing.assert_array_equal(block.scan_numbers(), numpy.arange(100, 150))
    numpy.testing.assert_allclose(block.times(), numpy.arange(100, 150) / 10_000)
    assert block[3:].first_scan is None  # derived arrays are plain data


def test_read_available_takes_what_is_there_without_waiting(card):
    with card.start(channels=(1, 2), rate=20_000) as stream:
        taken = [stream.read_available() for _ in range(20)]
        taken.append(stream.read(10))
    rows = numpy.concatenate(taken)
    numpy.testing.assert_array_equal(rows, card_scans((1, 2), 0, len(rows)))
    assert [part.first_scan for part in taken] == list(numpy.cumsum([0] + [len(part) for part in taken[:-1]]))


def test_a_stopped_stream_gives_what_it_holds_then_nothing(card):
    with card.start(channels=(0, 1), rate=20_000) as stream:
        first = stream.read(100)
        stream.stop()
        assert not stream.running
        rest = stream.read(10**6)
        assert rest.shape[0] < 10**6 and rest.first_scan == 100
        numpy.testing.assert_array_equal(numpy.concatenate([first, rest]), card_scans((0, 1), 0, 100 + len(rest)))
        assert stream.read(10).shape == (0, 2)


# Short timeouts over and over, many of them before a scan came, lose and
# repeat nothing.
def test_reads_that_time_out_lose_nothing(card):
    with card.start(channels=(0, 1), rate=200_000) as stream:
        parts = [stream.read(30_000, timeout=0.0002) for _ in range(300)]
        parts.append(stream.read(1000))
    rows = numpy.concatenate(parts)
    assert [part.first_scan for part in parts] == list(numpy.cumsum([0] + [len(part) for part in parts[:-1]]))
    assert stream.lost == 0 and len(rows) > 300 * 1000
    numpy.testing.assert_array_equal(rows, card.acquire(len(rows), channels=(0, 1), rate=200_000))


# The virtual cards deliver at once: a buffer of 0.05 s is full at once, and
# from the time the card's clock catches up the reader drops what it reads.
# The read after the gap, of either kind, goes on with the scan after it.
@pytest.mark.parametrize(
    "channels, take",
    [((0, 1), lambda stream: stream.read(100)), ((2, 4), lambda stream: stream.read(100)),
     ((0, 1), lambda stream: stream.read_available())],
    ids=["read", "read of 3 channels", "read_available"],
)  # fmt: skip
def test_a_slow_consumer_meets_overrun_at_the_gap(card, channels, take):
    with card.start(channels=channels, rate=20_000, buffer_seconds=0.05) as stream:
        wait_until(lambda: stream.lost > 0)
        with pytest.raises(kvd4093.Overrun) as raised:
            stream.read(stream.capacity + 100)
        gaps, after = [raised.value], None
        while after is None:  # a read of the card that was under way as room came may add a gap
            try:
                after = take(stream)
            except kvd4093.Overrun as more:
                assert more.first_scan == gaps[-1].first_scan + gaps[-1].scans_lost and len(more.data) == 0
                gaps.append(more)
    gap = gaps[0]
    assert gap.first_scan == stream.capacity, "the buffer was full: the next scan read was lost"
    assert gap.scans_lost >= 1 and stream.gaps[0] == (gap.first_scan, gap.scans_lost)
    numpy.testing.assert_array_equal(gap.data, card_scans(channels, 0, stream.capacity))
    assert after.first_scan == gaps[-1].first_scan + gaps[-1].scans_lost and len(after) > 0
    numpy.testing.assert_array_equal(after, card_scans(channels, after.first_scan, len(after)))
    assert "scans lost from scan %d on" % gap.first_scan in str(gap)


def test_continue_goes_on_past_the_gaps_and_says_where_they_were(card):
    with card.start(channels=(0, 1), rate=20_000, buffer_seconds=0.05, on_overrun="continue") as stream:
        wait_until(lambda: stream.lost > 0)
        block = stream.read(stream.capacity + 100)
    row, gap = block.gaps[0]
    assert (row, gap.first_scan) == (stream.capacity, stream.capacity)
    lost_there = sum(later.scans for at, later in block.gaps if at == row)
    assert gap.scans >= 1 and stream.lost >= lost_there
    numbers = block.scan_numbers()
    assert numbers[row] - numbers[row - 1] == lost_there + 1
    for at in (0, row - 1, row, len(block) - 1):
        numpy.testing.assert_array_equal(block[at : at + 1], card_scans((0, 1), numbers[at], 1))


def test_the_callback_sees_every_scan_read_on_the_reader_thread(card):
    seen = []

    def callback(block):
        seen.append((threading.current_thread() is threading.main_thread(), block.first_scan, block.copy()))

    with card.start(channels=(0, 1), rate=20_000, callback=callback, callback_scans=700) as stream:
        stream.read(5000)
        wait_until(lambda: len(seen) >= 7)
    assert not any(on_main for on_main, _, _ in seen)
    assert [first for _, first, _ in seen[:7]] == [700 * k for k in range(7)]
    numpy.testing.assert_array_equal(numpy.concatenate([block for _, _, block in seen[:7]]),
                                     card_scans((0, 1), 0, 4900))  # fmt: skip


# The callback sees the scans the buffer keeps, in order; the first after
# scans were dropped says how many, as a gap at its row 0.
def test_the_callback_sees_the_gaps_between_what_it_gets(card):
    seen = []

    def callback(block):
        seen.append((block.first_scan, sum(gap.scans for _, gap in block.gaps), block.copy()))

    with card.start(channels=(0, 1), rate=20_000, buffer_seconds=0.05, on_overrun="continue", callback=callback,
                    callback_scans=100) as stream:  # fmt: skip
        for _ in range(3):
            time.sleep(0.2)  # the buffer fills and the reader drops blocks
            stream.read_available()
    lost = [lost_before for _, lost_before, _ in seen]
    assert 0 < sum(lost) <= stream.lost
    for (first, _, data), (following, lost_before, _) in zip(seen, seen[1:]):
        assert following == first + len(data) + lost_before
    for first, _, data in seen:
        numpy.testing.assert_array_equal(data, card_scans((0, 1), first, len(data)))


def test_an_exception_in_the_callback_comes_out_of_read(card, trace):
    def callback(block):
        raise ZeroDivisionError("the callback failed")

    with pytest.raises(ZeroDivisionError):
        with card.start(channels=(0, 1), rate=20_000, callback=callback, callback_scans=10) as stream:
            stream.read(10**6)
    assert trace.ad_commands()[-1].startswith(STOP)


@pytest.mark.parametrize("leave", ["end", "exception", "stop twice"])
def test_leaving_the_with_block_stops_the_card(card, trace, leave):
    with pytest.raises(KeyError) if leave == "exception" else contextlib.nullcontext():
        with card.start(channels=(0, 1), rate=20_000) as stream:
            stream.read(100)
            assert not trace.ad_commands()[-1].startswith(STOP)
            if leave == "exception":
                raise KeyError
            if leave == "stop twice":
                stream.stop()
                stream.stop()
    assert trace.ad_commands()[-1].startswith(STOP)
    assert sum(command.startswith(STOP) for command in trace.ad_commands()) == 1
    assert not stream.running
    assert card.acquire(5, channels=(0, 1)).shape == (5, 2)  # nothing left running


# A stream nobody holds any more is collected, and its collection stops the
# card, whatever its reader was doing: the card takes a new start at once.
@pytest.mark.parametrize(
    "arguments, taken",
    [
        (dict(), 0),
        (dict(), 500),
        (dict(buffer_seconds=0.05), 0),  # the ring full: the reader waits for room, then drops
        (dict(buffer_seconds=0.05, on_overrun="continue"), 0),
        (dict(callback=lambda block: None, callback_scans=100), 0),
    ],
)
def test_a_dropped_stream_stops_its_card(card, trace, arguments, taken):
    stream = card.start(channels=(0, 1), rate=20_000, **arguments)
    stream.read(taken)
    del stream
    wait_until(lambda: gc.collect() is not None and trace.ad_commands()[-1].startswith(STOP), seconds=5)
    with card.start(channels=(0, 1), rate=20_000) as again:
        numpy.testing.assert_array_equal(again.read(50), card_scans((0, 1), 0, 50))


@pytest.mark.parametrize(
    "other",
    [
        lambda card: card.start(channels=(0, 1)),
        lambda card: card.acquire(10, channels=(0, 1)),
        lambda card: next(card.stream(10, channels=(0, 1))),
    ],
    ids=["start", "acquire", "stream"],
)
def test_a_running_stream_is_the_cards_one_acquisition(card, other):
    with card.start(channels=(0, 1), rate=20_000) as stream:
        stream.read(10)
        with pytest.raises(RuntimeError, match="already runs"):
            other(card)
        numpy.testing.assert_array_equal(stream.read(10), card_scans((0, 1), 10, 10))  # it goes on
    other(card)  # once it is stopped


def test_closing_the_card_ends_the_stream_quietly(trace):
    card = kvd4093.open(physical_id=9)
    with card.start(channels=(0, 1), rate=20_000) as stream:
        stream.read(100)
        card.close()
        wait_until(lambda: not stream.running)
        stream.read(10**6, timeout=5)  # what was read, then nothing: no failure
    assert trace.ad_commands()[-1].startswith(STOP)


@pytest.mark.parametrize(
    "arguments, error, words",
    [
        (dict(on_overrun="wait"), ValueError, "on_overrun"),
        (dict(buffer_seconds=0), ValueError, "buffer_seconds"),
        (dict(callback=print, callback_scans=0), ValueError, "callback_scans"),
        (dict(callback=5), TypeError, "callback must be callable"),
        (dict(channels=(3, 1)), ValueError, "last channel"),
        (dict(rate=2.5), TypeError, "frequency"),
    ],
)
def test_bad_arguments_are_refused_before_the_card_starts(card, trace, arguments, error, words):
    with pytest.raises(error, match=words):
        card.start(**arguments)
    assert trace.ad_commands() == []


def test_the_example_writes_every_scan_a_second_at_a_time(tmp_path):
    script = PACKAGE / "examples" / "stream_to_csv.py"
    result = subprocess.run(
        [sys.executable, str(script), "--channels", "1-2", "--rate", "20000", "--seconds", "2", "--output", "run.csv"],
        cwd=tmp_path, capture_output=True, text=True, timeout=60, env=dict(os.environ, PYTHONPATH=str(PACKAGE)),
    )  # fmt: skip
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["1 s: 10000 scans written, backlog 0 scans, 0 lost",
                                          "2 s: 20000 scans written, backlog 0 scans, 0 lost"]  # fmt: skip
    lines = (tmp_path / "run.csv").read_text().splitlines()
    assert lines[0] == "scan,time_s,ch1,ch2" and len(lines) == 20001
    assert lines[1] == "0,0.0000000,%d,%d" % (documented_sample(1, 256), documented_sample(2, 256))
    assert lines[-1].startswith("19999,1.9999000,")


# ---- a paced virtual card, in a process of its own ---------------------------

PACED = """
import signal, sys, threading, time
import kvd4093

def spin(seconds):
    count, end = 0, time.perf_counter() + seconds
    while time.perf_counter() < end:
        count += 1
    return count

with kvd4093.open(number=0) as card:
    if sys.argv[1] == "interrupt":
        try:
            with card.start(channels=(0, 1), rate=2_000) as stream:
                print("reading", flush=True)
                stream.read(10**6)
        except KeyboardInterrupt:
            print("interrupted; running:", stream.running, flush=True)
    else:
        # Turn about, best of three: a busy machine slows either alike.
        shares = []
        for _ in range(3):
            alone = max(spin(0.2) for _ in range(2))
            with card.start(channels=(0, 1), rate=20_000, buffer_seconds=2) as stream:
                stream.read(100)
                shares.append(max(spin(0.2) for _ in range(2)) / alone)
        with card.start(channels=(0, 1), rate=20_000, buffer_seconds=2) as stream:
            stream.read(100)
            time.sleep(0.5)  # the consumer looks away; the reader goes on
            backlog = stream.backlog
            stream.read(5000)
        print(max(shares), backlog, stream.lost, stream.largest_backlog)
"""


def run_paced(folder, mode):
    environment = dict(os.environ, KVD4093_VIRTUAL_CARDS="0", KVD4093_VIRTUAL_PACING="on",
                       KVD4093_TRACE=str(folder / "trace.txt"), PYTHONPATH=str(PACKAGE))  # fmt: skip
    return subprocess.Popen([sys.executable, "-c", PACED, mode], cwd=folder, env=environment, text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)  # fmt: skip


def last_ad_command(trace_file):
    lines = [line for line in trace_file.read_text().splitlines() if " BULK_WRITE pipe=0 " in line]
    return lines[-1].split("data=")[1]


def test_ctrl_c_during_a_stream_stops_the_card(tmp_path):
    child = run_paced(tmp_path, "interrupt")
    assert child.stdout.readline() == "reading\n"
    time.sleep(0.3)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=30)
    assert child.returncode == 0, err
    assert out == "interrupted; running: False\n"
    assert last_ad_command(tmp_path / "trace.txt").startswith(STOP)


# The reader waits in the card through ctypes, which lets go of the
# interpreter's lock: a thread of pure Python runs as fast beside it as
# alone. The reader keeps reading while the consumer sleeps: the backlog
# stays small and nothing is lost.
def test_other_threads_run_on_while_the_reader_waits_in_the_card(tmp_path):
    child = run_paced(tmp_path, "spin")
    out, err = child.communicate(timeout=60)
    assert child.returncode == 0, err
    share, backlog, lost, largest = (float(word) for word in out.split())
    assert share > 0.8, "the other thread ran at %.0f %% of its speed alone" % (100 * share)
    assert backlog < 2_000 and largest < 2_000  # under 0.2 s of scans
    assert lost == 0
