"""The scan reader against a card stand-in whose reads come back short: every
array still holds whole scans from the first channel, in stream order."""

import ctypes

import numpy
import pytest

import kvd4093
from kvd4093.acquisition import SET_UP_SAMPLES, ScanReader


class ShortReads:
    """KVD4093_ReadDeviceAD over a stream whose sample i is i mod 65536,
    delivering at most `most` samples a read; the set-up's samples are gone."""

    def __init__(self, most, fail_at=None):
        self.most = most
        self.fail_at = fail_at
        self.position = SET_UP_SAMPLES
        self.asked = []

    def KVD4093_ReadDeviceAD(self, handle, buffer, count, returned):
        self.asked.append(count)
        if len(self.asked) == self.fail_at:
            return 0
        got = min(count, self.most)
        samples = numpy.arange(self.position, self.position + got, dtype=numpy.uint64).astype(numpy.uint16)
        ctypes.memmove(buffer, samples.ctypes.data, 2 * got)
        returned._obj.value = got
        self.position += got
        return 1

    def KVD4093_GetLastErrorEx(self, name, answer):
        text = "读AD数据失败".encode("gbk") + b"[" + name + b"]\0"
        ctypes.memmove(answer, text, len(text))
        return 2


@pytest.mark.parametrize("channels", [1, 3, 4, 5, 7])
@pytest.mark.parametrize("most", [1, 2, 7, 1000])
def test_short_reads_still_fill_whole_scans(channels, most):
    card = ShortReads(most)
    reader = ScanReader(card, None, channels, frequency=1_000_000)
    blocks = [numpy.empty((9, channels), dtype=numpy.uint16) for _ in range(3)]
    for block in blocks:
        reader.fill(block)
    start = -(-SET_UP_SAMPLES // channels) * channels  # the first sample of a whole scan
    numpy.testing.assert_array_equal(numpy.concatenate(blocks).ravel(), numpy.arange(start, start + 27 * channels))


def test_reads_ask_for_about_fifty_milliseconds():
    card = ShortReads(most=10**9)
    reader = ScanReader(card, None, 4, frequency=10_000)
    reader.fill(numpy.empty((1000, 4), dtype=numpy.uint16))
    assert card.asked == [500] * 8


def test_a_failed_read_raises_the_logged_message():
    reader = ScanReader(ShortReads(most=100, fail_at=2), None, 4, frequency=10_000)
    with pytest.raises(kvd4093.Error) as raised:
        reader.fill(numpy.empty((100, 4), dtype=numpy.uint16))
    assert (raised.value.function, raised.value.code, raised.value.message) == ("KVD4093_ReadDeviceAD", 2, "读AD数据失败")


@pytest.mark.parametrize(
    "closed, code, message", [(False, 2, "读AD数据失败"), (True, 0, "the card was closed during the acquisition")]
)
def test_a_failed_read_says_when_the_card_was_closed(closed, code, message):
    reader = ScanReader(ShortReads(most=100, fail_at=1), None, 4, frequency=10_000, closed=lambda: closed)
    with pytest.raises(kvd4093.Error) as raised:
        reader.fill(numpy.empty((10, 4), dtype=numpy.uint16))
    assert (raised.value.function, raised.value.code, raised.value.message) == ("KVD4093_ReadDeviceAD", code, message)


def test_a_read_that_brings_nothing_ends_the_acquisition():
    reader = ScanReader(ShortReads(most=0), None, 4, frequency=10_000)
    with pytest.raises(kvd4093.Error, match="no samples"):
        reader.fill(numpy.empty((10, 4), dtype=numpy.uint16))
