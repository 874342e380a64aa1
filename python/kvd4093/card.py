"""Cards: listing, opening, acquiring, digital and analog I/O, settings."""

import collections
import ctypes

import numpy

from . import _library
from .acquisition import ScanReader
from .errors import failure
from .settings import check_int32, check_integer, from_record, to_record, with_changes
from .stream import Stream

LOGICAL_NUMBERS = 32  # the library opens cards at logical numbers 0 to 31
LINES = 16  # digital inputs and outputs
DA_CHANNELS = 8
DA_LARGEST = 0x0FFF  # 12-bit DA values
TRIGGER_LARGEST = 10000  # the trigger level's full scale
HIGHEST_CHANNEL = 255  # channel numbers reach the card as one byte
FASTEST_RATE = 10_000_000

CardInfo = collections.namedtuple("CardInfo", "number physical_id version")
CardInfo.__doc__ = """A card present: its logical number (place in the order of plugging in),
its physical ID (set on the card; None if it did not answer) and its firmware
version as text such as "1.0.1" (None if it did not answer)."""


def version_text(word):
    """"major.minor.patch" from the version word of KVD4093_GetDevVersion."""
    return "%d.%d.%d" % ((word >> 16) & 0xFF, (word >> 8) & 0xFF, word & 0xFF)


def _identify(library, handle):
    """(logical number, physical ID, version text) of an open card; None for
    what the card did not answer."""
    logical, physical = ctypes.c_int32(-1), ctypes.c_int32(-1)
    version = ctypes.c_uint32()
    identified = library.KVD4093_GetDeviceCurrentID(handle, ctypes.byref(logical), ctypes.byref(physical))
    versioned = library.KVD4093_GetDevVersion(handle, ctypes.byref(version), None)
    return (
        logical.value if identified else None,
        physical.value if identified else None,
        version_text(version.value) if versioned else None,
    )


def cards():
    """Every card that opens among logical numbers 0 to 31, as CardInfo.

    Each number without a card leaves an entry in the library's error log.
    """
    library = _library.library()
    found = []
    for number in range(LOGICAL_NUMBERS):
        handle = library.KVD4093_CreateDevice(number)
        if handle == _library.INVALID_HANDLE:
            continue
        if handle is None:  # opened, but the card did not take its open packet
            found.append(CardInfo(number, None, None))
            continue
        _, physical, version = _identify(library, handle)
        library.KVD4093_ReleaseDevice(handle)
        found.append(CardInfo(number, physical, version))
    return found


def open(number=None, physical_id=None):  # noqa: A001 - the package's own open()
    """Opens a card by its logical number or its physical ID (give one of the
    two; neither opens number 0) and returns it as a Card.

    Raises Error with the library's message when no such card opens.
    """
    if number is not None and physical_id is not None:
        raise ValueError("give number or physical_id, not both")
    library = _library.library()
    if physical_id is not None:
        function = "KVD4093_CreateDeviceEx"
        handle = library.KVD4093_CreateDeviceEx(check_int32("physical_id", physical_id))
        if handle in (_library.INVALID_HANDLE, None):
            raise failure(library, function)
    else:
        function = "KVD4093_CreateDevice"
        number = 0 if number is None else check_int32("number", number)
        if number < 0:
            raise ValueError("number must be 0 or more, not %d" % number)
        handle = library.KVD4093_CreateDevice(number)
        if handle == _library.INVALID_HANDLE:
            raise failure(library, function)
        if handle is None:  # the card did not take its open packet
            raise failure(library, function, logged_as="KVD4093_WriteDeviceDA")
    return Card(library, handle)


def _count(name, value, lowest):
    value = check_integer(name, value)
    if value < lowest:
        raise ValueError("%s must be %d or more, not %d" % (name, lowest, value))
    return value


def _checked_range(name, value, lowest, highest):
    value = check_int32(name, value)
    if not lowest <= value <= highest:
        raise ValueError("%s must be %d to %d, not %d" % (name, lowest, highest, value))
    return value


class Card:
    """An open card. Use it as a context manager, or call close().

    Attributes: number (logical number), physical_id, version ("1.0.1").
    A Card is for one thread at a time; only close() may come from another
    thread, to end an acquisition there (it raises Error saying the card was
    closed).
    """

    def __init__(self, library, handle):
        self._library = library
        self._handle = handle
        self._closing = False
        self._acquiring = False
        self._streams = set()  # the stream library's streams open on this card
        self._do = None
        self._trigger_level = None
        self.number, self.physical_id, self.version = _identify(library, handle)

    def __repr__(self):
        state = "closed" if self._handle is None else "open"
        return "<kvd4093.Card number=%s physical_id=%s version=%s %s>" % (
            self.number, self.physical_id, self.version, state)

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # noqa: BLE001 - nothing to report to at collection
            pass

    @property
    def closed(self):
        return self._handle is None

    def close(self):
        """Stops an acquisition still running and releases the card. Once the
        card is released, further calls do nothing; when the release fails,
        this raises Error and the card stays open, so close() can be tried
        again."""
        if self._handle is None:
            return
        # A read in another thread that the release ends must tell why.
        self._closing = True
        try:
            for stream in list(self._streams):
                stream.close()
            self._stop(quiet=True)
        finally:
            try:
                if not self._library.KVD4093_ReleaseDevice(self._handle):
                    raise failure(self._library, "KVD4093_ReleaseDevice")
                self._handle = None
            finally:
                self._closing = False

    def _closed_or_closing(self):
        return self._closing or self._handle is None

    def _open_handle(self):
        if self._handle is None:
            raise ValueError("the card is closed")
        return self._handle

    # ---- settings ----------------------------------------------------------

    def settings(self):
        """The card's saved AD settings (the defaults where none are saved)."""
        record = _library.ADPara()
        if not self._library.KVD4093_LoadParaAD(self._open_handle(), ctypes.byref(record)):
            raise failure(self._library, "KVD4093_LoadParaAD")
        return from_record(record)

    def save_settings(self, settings):
        """Saves `settings` (ADSettings) as the card's AD settings."""
        record = to_record(settings)
        if not self._library.KVD4093_SaveParaAD(self._open_handle(), ctypes.byref(record)):
            raise failure(self._library, "KVD4093_SaveParaAD")

    def reset_settings(self):
        """Deletes the card's saved AD settings and returns the defaults."""
        record = _library.ADPara()
        if not self._library.KVD4093_ResetParaAD(self._open_handle(), ctypes.byref(record)):
            raise failure(self._library, "KVD4093_ResetParaAD")
        return from_record(record)

    # ---- acquisition -------------------------------------------------------

    def acquire(self, scans, channels=None, rate=None, **fields):
        """Acquires `scans` whole scans and returns them as a numpy uint16
        array of shape (scans, last - first + 1): row k is scan k, column j
        channel first + j, in offset binary (32768 is zero).

        channels: (first, last), default the saved settings' channels.
        rate:     samples a second of all channels together (Frequency),
                  default the saved settings' rate.
        fields:   any other ADSettings field by name, e.g. input_range=2.
        The acquisition starts from the card's saved settings and is stopped
        before this returns, also when it raises (KeyboardInterrupt too).
        """
        scans = _count("scans", scans, 0)
        settings = self._acquisition_settings(channels, rate, fields)
        data = numpy.empty((scans, _channel_count(settings)), dtype=numpy.uint16)
        if scans:
            with self._running(settings) as reader:
                reader.fill(data)
        return data

    def stream(self, block_scans, channels=None, rate=None, **fields):
        """A generator of numpy uint16 arrays of `block_scans` whole scans
        each, shaped and started as acquire() does, until it is closed.

        The acquisition starts with the first block asked for. Leaving a
        `for` loop over it, or calling its close(), stops the acquisition.
        A new array is handed out every time, so blocks may be kept.
        """
        block_scans = _count("block_scans", block_scans, 1)
        settings = self._acquisition_settings(channels, rate, fields)
        shape = (block_scans, _channel_count(settings))
        return self._blocks(settings, shape)

    def start(self, channels=None, rate=None, buffer_seconds=2, on_overrun="raise", callback=None,
              callback_scans=None, reconnect=None, **fields):  # fmt: skip
        """Starts an acquisition read in the background and returns it as a
        running kvd4093.stream.Stream: the stream library's reader thread
        reads the card into a buffer of `buffer_seconds` of whole scans, from
        which stream.read(n) takes them. Set up as acquire() is.

        on_overrun: what stream.read() does when the buffer was full and
                    scans were dropped: "raise" kvd4093.Overrun at the gap,
                    or "continue" past it (the array it returns says where).
        callback:   called on the reader thread with every callback_scans
                    scans read (default: about 0.1 s of them), as a
                    ScanArray; it must be quick and must not read the
                    stream. An exception it raises ends the reading and
                    comes out of stream.read().
        reconnect:  seconds to wait for the card when it is pulled out
                    (math.inf: no limit): it is opened again, given back the
                    DA and digital outputs written through this Card, and
                    started again; the scans its clock gave meanwhile are a
                    Gap with cause "disconnected" in stream.gaps, read()
                    goes on past it, and stream.segments lists the starts.
                    None (the default): the stream ends at an unplug.
        Use the stream in a with block, or call its stop(): the card runs
        until then, or until nothing holds the stream any more.
        """
        settings = self._acquisition_settings(channels, rate, fields)
        return Stream(self, settings, buffer_seconds, on_overrun, callback, callback_scans, reconnect=reconnect)

    def _blocks(self, settings, shape):
        with self._running(settings) as reader:
            while True:
                self._open_handle()  # the card may have been closed between blocks
                block = numpy.empty(shape, dtype=numpy.uint16)
                reader.fill(block)
                yield block

    def _acquisition_settings(self, channels, rate, fields):
        if channels is not None and {"first_channel", "last_channel"} & fields.keys():
            raise TypeError("give channels or first_channel and last_channel, not both")
        if rate is not None and "frequency" in fields:
            raise TypeError("give rate or frequency, not both")
        changes = dict(fields)
        if channels is not None:
            first, last = channels
            changes["first_channel"], changes["last_channel"] = first, last
        if rate is not None:
            changes["frequency"] = rate
        settings = with_changes(self.settings(), changes)
        _checked_range("first channel", settings.first_channel, 0, HIGHEST_CHANNEL)
        _checked_range("last channel", settings.last_channel, settings.first_channel, HIGHEST_CHANNEL)
        _checked_range("rate", settings.frequency, 1, FASTEST_RATE)
        return settings

    def _running(self, settings):
        return _Running(self, settings)

    def _check_idle(self):
        if self._acquiring or any(stream.busy() for stream in list(self._streams)):
            raise RuntimeError("an acquisition already runs on this card")

    def _stop(self, quiet):
        if not self._acquiring:
            return
        self._acquiring = False
        stopped = self._library.KVD4093_ReleaseDeviceAD(self._handle)
        if not stopped and not quiet:
            # The stop logs its failures under the set-up's name.
            raise failure(self._library, "KVD4093_ReleaseDeviceAD", logged_as="KVD4093_InitDeviceAD")

    # ---- digital and analog I/O --------------------------------------------

    @property
    def di(self):
        """The 16 digital inputs as an int, bit n = input n."""
        states = (ctypes.c_uint8 * LINES)()
        if not self._library.KVD4093_GetDeviceDI(self._open_handle(), states):
            raise failure(self._library, "KVD4093_GetDeviceDI")
        return sum(1 << line for line, state in enumerate(states) if state & 1)

    @property
    def do(self):
        """The 16 digital outputs last set through this Card (bit n = output
        n), None before the first; setting it writes all 16 outputs."""
        return self._do

    @do.setter
    def do(self, value):
        value = _checked_range("do", value, 0, (1 << LINES) - 1)
        states = (ctypes.c_uint8 * LINES)(*((value >> line) & 1 for line in range(LINES)))
        stream = self._output_stream()
        written = (stream.library.KVD4093_SetStreamDO(stream.pointer, states) if stream
                   else self._library.KVD4093_SetDeviceDO(self._open_handle(), states))  # fmt: skip
        if not written:
            raise failure(self._library, "KVD4093_SetDeviceDO")
        self._do = value

    def _output_stream(self):
        """The open stream this card drives, whose writes of the outputs a
        reconnection gives back to the card (they go through it), or None."""
        handle = self._open_handle()
        for stream in list(self._streams):
            if stream.pointer is not None and stream.driver == handle:
                return stream
        return None

    def write_da(self, channel, value, setup_code=0):
        """Writes the 12-bit `value` (0 to 4095) to DA `channel` (0 to 7),
        after the channel's 3-bit setup code."""
        channel = _checked_range("channel", channel, 0, DA_CHANNELS - 1)
        value = _checked_range("value", value, 0, DA_LARGEST)
        setup_code = _checked_range("setup_code", setup_code, 0, 7)
        stream = self._output_stream()
        written = (stream.library.KVD4093_WriteStreamDA(stream.pointer, setup_code, value, channel) if stream
                   else self._library.KVD4093_WriteDeviceDA(self._open_handle(), setup_code, value, channel))  # fmt: skip
        if not written:
            raise failure(self._library, "KVD4093_WriteDeviceDA")

    @property
    def trigger_level(self):
        """The trigger level last set through this Card, 0 to 10000 (full
        scale), None before the first."""
        return self._trigger_level

    @trigger_level.setter
    def trigger_level(self, value):
        value = _checked_range("trigger_level", value, 0, TRIGGER_LARGEST)
        if not self._library.KVD4093_SetDeviceTrigLevel(self._open_handle(), value):
            raise failure(self._library, "KVD4093_SetDeviceTrigLevel")
        self._trigger_level = value


class _Running:
    """Starts an acquisition on entry and stops it on exit, however the
    block is left."""

    def __init__(self, card, settings):
        self._card = card
        self._settings = settings

    def __enter__(self):
        card = self._card
        handle = card._open_handle()
        card._check_idle()
        record = to_record(self._settings)
        card._acquiring = True
        try:
            if not card._library.KVD4093_InitDeviceAD(handle, ctypes.byref(record)):
                raise failure(card._library, "KVD4093_InitDeviceAD")
        except BaseException:
            # A failed set-up may have started the card before its first read.
            card._stop(quiet=True)
            raise
        return ScanReader(card._library, handle, _channel_count(self._settings), self._settings.frequency,
                          closed=card._closed_or_closing)

    def __exit__(self, kind, value, traceback):
        # Leaving a stream (GeneratorExit) is an ordinary end; a failure
        # already on its way is not hidden by one of the stop.
        ordinary = kind is None or kind is GeneratorExit
        self._card._stop(quiet=not ordinary)


def _channel_count(settings):
    return settings.last_channel - settings.first_channel + 1


__all__ = ["Card", "CardInfo", "cards", "open"]
