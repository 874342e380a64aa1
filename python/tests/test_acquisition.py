"""Acquisitions and streams on virtual cards: shapes, the samples of the
first rows, the packets that start and stop them, and the stop on every way
out."""

import threading

import numpy
import pytest

import kvd4093
from conftest import STOP, documented_sample

SET_UP_SAMPLES = 512


def first_scan(channels):
    """The first whole scan after the set-up's discarded samples."""
    return -(-SET_UP_SAMPLES // channels)


def expected(first, last, scans, start):
    return numpy.array(
        [[documented_sample(channel, start + k) for channel in range(first, last + 1)] for k in range(scans)],
        dtype=numpy.uint16,
    )


@pytest.mark.parametrize(
    "channels, scans",
    [
        ((0, 3), 4000),  # 512 samples are 128 whole scans
        ((0, 2), 700),  # 170 scans and 2 samples: 1 sample dropped
        ((2, 7), 333),  # 6 channels: 4 samples dropped
        ((5, 5), 10),
        ((0, 15), 5000),  # more than one period of the slowest channels
    ],
)
def test_acquire_returns_whole_scans_from_the_first_channel(card, channels, scans):
    first, last = channels
    data = card.acquire(scans, channels=channels, rate=10_000)
    assert data.dtype == numpy.uint16
    assert data.shape == (scans, last - first + 1)
    assert data.flags.c_contiguous
    numpy.testing.assert_array_equal(data, expected(first, last, scans, first_scan(last - first + 1)))


def test_acquire_sets_up_the_card_from_its_arguments_and_stops_it(card, trace):
    card.acquire(100, channels=(1, 4), rate=10_000, input_range=2, grounding_mode=1, trig_window=33)
    assert trace.ad_commands() == [
        "012080" + "00" * 17,
        "01" + "01b0" + "00" * 17,  # RangeWord 0xB001
        # first 1, last 4, divider 1000, 10 000 ticks, 1 loop, window 33
        "02" + "0104" + "00" + "00" + "e8030000" + "10270000" + "0100" + "00" + "00" + "21" + "0000",
        "0301" + "00" * 18,
        "012080" + "00" * 17,
        "01" + "01b0" + "00" * 17,
        "02" + "0104" + "00" + "00" + "43000000" + "10270000" + "0100" + "00" + "00" + "21" + "0000",
        "0301" + "00" * 18,
        STOP + "00" * 18,
    ]


def test_acquire_starts_from_the_saved_settings(card):
    card.save_settings(kvd4093.ADSettings(first_channel=4, last_channel=6, frequency=30_000))
    data = card.acquire(50)
    numpy.testing.assert_array_equal(data, expected(4, 6, 50, first_scan(3)))


def test_acquire_of_no_scans_leaves_the_card_alone(card, trace):
    assert card.acquire(0, channels=(0, 3)).shape == (0, 4)
    assert trace.ad_commands() == []


def test_stream_blocks_continue_one_another(card):
    blocks = []
    for block in card.stream(300, channels=(0, 2), rate=20_000):
        blocks.append(block)
        if len(blocks) == 4:
            break
    assert all(block.shape == (300, 3) and block.dtype == numpy.uint16 for block in blocks)
    assert len({id(block) for block in blocks}) == 4  # a new array every time
    numpy.testing.assert_array_equal(numpy.concatenate(blocks), card.acquire(1200, channels=(0, 2), rate=20_000))


def test_leaving_a_stream_stops_the_acquisition(card, trace):
    for _ in card.stream(100, channels=(0, 1)):
        assert not trace.ad_commands()[-1].startswith(STOP)
        break
    assert trace.ad_commands()[-1].startswith(STOP)
    assert card.acquire(5, channels=(0, 1)).shape == (5, 2)  # nothing left running


def test_closing_a_stream_before_it_started_sends_nothing(card, trace):
    blocks = card.stream(100, channels=(0, 1))
    blocks.close()
    assert trace.ad_commands() == []


def test_an_exception_in_the_loop_stops_the_stream(card, trace):
    with pytest.raises(ZeroDivisionError):
        for _ in card.stream(100, channels=(0, 1)):
            1 / 0
    assert trace.ad_commands()[-1].startswith(STOP)


def interrupt_on_read(library, monkeypatch, nth):
    """Makes the nth read of the library raise KeyboardInterrupt after it returns."""
    real = library.KVD4093_ReadDeviceAD
    calls = []

    def read(*arguments):
        calls.append(1)
        result = real(*arguments)
        if len(calls) == nth:
            raise KeyboardInterrupt
        return result

    monkeypatch.setattr(library, "KVD4093_ReadDeviceAD", read)


@pytest.mark.parametrize("how", ["acquire", "stream"])
def test_ctrl_c_during_a_read_stops_the_acquisition(card, trace, monkeypatch, how):
    interrupt_on_read(card._library, monkeypatch, nth=3)
    with pytest.raises(KeyboardInterrupt):
        if how == "acquire":
            card.acquire(100_000, channels=(0, 3), rate=10_000)  # 500 samples a read
        else:
            for _ in card.stream(1000, channels=(0, 3), rate=10_000):
                pass
    assert trace.ad_commands()[-1].startswith(STOP)
    assert sum(command.startswith(STOP) for command in trace.ad_commands()) == 1
    monkeypatch.undo()
    assert card.acquire(3, channels=(0, 3)).shape == (3, 4)


def test_a_failed_read_raises_the_librarys_message_and_stops(card, trace, monkeypatch):
    # The card is stopped under the read, which then fails as the library says.
    library = card._library
    real = library.KVD4093_ReadDeviceAD

    def read_after_a_stop(handle, *arguments):
        library.KVD4093_ReleaseDeviceAD(handle)
        return real(handle, *arguments)

    monkeypatch.setattr(library, "KVD4093_ReadDeviceAD", read_after_a_stop)
    with pytest.raises(kvd4093.Error) as raised:
        card.acquire(10, channels=(0, 3))
    assert (raised.value.function, raised.value.code, raised.value.message) == ("KVD4093_ReadDeviceAD", 2, "读AD数据失败")
    assert trace.ad_commands()[-1].startswith(STOP)


def test_close_from_another_thread_ends_an_acquisition_saying_so(trace, monkeypatch):
    card = kvd4093.open(physical_id=9)
    library = card._library
    real = library.KVD4093_ReadDeviceAD
    reads = []

    def read_after_a_close_in_another_thread(*arguments):
        reads.append(1)
        if len(reads) == 3:
            closer = threading.Thread(target=card.close)
            closer.start()
            closer.join()
        return real(*arguments)

    monkeypatch.setattr(library, "KVD4093_ReadDeviceAD", read_after_a_close_in_another_thread)
    with pytest.raises(kvd4093.Error) as raised:
        card.acquire(100_000, channels=(0, 3), rate=10_000)
    assert (raised.value.function, raised.value.code, raised.value.message) == (
        "KVD4093_ReadDeviceAD", 0, "the card was closed during the acquisition")
    assert str(raised.value) == "KVD4093_ReadDeviceAD failed: the card was closed during the acquisition (code 0)"
    assert card.closed and len(reads) == 3
    assert trace.ad_commands()[-1].startswith(STOP)
    assert sum(command.startswith(STOP) for command in trace.ad_commands()) == 1


def test_one_acquisition_at_a_time(card, trace):
    blocks = card.stream(10, channels=(0, 1))
    next(blocks)
    with pytest.raises(RuntimeError):
        card.acquire(10, channels=(0, 1))
    assert next(blocks).shape == (10, 2)  # the stream goes on
    blocks.close()
    assert sum(command.startswith("0301") for command in trace.ad_commands()) == 2  # its start and its stop's


def test_closing_the_card_stops_a_running_stream(trace):
    card = kvd4093.open(physical_id=9)
    blocks = card.stream(10, channels=(0, 1))
    next(blocks)
    card.close()
    assert trace.ad_commands()[-1].startswith(STOP)
    with pytest.raises(ValueError, match="closed"):
        next(blocks)


@pytest.mark.parametrize(
    "arguments, error",
    [
        (dict(channels=(3, 1)), ValueError),
        (dict(channels=(0, 256)), ValueError),
        (dict(channels=(-1, 2)), ValueError),
        (dict(rate=0), ValueError),
        (dict(rate=10_000_001), ValueError),
        (dict(rate=2.5), TypeError),
        (dict(gain=1), TypeError),  # no such field
        (dict(channels=(0, 1), last_channel=3), TypeError),
        (dict(rate=1000, frequency=1000), TypeError),
        (dict(trigger_mode=2**31), ValueError),
    ],
)
def test_bad_acquisition_arguments_are_refused_before_the_card_starts(card, trace, arguments, error):
    with pytest.raises(error):
        card.acquire(10, **arguments)
    with pytest.raises(error):
        card.stream(10, **arguments)
    assert trace.ad_commands() == []


def test_a_failed_set_up_still_stops_the_card(card, trace, monkeypatch):
    # The set-up can fail after its start packet went out (at its first read).
    library = card._library
    real = library.KVD4093_InitDeviceAD
    monkeypatch.setattr(library, "KVD4093_InitDeviceAD", lambda *arguments: real(*arguments) and 0)
    with pytest.raises(kvd4093.Error) as raised:
        card.acquire(10, channels=(0, 1))
    assert raised.value.function == "KVD4093_InitDeviceAD"
    assert [command[:4] for command in trace.ad_commands()][3:] == ["0301", "0120", "0100", "0200", "0301", STOP]
    monkeypatch.undo()
    assert card.acquire(2, channels=(0, 1)).shape == (2, 2)


@pytest.mark.parametrize("scans, error", [(-1, ValueError), (2.0, TypeError), (None, TypeError)])
def test_bad_scan_counts_are_refused(card, scans, error):
    with pytest.raises(error):
        card.acquire(scans, channels=(0, 1))
    with pytest.raises(error):
        card.stream(scans if scans != -1 else 0, channels=(0, 1))
