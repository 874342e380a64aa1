"""Every function the package declares is found in the export tables of both
Windows DLLs, looked up the way the package looks it up on Windows; the
Windows loader matches export names exactly, so a name missing from a table
fails here as it would fail there.

The tables are read from the DLLs of the win32 and win64 builds with objdump;
for a DLL not built, from src/host/KVD4093.def, whose exported names the
build gives both DLLs unchanged (only the internal symbols differ)."""

import re
import shutil
import subprocess

import pytest

from conftest import REPOSITORY
from kvd4093 import _library, _stream_library

EXPORT_TABLE = REPOSITORY / "src" / "host" / "KVD4093.def"
STREAM_EXPORT_TABLE = REPOSITORY / "stream" / "KVD4093Stream.def"
DLLS = {
    "win32": (REPOSITORY / "build" / "win32" / "bin" / "KVD4093.dll", "i686-w64-mingw32-objdump"),
    "win64": (REPOSITORY / "build" / "win64" / "bin" / "KVD4093.dll", "x86_64-w64-mingw32-objdump"),
}
EXPORT_COUNT = 45


def names_in_dll(path, objdump):
    """The names of the DLL's export table, as objdump -p lists them."""
    listing = subprocess.run([objdump, "-p", str(path)], check=True, capture_output=True, text=True).stdout
    table = listing.split("[Ordinal/Name Pointer] Table", 1)[1].split("\n\n", 1)[0]
    return set(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)$", table, re.M))


def names_in_def(table=EXPORT_TABLE):
    """The exported names of the .def: the part before '=' of each export line."""
    text = re.sub(r";[^\n]*", "", table.read_text())
    return set(re.findall(r"^([A-Za-z0-9_@]+)=", text, re.M))


def export_names(build):
    path, cross_objdump = DLLS[build]
    objdump = shutil.which(cross_objdump) or shutil.which("objdump")
    if path.is_file() and objdump:
        return names_in_dll(path, objdump)
    return names_in_def()


class ExportTable:
    """A loaded DLL as ctypes shows it: an attribute for each export name,
    AttributeError for any other, as GetProcAddress finds them."""

    def __init__(self, names):
        self._names = names

    def __getattr__(self, name):
        if name not in self._names:
            raise AttributeError(name)
        return name


@pytest.fixture(scope="module", params=sorted(DLLS))
def exports(request):
    names = export_names(request.param)
    assert len(names) == EXPORT_COUNT, "the whole table was read"
    return ExportTable(names)


@pytest.mark.parametrize("name", sorted(_library.DECLARATIONS))
def test_every_declared_function_is_found_in_both_dlls(exports, name):
    arguments = _library.DECLARATIONS[name][1]
    found = _library._find(exports, name, len(arguments), windows=True)
    assert found in (name, "_%s@%d" % (name, 4 * len(arguments)))


# KVD4093Stream.dll exports the names of its .def file in both builds alike.
@pytest.mark.parametrize("name", sorted(_stream_library.DECLARATIONS))
def test_every_declared_stream_function_is_found_in_the_stream_dll(name):
    arguments = _stream_library.DECLARATIONS[name][1]
    found = _library._find(ExportTable(names_in_def(STREAM_EXPORT_TABLE)), name, len(arguments), windows=True)
    assert found in (name, "_%s@%d" % (name, 4 * len(arguments)))


def test_the_def_file_names_every_export_of_each_dll():
    # Both readings agree where the DLL exists; else this compares the .def with itself.
    assert {build: export_names(build) for build in DLLS} == {build: names_in_def() for build in DLLS}


@pytest.mark.parametrize(
    "windows, expected",
    [
        (True, ["KVD4093_SetDeviceTrigLevel", "_KVD4093_SetDeviceTrigLevel@8"]),
        (False, ["KVD4093_SetDeviceTrigLevel"]),
    ],
)
def test_the_names_looked_for(windows, expected):
    assert _library.export_names("KVD4093_SetDeviceTrigLevel", 2, windows) == expected


def test_the_plain_name_comes_first_and_a_missing_one_names_every_form():
    both = ExportTable({"KVD4093_ReleaseDevice", "_KVD4093_ReleaseDevice@4"})
    assert _library._find(both, "KVD4093_ReleaseDevice", 1, windows=True) == "KVD4093_ReleaseDevice"
    with pytest.raises(AttributeError, match="KVD4093_ReleaseDevice, _KVD4093_ReleaseDevice@4"):
        _library._find(ExportTable(set()), "KVD4093_ReleaseDevice", 1, windows=True)
    with pytest.raises(AttributeError):
        _library._find(ExportTable({"_KVD4093_ReleaseDevice@4"}), "KVD4093_ReleaseDevice", 1, windows=False)
