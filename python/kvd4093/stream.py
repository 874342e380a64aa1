"""Background acquisition: a reader thread keeps reading the card into a ring
buffer of whole scans while the program does other work.

    with card.start(channels=(0, 3), rate=100_000, buffer_seconds=2) as stream:
        while running:
            scans = stream.read(10_000)      # waits for 10 000 scans
            ...                              # the card goes on meanwhile

The reader thread calls the library through ctypes, which lets go of the
interpreter's lock for every call, so other Python threads run on while it
waits for the card. When the program falls so far behind that the ring is
full, the reader keeps reading the card (so that the card's own memory does
not overflow) and drops what does not fit, as whole reads; nothing is lost
silently: read() raises Overrun at the gap, or with on_overrun="continue"
goes on past it and says where it was in the array it returns.
"""

import collections
import datetime
import threading
import time
import weakref

import numpy

from .acquisition import SET_UP_SAMPLES, samples_per_read
from .errors import Error

ON_OVERRUN = ("raise", "continue")
# Reads ahead of the card's clock keep at most this many reads in the ring,
# and read up to this many reads at a time into an array lent by read().
AHEAD_READS = 2
AHEAD_READS_LENT = 16

Gap = collections.namedtuple("Gap", "first_scan scans")
Gap.__doc__ = """Scans lost because the ring was full: `scans` scans from `first_scan`
(an index since the start) on."""


class Overrun(Exception):
    """Scans were lost because the program read the stream more slowly than
    the card delivered it and the ring buffer was full.

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


class _Taking:
    """The array one read() fills: its rows filled so far, the index of its
    first scan, the gaps met, and whether the reader may read into it."""

    def __init__(self, out):
        self.out = out
        self.rows = 0
        self.first_scan = None
        self.gaps = []
        self.lent = False


def _scan_array(data, first_scan, gaps, timing):
    array = data.view(ScanArray)
    array.first_scan = first_scan
    array.gaps = tuple(gaps)
    array._timing = timing
    return array


def _read_while_held(reference):
    """The reader thread: holds its Stream only for one read at a time, so
    that a Stream nobody else holds is collected, and its finaliser stops
    the card."""
    while True:
        stream = reference()
        if stream is None or not stream._read_next():
            return
        del stream


class Stream:
    """A running acquisition read by a thread of its own into a ring buffer
    of whole scans. Made by Card.start(); use it as a context manager, or
    call stop(). Its methods are for one consuming thread.

    read(n, timeout=None): the next n scans as a ScanArray, waiting for them.
    read_available(): the scans there now, without waiting.
    backlog: scans the card's clock owes since the start (rate x elapsed)
             that the reader has not read yet: what waits in the card.
    lost:    scans dropped because the ring was full; gaps: each as a Gap.
    """

    def __init__(self, card, settings, buffer_seconds=2, on_overrun="raise", callback=None, callback_scans=None):
        if on_overrun not in ON_OVERRUN:
            raise ValueError("on_overrun must be 'raise' or 'continue', not %r" % (on_overrun,))
        if not buffer_seconds > 0:
            raise ValueError("buffer_seconds must be more than 0, not %r" % (buffer_seconds,))
        self.channels = settings.last_channel - settings.first_channel + 1
        self.rate = settings.frequency
        self.scan_rate = self.rate / self.channels
        self._read_scans = max(1, samples_per_read(self.rate) // self.channels)
        self.capacity = max(int(buffer_seconds * self.scan_rate), self._read_scans)
        self._ring = numpy.empty((self.capacity, self.channels), dtype=numpy.uint16)
        self._dropped = numpy.empty((self._read_scans, self.channels), dtype=numpy.uint16)
        self._on_overrun = on_overrun
        if callback is not None and not callable(callback):
            raise TypeError("callback must be callable (a function of one ScanArray), not %r" % (callback,))
        self._callback = callback
        self._callback_scans = max(1, int(self.scan_rate // 10)) if callback_scans is None else int(callback_scans)
        if self._callback_scans < 1:
            raise ValueError("callback_scans must be 1 or more, not %d" % self._callback_scans)
        self._pending_callback = []  # scans read and not handed to the callback yet

        self._changed = threading.Condition()
        self._written = 0  # scans put into the ring since the start
        self._taken = 0  # scans read out of it
        self._gaps = collections.deque()  # (ring count before which, Gap): not read past yet
        self._lent = None  # the _Taking of a read() waiting for scans
        self._in_read = False  # the reader is reading the card
        self._lost_taken = 0  # scans lost before the read position
        self.gaps = []
        self.lost = 0
        self._read_from_card = 0  # scans read from the card, the dropped ones included
        self._largest_backlog = 0
        self._ended = False
        self._failure = None
        self._stopping = False

        self._card = card
        self._running = card._running(settings)
        set_up_scans = -(-SET_UP_SAMPLES // self.channels)
        start_time = datetime.datetime.now(datetime.timezone.utc)
        start_monotonic = time.monotonic()
        self._scans = self._running.__enter__()  # sets the card up and starts it
        self._timing = Timing(start_time, start_monotonic, self.scan_rate, set_up_scans / self.scan_rate)
        self._set_up_scans = set_up_scans
        self._thread = threading.Thread(target=_read_while_held, args=(weakref.ref(self),),
                                        name="kvd4093 stream reader", daemon=True)  # fmt: skip
        self._thread.start()

    # ---- the consumer's side ---------------------------------------------

    start_time = property(lambda self: self._timing.start_time, doc="The start, UTC (read just before the card started).")
    start_monotonic = property(lambda self: self._timing.start_monotonic, doc="The start on time.monotonic().")
    first_scan_seconds = property(lambda self: self._timing.first_scan_seconds, doc="Scan 0's seconds after the start.")

    @property
    def running(self):
        """True while the reader thread reads the card."""
        return not self._ended

    @property
    def backlog(self):
        """Scans the card's clock owes since the start that were not read yet."""
        return self._backlog_now()

    @property
    def largest_backlog(self):
        """The largest backlog the reader saw after any of its reads."""
        return self._largest_backlog

    def read(self, n, timeout=None):
        """The next n scans as a ScanArray of shape (n, channels), waiting for
        them as long as needed, or `timeout` seconds at most.

        Fewer rows come back only when the timeout passes or the stream has
        ended (stopped, or the card closed). Raises Overrun when the read
        reaches scans lost because the ring was full (unless made with
        on_overrun="continue"), and the library's Error when the reader's
        read of the card failed, once the scans before it are read.
        """
        n = int(n)
        if n < 0:
            raise ValueError("n must be 0 or more, not %d" % n)
        deadline = None if timeout is None else time.monotonic() + timeout
        return self._take(n, deadline)

    def read_available(self):
        """Every scan there now, as a ScanArray, without waiting (perhaps no
        rows); raises Overrun as read() does."""
        with self._changed:
            available = self._written - self._taken
        return self._take(available, time.monotonic())

    def stop(self):
        """Stops the card and the reader thread. The scans already in the
        ring may still be read. Only the first call does anything."""
        if self._stopping:
            return
        with self._changed:
            self._stopping = True
            self._changed.notify_all()
            # A read ahead of the card's clock returns at once: waiting for it
            # keeps the stop from coming between the reader's last look at
            # _stopping and its next read, which would wait for a start.
            if self._in_read and time.monotonic() < self._caught_up():
                self._changed.wait_for(lambda: not self._in_read, timeout=0.5)
        try:
            self._running.__exit__(None, None, None)  # the stop waits for the reader's read in progress
        finally:
            # A stream dropped by everyone else is collected on the reader thread.
            if threading.current_thread() is not self._thread:
                self._thread.join()

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        try:
            self.stop()
        except Error:
            if kind is None:
                raise  # a failure already on its way is not hidden by one of the stop

    def __del__(self):
        try:
            if not self._stopping and getattr(self, "_thread", None) is not None:
                self.stop()
        except Exception:  # noqa: BLE001 - nothing to report to at collection
            pass

    def _take(self, n, deadline):
        taking = _Taking(numpy.empty((n, self.channels), dtype=numpy.uint16))
        try:
            while taking.rows < n:
                with self._changed:
                    if not self._wait_for_scans(taking, deadline):
                        break
                    available = self._written - self._taken
                    if self._gaps:
                        available = min(available, self._gaps[0][0] - self._taken)
                    start = self._taken % self.capacity
                    count = min(n - taking.rows, available, self.capacity - start)
                # Unlocked: the reader writes elsewhere in the ring meanwhile.
                taking.out[taking.rows : taking.rows + count] = self._ring[start : start + count]
                with self._changed:
                    taking.rows += count
                    self._taken += count
                    self._changed.notify_all()
        finally:
            with self._changed:
                taking.lent = False  # rows the reader is reading into it now go to the ring
                if self._lent is taking:
                    self._lent = None
        first_scan = self._taken + self._lost_taken - taking.rows if taking.first_scan is None else taking.first_scan
        return _scan_array(taking.out[: taking.rows], first_scan, taking.gaps, self._timing)

    def _wait_for_scans(self, taking, deadline):
        """With the lock held: waits until scans can be taken from the ring
        (True), or `taking` is full, the stream has ended or the deadline
        passed (False), going past the gaps at the read position: raising
        Overrun, or noting them in taking.gaps. While the ring is empty the
        array is lent to the reader, which reads the card straight into it."""
        while True:
            if self._gaps and self._gaps[0][0] == self._taken:
                _, gap = self._gaps.popleft()
                self._lost_taken += gap.scans
                if self._on_overrun == "raise":
                    first_scan = gap.first_scan if taking.first_scan is None else taking.first_scan
                    raise Overrun(gap.first_scan, gap.scans,
                                  _scan_array(taking.out[: taking.rows], first_scan, taking.gaps, self._timing))  # fmt: skip
                taking.gaps.append((taking.rows, gap))
                continue
            if taking.first_scan is None:
                taking.first_scan = self._taken + self._lost_taken
            if taking.rows == len(taking.out):
                return False
            if self._written > self._taken:
                return True
            if self._ended:
                if self._failure is not None:
                    raise self._failure
                return False
            remaining = None if deadline is None else deadline - time.monotonic()
            if remaining is not None and remaining <= 0:
                return False
            self._lent = taking
            taking.lent = True
            self._changed.notify_all()
            self._changed.wait(remaining)

    # ---- the reader thread -----------------------------------------------

    def _backlog_now(self):
        owed = (time.monotonic() - self._timing.start_monotonic) * self.scan_rate
        return max(0, int(owed) - self._set_up_scans - self._read_from_card)

    def _caught_up(self):
        """When the card's clock reaches the scans read so far (time.monotonic())."""
        return self._timing.start_monotonic + (self._set_up_scans + self._read_from_card) / self.scan_rate

    def _room(self):
        """Where the next read of the card goes: ("lent", taking, first row,
        scans) into an array a read() lent while the ring is empty; ("ring",
        None, position, scans) into the ring, whole scans up to its end;
        ("dropped", ...) when the ring is full; None once stopping.

        A card cannot deliver ahead of its clock; a virtual card that
        delivers at once does. While the reads are ahead of the clock they
        keep at most AHEAD_READS reads in the ring (the consumer then finds
        it empty and lends its array, and the scans are copied once), and a
        full ring waits for room until the clock has caught up."""
        caught_up = self._caught_up()
        with self._changed:
            while not self._stopping:
                remaining = caught_up - time.monotonic()
                taking = self._lent
                if taking is not None and taking.lent and self._written == self._taken and not self._gaps:
                    # Ahead of the clock the scans are there at once: longer reads into the
                    # array wake its reader less often. Never more than the ring holds, where
                    # they go should it take the array back meanwhile.
                    most = self._read_scans * (AHEAD_READS_LENT if remaining > 0 else 1)
                    scans = min(most, self.capacity, len(taking.out) - taking.rows)
                    if scans > 0:
                        self._in_read = True
                        return "lent", taking, taking.rows, scans
                held = self._written - self._taken
                if held < self.capacity and (remaining <= 0 or held < AHEAD_READS * self._read_scans):
                    start = self._written % self.capacity
                    self._in_read = True
                    return "ring", None, start, min(self.capacity - held, self._read_scans, self.capacity - start)
                if remaining <= 0:
                    self._in_read = True
                    return "dropped", None, 0, self._read_scans
                self._changed.wait(remaining)
        return None

    def _read_next(self):
        """One read of the card, where _room() says; False once the reader
        is to end (stopped, or the read failed)."""
        try:
            room = self._room()
            if room is None:
                return self._end()
            where, taking, start, scans = room
            into = taking.out if where == "lent" else self._ring if where == "ring" else self._dropped
            target = into[start : start + scans]
            try:
                self._scans.fill(target)
            finally:
                with self._changed:
                    self._in_read = False
                    self._changed.notify_all()
            if self._stopping:
                return self._end()  # read after the stop: taken at the stop's own rate
            first_scan = self._read_from_card
            self._read_from_card += scans
            self._largest_backlog = max(self._largest_backlog, self._backlog_now())
            with self._changed:
                self._place(where, taking, target)
                self._changed.notify_all()
            if self._callback is not None:
                self._call_back(target, first_scan)
            return True
        except Exception as failure:  # noqa: BLE001 - handed to the consumer
            # After stop() or Card.close() a read fails as it should.
            if not self._stopping and self._card._acquiring:
                self._failure = failure
            return self._end()

    def _end(self):
        with self._changed:
            self._ended = True
            self._changed.notify_all()
        return False

    def _place(self, where, taking, scans):
        """With the lock held: counts the scans just read where they went. An
        array lent meanwhile taken back has them copied into the (empty) ring."""
        if where == "dropped":
            self._lose(len(scans))
            return
        if where == "lent" and taking.lent:
            taking.rows += len(scans)
            self._taken += len(scans)
        elif where == "lent":
            start = self._written % self.capacity
            first = min(len(scans), self.capacity - start)
            self._ring[start : start + first] = scans[:first]
            self._ring[: len(scans) - first] = scans[first:]
        self._written += len(scans)

    def _lose(self, scans):
        """With the lock held: `scans` scans read were dropped; they join a
        gap that ends where they start."""
        first_scan = self._written + self.lost
        if self._gaps and self._gaps[-1][0] == self._written:
            gap = self._gaps[-1][1]
            self._gaps[-1] = (self._written, Gap(gap.first_scan, gap.scans + scans))
            self.gaps[-1] = self._gaps[-1][1]
        else:
            self._gaps.append((self._written, Gap(first_scan, scans)))
            self.gaps.append(self._gaps[-1][1])
        self.lost += scans

    def _call_back(self, scans, first_scan):
        """Hands the callback every callback_scans scans read, in order."""
        self._pending_callback.append(scans.copy())
        pending = sum(len(part) for part in self._pending_callback)
        if pending < self._callback_scans:
            return
        joined = numpy.concatenate(self._pending_callback)
        first = first_scan + len(scans) - pending
        whole = pending - pending % self._callback_scans
        for at in range(0, whole, self._callback_scans):
            block = joined[at : at + self._callback_scans]
            self._callback(_scan_array(block, first + at, (), self._timing))
        self._pending_callback = [joined[whole:]] if whole < pending else []
