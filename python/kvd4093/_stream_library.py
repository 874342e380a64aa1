"""Finding, loading and declaring the stream library (libkvd4093stream.so.1,
KVD4093Stream.dll): background acquisition on a reader thread of its own.

Its records and functions are declared with the types of
include/KVD4093_stream.h. It is built on the card library and shares its
handles, so the card library is always loaded first: the system loader then
binds the stream library to that same copy.
"""

import ctypes
import os
import threading
from pathlib import Path

from . import _library
from ._library import ADPara, HANDLE

LIBRARY_VARIABLE = "KVD4093_STREAM_LIBRARY"

STOP, CONTINUE = 0, 1  # KVD4093_STREAM_STOP, KVD4093_STREAM_CONTINUE
GAP_DISCONNECTED = 2  # KVD4093_STREAM_GAP_DISCONNECTED
RECONNECT_FOREVER = -1.0  # KVD4093_STREAM_RECONNECT_FOREVER

STREAM = ctypes.c_void_p
_i32, _u32, _i64 = ctypes.c_int32, ctypes.c_uint32, ctypes.c_int64


class Block(ctypes.Structure):
    """KVD4093_STREAM_BLOCK: where the scans a read or a callback got belong."""

    _fields_ = [("firstScan", _i64), ("scansLostBefore", _i64), ("gapCause", _i32), ("reserved", _i32)]


_FUNCTION_TYPE = ctypes.WINFUNCTYPE if _library._STDCALL else ctypes.CFUNCTYPE
CALLBACK = _FUNCTION_TYPE(None, STREAM, ctypes.POINTER(ctypes.c_uint16), _u32, ctypes.POINTER(Block), ctypes.c_void_p)


class Config(ctypes.Structure):
    """KVD4093_STREAM_CONFIG: what a stream acquires."""

    _fields_ = [
        ("cards", ctypes.c_char_p),
        ("firstChannel", _i32),
        ("lastChannel", _i32),
        ("scanRate", ctypes.c_double),
        ("record", ctypes.POINTER(ADPara)),
        ("bufferSeconds", ctypes.c_double),
        ("onOverrun", _i32),
        ("reconnectSeconds", ctypes.c_float),
        ("scans", _i64),
        ("callbackScans", _u32),
        ("reserved1", _u32),
        ("callback", CALLBACK),
        ("callbackContext", ctypes.c_void_p),
        ("clockMode", _i32),
        ("clockOutputCode", _i32),
        ("clockInputCode", _i32),
        ("reserved2", _i32),
    ]


class StreamCard(ctypes.Structure):
    """KVD4093_STREAM_CARD: one card of a group."""

    _fields_ = [("device", HANDLE), ("physicalId", _i32), ("reserved", _i32)]


class Status(ctypes.Structure):
    """KVD4093_STREAM_STATUS: the state of a stream at one instant."""

    _fields_ = [
        ("scansRead", _i64),
        ("scansLost", _i64),
        ("backlog", _i64),
        ("largestBacklog", _i64),
        ("scansQueued", _i64),
        ("running", _i32),
        ("overrun", _i32),
        ("failed", _i32),
        ("waitingForCard", _i32),
    ]


class Segment(ctypes.Structure):
    """KVD4093_STREAM_SEGMENT: one start of a stream's cards."""

    _fields_ = [
        ("firstScan", _i64),
        ("lostAtScan", _i64),
        ("utcNs", _i64),
        ("monotonicNs", _i64),
        ("lostCardId", _i32),
        ("reserved", _i32),
    ]


class Buffer(ctypes.Structure):
    """KVD4093_STREAM_BUFFER: the shape of a stream's buffer."""

    _fields_ = [
        ("blockScans", _u32),
        ("blocks", _u32),
        ("seconds", ctypes.c_double),
        ("scanRate", ctypes.c_double),
        ("bytes", _i64),
        ("cut", _i32),
        ("reserved", _i32),
    ]


RECORDS = {
    "KVD4093_STREAM_BLOCK": Block,
    "KVD4093_STREAM_CONFIG": Config,
    "KVD4093_STREAM_CARD": StreamCard,
    "KVD4093_STREAM_STATUS": Status,
    "KVD4093_STREAM_BUFFER": Buffer,
    "KVD4093_STREAM_SEGMENT": Segment,
}

# name: (result type, argument types)
DECLARATIONS = {
    "KVD4093_OpenStreamOnDevice": (STREAM, [HANDLE, ctypes.POINTER(Config)]),
    "KVD4093_OpenStreamOnDevices": (STREAM, [ctypes.POINTER(StreamCard), _i32, ctypes.POINTER(Config)]),
    "KVD4093_StartStream": (_i32, [STREAM]),
    "KVD4093_ReadStream": (_i64, [STREAM, ctypes.POINTER(ctypes.c_uint16), _u32, _i32, ctypes.POINTER(Block)]),
    "KVD4093_GetStreamStatus": (_i32, [STREAM, ctypes.POINTER(Status)]),
    "KVD4093_StopStream": (_i32, [STREAM]),
    "KVD4093_CloseStream": (None, [STREAM]),
    "KVD4093_GetStreamError": (ctypes.c_char_p, [STREAM]),
    "KVD4093_GetStreamStartTime": (_i32, [STREAM, ctypes.POINTER(_i64), ctypes.POINTER(_i64)]),
    "KVD4093_GetStreamBuffer": (_i32, [STREAM, ctypes.POINTER(Buffer)]),
    "KVD4093_GetStreamSegments": (_i32, [STREAM, ctypes.POINTER(Segment), _i32]),
    "KVD4093_WriteStreamDA": (_i32, [STREAM, _i32, _i32, _i32]),
    "KVD4093_SetStreamDO": (_i32, [STREAM, ctypes.POINTER(ctypes.c_uint8)]),
}


def system_name():
    """The name the system loader knows the stream library by."""
    return "KVD4093Stream.dll" if _library._WINDOWS else "libkvd4093stream.so.1"


def locate(card_library, environment=None, package_folder=None):
    """Where the stream library is loaded from: KVD4093_STREAM_LIBRARY when
    set, else a copy in the folder of the card library loaded by path
    (`card_library`) or, in a build tree, in the stream/ folder beside that
    one (src/), else one installed beside this package, else the system
    loader's name."""
    environment = os.environ if environment is None else environment
    package_folder = Path(__file__).parent if package_folder is None else Path(package_folder)
    chosen = environment.get(LIBRARY_VARIABLE)
    if chosen:
        return chosen
    card_folder = Path(card_library).parent
    folders = [card_folder, card_folder.parent / "stream"] if os.path.dirname(card_library) else []
    for folder in folders + [package_folder]:
        beside = folder / system_name()
        if beside.is_file():
            return str(beside)
    return system_name()


_loaded = None
_loading = threading.Lock()


def library():
    """The stream library, loaded on first use from where locate() says,
    after the card library."""
    global _loaded
    card_library = _library.library()
    with _loading:
        if _loaded is None:
            path = locate(card_library.path)
            _loaded = _library.Library(path, DECLARATIONS, LIBRARY_VARIABLE, "KVD4093 stream library")
        return _loaded
