"""Finding, loading and declaring the KVD4093 shared library.

Every function the package calls is declared here with the argument and
result types of include/KVD4093.h, so ctypes converts and checks each call
the way a C compiler would.
"""

import ctypes
import os
import sys
import threading
from pathlib import Path

LIBRARY_VARIABLE = "KVD4093_LIBRARY"

HANDLE = ctypes.c_void_p
# KVD4093_INVALID_HANDLE: every bit set, as ctypes hands back a c_void_p result.
INVALID_HANDLE = ctypes.c_void_p(-1).value

_WINDOWS = sys.platform == "win32"
# 32-bit Windows: every export is __stdcall.
_STDCALL = _WINDOWS and ctypes.sizeof(ctypes.c_void_p) == 4


class ADPara(ctypes.Structure):
    """The AD parameter record: 17 signed 32-bit fields, 68 bytes."""

    _fields_ = [
        ("CheckStsMode", ctypes.c_int32),
        ("ADMode", ctypes.c_int32),
        ("FirstChannel", ctypes.c_int32),
        ("LastChannel", ctypes.c_int32),
        ("Frequency", ctypes.c_int32),
        ("InputRange", ctypes.c_int32),
        ("GroupInterval", ctypes.c_int32),
        ("LoopsOfGroup", ctypes.c_int32),
        ("Gains", ctypes.c_int32),
        ("TriggerMode", ctypes.c_int32),
        ("TriggerSource", ctypes.c_int32),
        ("TriggerType", ctypes.c_int32),
        ("TriggerDir", ctypes.c_int32),
        ("TrigWindow", ctypes.c_int32),
        ("GroundingMode", ctypes.c_int32),
        ("ClockSource", ctypes.c_int32),
        ("bClockOutput", ctypes.c_int32),
    ]


assert ctypes.sizeof(ADPara) == 68

_i32 = ctypes.c_int32
_u32 = ctypes.c_uint32
_PARA = ctypes.POINTER(ADPara)
_STATES = ctypes.POINTER(ctypes.c_uint8)  # 16 line states, one byte each

# name: (result type, argument types)
DECLARATIONS = {
    "KVD4093_CreateDevice": (HANDLE, [_i32]),
    "KVD4093_CreateDeviceEx": (HANDLE, [_i32]),
    "KVD4093_ReleaseDevice": (_i32, [HANDLE]),
    "KVD4093_GetDeviceCurrentID": (_i32, [HANDLE, ctypes.POINTER(_i32), ctypes.POINTER(_i32)]),
    "KVD4093_GetDevVersion": (_i32, [HANDLE, ctypes.POINTER(_u32), ctypes.POINTER(_u32)]),
    "KVD4093_InitDeviceAD": (_i32, [HANDLE, _PARA]),
    "KVD4093_ReadDeviceAD": (_i32, [HANDLE, ctypes.POINTER(ctypes.c_uint16), _u32, ctypes.POINTER(_u32)]),
    "KVD4093_ReleaseDeviceAD": (_i32, [HANDLE]),
    "KVD4093_SetDeviceTrigLevel": (_i32, [HANDLE, _i32]),
    "KVD4093_WriteDeviceDA": (_i32, [HANDLE, _i32, _i32, _i32]),
    "KVD4093_SetDeviceDO": (_i32, [HANDLE, _STATES]),
    "KVD4093_GetDeviceDI": (_i32, [HANDLE, _STATES]),
    "KVD4093_GetLastErrorEx": (_u32, [ctypes.c_char_p, ctypes.POINTER(ctypes.c_char)]),
    "KVD4093_SaveParaAD": (_i32, [HANDLE, _PARA]),
    "KVD4093_LoadParaAD": (_i32, [HANDLE, _PARA]),
    "KVD4093_ResetParaAD": (_i32, [HANDLE, _PARA]),
}


def system_name():
    """The name the system loader knows the library by."""
    return "KVD4093.dll" if _WINDOWS else "libkvd4093.so.1"


def locate(environment=None, package_folder=None):
    """Where the library is loaded from: KVD4093_LIBRARY when set, else a copy
    installed beside this package, else the system loader's name."""
    environment = os.environ if environment is None else environment
    package_folder = Path(__file__).parent if package_folder is None else Path(package_folder)
    chosen = environment.get(LIBRARY_VARIABLE)
    if chosen:
        return chosen
    beside = package_folder / system_name()
    if beside.is_file():
        return str(beside)
    return system_name()


def export_names(name, argument_count, windows=_WINDOWS):
    """The export names `name` is looked for under, in order: the name itself,
    then on Windows its decorated __stdcall form _name@bytes, 4 bytes an
    argument. Some exports carry only that form, in the 32-bit and the 64-bit
    DLL alike: both take their names from one table of 32-bit names."""
    if not windows:
        return [name]
    return [name, "_%s@%d" % (name, 4 * argument_count)]


def _find(library, name, argument_count, windows=_WINDOWS):
    """The function `name` of the loaded library, under the first of its
    export names the library has."""
    names = export_names(name, argument_count, windows)
    for candidate in names:
        try:
            return getattr(library, candidate)
        except AttributeError:
            pass
    raise AttributeError("the library exports none of %s" % ", ".join(names))


class Library:
    """A loaded library with every function the package calls declared:
    the card library's, unless told another's."""

    def __init__(self, path, declarations=None, variable=LIBRARY_VARIABLE, what="KVD4093 library"):
        loader = ctypes.WinDLL if _STDCALL else ctypes.CDLL
        # Windows: a bare name is searched the classic way (PATH included);
        # ctypes' default since Python 3.8 leaves PATH out.
        options = {"winmode": 0} if _WINDOWS and os.path.basename(path) == path else {}
        try:
            self.dll = loader(path, **options)
        except OSError as error:
            raise OSError("cannot load the %s %r (set %s to its path): %s" % (what, path, variable, error)) from error
        self.path = path
        for name, (result, arguments) in (DECLARATIONS if declarations is None else declarations).items():
            function = _find(self.dll, name, len(arguments))
            function.restype = result
            function.argtypes = arguments
            setattr(self, name, function)


_loaded = None
_loading = threading.Lock()


def library():
    """The library, loaded on first use from where locate() says."""
    global _loaded
    with _loading:
        if _loaded is None:
            _loaded = Library(locate())
        return _loaded
