"""Reading whole scans from a running acquisition straight into numpy arrays."""

import ctypes

import numpy

from .errors import Error, failure

# KVD4093_InitDeviceAD reads this many samples and discards them, so the first
# read starts that far into the stream of scans.
SET_UP_SAMPLES = 512
# One read request asks for at most this many samples (1 MiB) ...
MOST_SAMPLES_PER_READ = 1 << 19
# ... and, on a card that delivers at its rate, for about this long, so that
# Ctrl-C is seen soon.
SECONDS_PER_READ = 0.05

_SAMPLE_POINTER = ctypes.POINTER(ctypes.c_uint16)

# What a read ended by close() from another thread says.
CLOSED_MESSAGE = "the card was closed during the acquisition"


def samples_per_read(frequency):
    """Samples one read asks for at `frequency` samples a second."""
    return int(min(max(frequency * SECONDS_PER_READ, 1), MOST_SAMPLES_PER_READ))


class ScanReader:
    """Fills arrays of whole scans from the card's sample stream.

    The stream after the set-up starts SET_UP_SAMPLES samples in; when that
    is not a whole number of scans, the rest of the partial scan is read and
    dropped first, so row 0 of the first array is a scan that starts at the
    first channel. Reads that end inside a scan simply go on into the same
    array, so every array handed out holds whole scans.
    """

    def __init__(self, library, handle, channels, frequency, closed=lambda: False):
        """closed: tells whether the card is being closed or was closed; a
        read that fails then says so rather than what the library logged."""
        self._library = library
        self._handle = handle
        self._closed = closed
        self._read_size = samples_per_read(frequency)
        self._count = ctypes.c_uint32()
        self._to_skip = (-SET_UP_SAMPLES) % channels

    def fill(self, array):
        """Reads samples into every element of the C-contiguous uint16 `array`."""
        if self._to_skip:
            scratch = numpy.empty(self._to_skip, dtype=numpy.uint16)
            self._to_skip = 0
            self._read_into(scratch)
        self._read_into(array)

    def _read_into(self, array):
        read = self._library.KVD4093_ReadDeviceAD
        address = array.ctypes.data
        total = array.size
        done = 0
        while done < total:
            wanted = min(total - done, self._read_size)
            target = ctypes.cast(address + 2 * done, _SAMPLE_POINTER)
            if not read(self._handle, target, wanted, ctypes.byref(self._count)):
                if self._closed():
                    raise Error("KVD4093_ReadDeviceAD", 0, CLOSED_MESSAGE)
                raise failure(self._library, "KVD4093_ReadDeviceAD")
            got = min(self._count.value, wanted)
            if got == 0:
                # A read that succeeds with nothing would otherwise repeat for ever.
                raise Error("KVD4093_ReadDeviceAD", 0, "the card delivered no samples")
            done += got
