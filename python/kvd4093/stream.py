"""Background acquisition: the stream library's reader thread keeps reading
the card into a bounded buffer of whole scans while the program does other
work.

    with card.start(channels=(0, 3), rate=100_000, buffer_seconds=2) as stream:
        while running:
            scans = stream.read(10_000)      # waits for 10 000 scans
            ...                              # the card goes on meanwhile

The reading is the stream library's (libkvd4093stream.so.1,
KVD4093Stream.dll): its thread reads the card in blocks of about 50 ms into
a queue, outside the interpreter, so other Python threads run on at full
speed. When the program falls so far behind that the buffer is full, the
library drops whole blocks and counts them; nothing is lost silently:
read() raises Overrun at the gap, or with on_overrun="continue" goes on past
it and says where it was in the array it returns.
"""

import collections
import ctypes
import datetime
import math
import threading
import time
import weakref

import numpy

from . import _stream_library
from ._library import _WINDOWS
from ._stream_library import CALLBACK, Block, Buffer, Config, Status
from .acquisition import SET_UP_SAMPLES
from .errors import Error
from .settings import to_record

ON_OVERRUN = ("raise", "continue")
# A group's clock: the first card's for every card, or every card its own.
CLOCKS = {"shared": 0, "independent": 1}
# A read waits in the library this long at most at a time, so that Ctrl-C
# is seen soon.
WAIT_SLICE_SECONDS = 0.1
# How long a new acquisition waits at most for a stopped stream's reader to end.
READER_END_SECONDS = 5
# The most scans one call of the library copies.
MOST_SCANS_PER_CALL = 2**31 - 1
_SAMPLES = ctypes.POINTER(ctypes.c_uint16)
_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)

class Gap(collections.namedtuple("Gap", "first_scan scans")):
    """Scans lost: `scans` scans from `first_scan` (an index since the start)
    on. Its `cause` (not a part of the tuple) is "overrun" (the buffer was
    full) or "disconnected" (the card was pulled out, and taken back)."""

    def __new__(cls, first_scan, scans, cause="overrun"):
        gap = super().__new__(cls, first_scan, scans)
        gap.cause = cause
        return gap

Segment = collections.namedtuple("Segment", "first_scan lost_at_scan lost_card_id start_time start_monotonic")
Segment.__doc__ = """One start of a stream's cards: the first (lost_at_scan 0, lost_card_id
None), and one after every reconnection: the card of physical ID
`lost_card_id` was lost at scan `lost_at_scan`, and the new start's first
scan is `first_scan`; its time in UTC (datetime) and on time.monotonic()."""


def _cause(block):
    return "disconnected" if block.gapCause == _stream_library.GAP_DISCONNECTED else "overrun"


class Overrun(Exception):
    """Scans were lost because the program read the stream more slowly than
    the card delivered it and the stream's buffer was full.

    first_scan: the index since the start of the first scan lost.
    scans_lost: how many were lost, one after the other.
    data:       the scans the read that raised this had taken before the gap,
                a ScanArray (perhaps of no rows); the next read goes on with
                the scan after the gap.
    """

    def __init__(self, first_scan, scans_lost, data):
        super().__init__(first_scan, scans_lost)
        self.first_scan = first_scan
        self.scans_lost = scans_lost
        self.data = data

    def __str__(self):
        return "%d scans lost from scan %d on: the stream was read too slowly" % (self.scans_lost, self.first_scan)


class ScanArray(numpy.ndarray):
    """A numpy uint16 array of whole scans (row k: a scan, column j: channel
    first + j) that knows where its scans belong in time.

    first_scan:      the index since the start of row 0.
    gaps:            ((row, Gap), ...): right before each such row scans
                     were lost (streams with on_overrun="continue"); row 0:
                     just before this array, first_scan counts them already.
    scan_rate:       scans a second.
    start_time:      the start, UTC (datetime), read just before the card
                     was started; start_monotonic: the same on time.monotonic().
    first_scan_seconds: how long after the start scan 0 came (the set-up's
                     samples come first).

    Arrays made from it (slices, arithmetic) are plain data without these.
    """

    def __array_finalize__(self, source):
        self.first_scan = None
        self.gaps = ()
        self._timing = None

    @property
    def scan_rate(self):
        return self._timing.scan_rate

    @property
    def start_time(self):
        return self._timing.start_time

    @property
    def start_monotonic(self):
        return self._timing.start_monotonic

    @property
    def first_scan_seconds(self):
        return self._timing.first_scan_seconds

    def scan_numbers(self):
        """The index since the start of every row, as int64."""
        numbers = numpy.arange(self.first_scan, self.first_scan + len(self), dtype=numpy.int64)
        for row, gap in self.gaps:
            if row > 0:
                numbers[row:] += gap.scans
        return numbers

    def times(self):
        """The seconds from scan 0 of every row: its index / the scan rate."""
        return self.scan_numbers() / self.scan_rate


Timing = collections.namedtuple("Timing", "start_time start_monotonic scan_rate first_scan_seconds")


def _scan_array(data, first_scan, gaps, timing):
    array = data.view(ScanArray)
    array.first_scan = first_scan
    array.gaps = tuple(gaps)
    array._timing = timing
    return array


def _text(message):
    """A message of the stream library: UTF-8 English."""
    return (message or b"").decode("utf-8", errors="replace")


def _monotonic_seconds(library_ns):
    """The library's monotonic time on time.monotonic(): the same clock on
    Linux (CLOCK_MONOTONIC); on Windows the library's is the performance
    counter, time.perf_counter()'s."""
    if not _WINDOWS:
        return library_ns / 1e9
    return time.monotonic() - (time.perf_counter_ns() - library_ns) / 1e9


class _LibraryStream:
    """A stream of the stream library as the package holds it, open until
    close(): the Stream's finaliser, Card.close() and the interpreter's exit
    close it. It holds the callback the library's reader thread calls, alive
    until the close, and never the Stream, so that a Stream nobody holds is
    collected, and its collection stops the card."""

    def __init__(self, library, cards, config, channels, callback, open_streams):
        self.library = library
        self.channels = channels
        self.driver = cards[0].device  # the handle the program opened the driving card with
        self._card_channels = channels // len(cards)
        self.failure = None  # the first exception the callback raised
        self.stop_asked = False
        self._callback = callback
        self._callback_thread = None
        self._lock = threading.Lock()
        self._timing = None
        if callback is not None:
            self._thunk = CALLBACK(self._called)
            config.callback = self._thunk
        if len(cards) == 1:
            function = "KVD4093_OpenStreamOnDevice"
            self.pointer = library.KVD4093_OpenStreamOnDevice(cards[0].device, ctypes.byref(config))
        else:
            function = "KVD4093_OpenStreamOnDevices"
            listed = (_stream_library.StreamCard * len(cards))(*cards)
            self.pointer = library.KVD4093_OpenStreamOnDevices(listed, len(cards), ctypes.byref(config))
        if not self.pointer:
            raise Error(function, 0, _text(library.KVD4093_GetStreamError(None)))
        self.buffer = Buffer()
        library.KVD4093_GetStreamBuffer(self.pointer, ctypes.byref(self.buffer))
        self._open_streams = open_streams
        open_streams.add(self)

    def error(self):
        """The library's last failure of this stream."""
        return _text(self.library.KVD4093_GetStreamError(self.pointer))

    def status(self):
        """The library's Status, or None once the stream is closed."""
        status = Status()
        pointer = self.pointer
        if pointer is None or not self.library.KVD4093_GetStreamStatus(pointer, ctypes.byref(status)):
            return None
        return status

    def running(self):
        """True while the reader reads the card: not once the card was told to stop."""
        status = self.status()
        return not self.stop_asked and status is not None and bool(status.running)

    def busy(self):
        """True while the card acquires for this stream. The reader of a
        stream stopped ends at once (the stop ends a read waiting in the
        card): it is waited for, so that no read of it reaches the card's
        next acquisition."""
        deadline = time.monotonic() + READER_END_SECONDS
        while True:
            status = self.status()
            reading = status is not None and bool(status.running)
            if not (reading and self.stop_asked and time.monotonic() < deadline):
                return reading
            time.sleep(0.001)

    def stop(self):
        """Stops the card; False when the card did not take its stop."""
        pointer = self.pointer
        if pointer is None:
            return True
        self.stop_asked = True
        return bool(self.library.KVD4093_StopStream(pointer))

    def timing(self):
        """The start's Timing, read from the library once; None before the start."""
        with self._lock:
            utc, monotonic = ctypes.c_int64(), ctypes.c_int64()
            pointer = self.pointer
            if self._timing is None and pointer is not None and \
                    self.library.KVD4093_GetStreamStartTime(pointer, ctypes.byref(utc), ctypes.byref(monotonic)):
                scan_rate = self.buffer.scanRate
                set_up_scans = -(-SET_UP_SAMPLES // self._card_channels)
                self._timing = Timing(_EPOCH + datetime.timedelta(microseconds=utc.value // 1000),
                                      _monotonic_seconds(monotonic.value), scan_rate, set_up_scans / scan_rate)
            return self._timing

    def close(self):
        """Stops the card if the stream runs and frees the library's stream;
        only the first call does anything."""
        with self._lock:
            pointer, self.pointer = self.pointer, None
        if pointer is None:
            return
        self._open_streams.discard(self)
        if self._callback_thread == threading.get_ident():
            # Collected in the callback: the library's close waits for its
            # reader, so it is made from another thread.
            self.library.KVD4093_StopStream(pointer)
            threading.Thread(target=self._close, args=(pointer,), name="kvd4093 stream close").start()
        else:
            self._close(pointer)

    def _close(self, pointer):
        self.library.KVD4093_CloseStream(pointer)

    def _called(self, pointer, samples, scans, block, context):
        """On the library's reader thread: hands the program's callback the
        scans as a ScanArray; an exception it raises stops the stream and
        is kept for read()."""
        self._callback_thread = threading.get_ident()
        if self.failure is not None:
            return
        try:
            shape = (scans, self.channels)
            data = numpy.ctypeslib.as_array(samples, shape=shape).copy() if scans else numpy.empty(shape, numpy.uint16)
            lost = block.contents.scansLostBefore
            first = block.contents.firstScan
            gaps = ((0, Gap(first - lost, lost, _cause(block.contents))),) if lost else ()
            self._callback(_scan_array(data, first, gaps, self.timing()))
        except BaseException as failure:  # noqa: BLE001 - nothing may unwind into the library
            self.failure = failure
            self.stop()


def _reconnect_seconds(reconnect):
    """Config.reconnectSeconds: 0 for none, the library's no-limit for infinity."""
    if reconnect is None:
        return 0.0
    return _stream_library.RECONNECT_FOREVER if math.isinf(reconnect) else float(reconnect)


class Stream:
    """A running acquisition that the stream library's reader thread reads
    into a bounded buffer of whole scans. Made by Card.start(); use it as a
    context manager, or call stop(). Its methods are for one consuming
    thread. A Stream nobody holds any more stops its card.

    read(n, timeout=None): the next n scans as a ScanArray, waiting for them.
    read_available(): the scans there now, without waiting.
    backlog: scans the card's clock owes since the start (rate x elapsed)
             that the reader has not read yet: what waits in the card.
    lost:    scans dropped because the buffer was full; gaps: each gap the
             reads have come to, as a Gap.
    capacity: scans the buffer holds; scan_rate: scans a second as the card runs.
    """

    def __init__(self, card, settings, buffer_seconds=2, on_overrun="raise", callback=None, callback_scans=None,
                 group=None, clock="shared", reconnect=None):  # fmt: skip
        if clock not in CLOCKS:
            raise ValueError("clock must be 'shared' or 'independent', not %r" % (clock,))
        if on_overrun not in ON_OVERRUN:
            raise ValueError("on_overrun must be 'raise' or 'continue', not %r" % (on_overrun,))
        if not buffer_seconds > 0:
            raise ValueError("buffer_seconds must be more than 0, not %r" % (buffer_seconds,))
        if callback is not None and not callable(callback):
            raise TypeError("callback must be callable (a function of one ScanArray), not %r" % (callback,))
        if reconnect is not None and not reconnect > 0:
            raise ValueError("reconnect must be the seconds to wait for a card pulled out, above 0, not %r" % (reconnect,))
        if callback_scans is not None and not 1 <= int(callback_scans) < 2**32:
            raise ValueError("callback_scans must be 1 to %d, not %d" % (2**32 - 1, int(callback_scans)))
        members = list(group) if group else [card]
        cards = [_stream_library.StreamCard(member._open_handle(), member.physical_id, 0) for member in members]
        for member in members:
            member._check_idle()
        card_channels = settings.last_channel - settings.first_channel + 1
        self.channels = card_channels * len(members)
        self.rate = settings.frequency
        self.gaps = []
        self._on_overrun = on_overrun
        self._card = card
        self._carried = None  # (scans, index of the first): read past a gap raised at, for the next read
        self._next_scan = 0
        self._last_status = Status()
        self._block = Block()
        self._block_reference = ctypes.byref(self._block)
        record = to_record(settings)
        config = Config(firstChannel=settings.first_channel, lastChannel=settings.last_channel,
                        scanRate=settings.frequency / card_channels, record=ctypes.pointer(record),
                        clockMode=CLOCKS[clock], reconnectSeconds=_reconnect_seconds(reconnect),
                        bufferSeconds=buffer_seconds, onOverrun=_stream_library.CONTINUE,
                        callbackScans=0 if callback_scans is None else int(callback_scans))  # fmt: skip
        library = _stream_library.library()
        self._library = library
        self._stream = _LibraryStream(library, cards, config, self.channels, callback, card._streams)
        for member in members[1:]:
            member._streams.add(self._stream)
        self._finaliser = weakref.finalize(self, self._stream.close)
        self.scan_rate = self._stream.buffer.scanRate
        self.capacity = self._stream.buffer.blocks * self._stream.buffer.blockScans
        if not library.KVD4093_StartStream(self._stream.pointer):
            failure = Error("KVD4093_StartStream", 0, self._stream.error())
            self._finaliser()
            raise failure
        self._timing = self._stream.timing()

    # ---- the consumer's side ---------------------------------------------

    start_time = property(lambda self: self._timing.start_time, doc="The start, UTC (read just before the card started).")
    start_monotonic = property(lambda self: self._timing.start_monotonic, doc="The start on time.monotonic().")
    first_scan_seconds = property(lambda self: self._timing.first_scan_seconds, doc="Scan 0's seconds after the start.")

    def _status(self):
        """The library's Status; once closed with its card, what it said last."""
        self._last_status = self._stream.status() or self._last_status
        return self._last_status

    @property
    def running(self):
        """True while the library's reader reads the card, until stop()."""
        return self._stream.running()

    @property
    def backlog(self):
        """Scans the card's clock owes since the start that were not read yet."""
        return self._status().backlog

    @property
    def largest_backlog(self):
        """The largest backlog the reader saw after any of its reads."""
        return self._status().largestBacklog

    @property
    def lost(self):
        """Scans dropped because the buffer was full (and not read while a card was away)."""
        return self._status().scansLost

    @property
    def waiting_for_card(self):
        """True while a card pulled out is waited for (reconnect=)."""
        return bool(self._status().waitingForCard)

    @property
    def segments(self):
        """Each start of the cards so far, as a Segment: the first, and one
        after every reconnection."""
        pointer = self._stream.pointer
        count = self._library.KVD4093_GetStreamSegments(pointer, None, 0) if pointer else 0
        listed = (_stream_library.Segment * max(count, 0))()
        count = self._library.KVD4093_GetStreamSegments(pointer, listed, len(listed)) if pointer else 0
        return [
            Segment(s.firstScan, s.lostAtScan, None if s.lostCardId < 0 else s.lostCardId,
                    _EPOCH + datetime.timedelta(microseconds=s.utcNs // 1000), s.monotonicNs / 1e9)
            for s in listed[: max(count, 0)]
        ]  # fmt: skip

    def read(self, n, timeout=None):
        """The next n scans as a ScanArray of shape (n, channels), waiting for
        them as long as needed, or `timeout` seconds at most.

        Fewer rows come back only when the timeout passes or the stream has
        ended (stopped, or the card closed). Raises Overrun when the read
        reaches scans lost because the buffer was full (unless made with
        on_overrun="continue"), and Error when the reading of the card
        failed (or the callback's exception), once the scans before it are
        read.
        """
        n = int(n)
        if n < 0:
            raise ValueError("n must be 0 or more, not %d" % n)
        deadline = None if timeout is None else time.monotonic() + timeout
        return self._take(n, deadline)

    def read_available(self):
        """Every scan there now, as a ScanArray, without waiting (perhaps no
        rows); raises Overrun as read() does."""
        carried = 0 if self._carried is None else len(self._carried[0])
        return self._take(self._status().scansQueued + carried, time.monotonic())

    def stop(self):
        """Stops the card and the library's reader. The scans already read
        may still be read; further calls do nothing."""
        if not self._stream.stop():
            raise Error("KVD4093_StopStream", 0, self._stream.error())

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        try:
            self.stop()
        except Error:
            if kind is None:
                raise  # a failure already on its way is not hidden by one of the stop

    def _take(self, n, deadline):
        out = numpy.empty((n, self.channels), dtype=numpy.uint16)
        rows, first_scan, gaps = 0, None, []
        while rows < n:
            part = self._next_part(out, rows, deadline)
            if part is None:
                break
            count, first, lost = part
            if lost:
                gap = Gap(first - lost, lost, _cause(self._block))
                self.gaps.append(gap)
                if self._on_overrun == "raise" and gap.cause == "overrun":
                    self._carried = (out[rows : rows + count].copy(), first)
                    self._next_scan = first
                    data = _scan_array(out[:rows], gap.first_scan if first_scan is None else first_scan, gaps,
                                       self._timing)  # fmt: skip
                    raise Overrun(gap.first_scan, lost, data)
                gaps.append((rows, gap))
            if first_scan is None:
                first_scan = first
            rows += count
            self._next_scan = first + count
        return _scan_array(out[:rows], self._next_scan if first_scan is None else first_scan, gaps, self._timing)

    def _next_part(self, out, rows, deadline):
        """The next scans, copied into out[rows:]: (how many, the index of
        the first, the scans lost just before it); None once the deadline
        has passed or the stream has ended."""
        if self._carried is not None:
            carried, first = self._carried
            count = min(len(carried), len(out) - rows)
            out[rows : rows + count] = carried[:count]
            self._carried = (carried[count:], first + count) if count < len(carried) else None
            return count, first, 0
        at = ctypes.cast(out.ctypes.data + rows * self.channels * out.itemsize, _SAMPLES)
        most = min(len(out) - rows, MOST_SCANS_PER_CALL)
        while True:
            remaining = WAIT_SLICE_SECONDS if deadline is None else deadline - time.monotonic()
            wait_ms = math.ceil(min(WAIT_SLICE_SECONDS, max(0.0, remaining)) * 1000)
            pointer = self._stream.pointer
            if pointer is None:  # closed with its card
                return None
            got = self._library.KVD4093_ReadStream(pointer, at, most, wait_ms, self._block_reference)
            if got > 0:
                return got, self._block.firstScan, self._block.scansLostBefore
            if got < 0:
                self._raise_failure()
                return None
            if remaining <= 0:
                return None

    def _raise_failure(self):
        """At the end of the stream: raises what ended it, if anything did."""
        if self._stream.failure is not None:
            raise self._stream.failure
        status = self._status()
        if status.failed:
            raise Error("KVD4093_ReadStream", 0, self._stream.error())
