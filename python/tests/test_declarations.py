"""Every function the package declares matches include/KVD4093.h: name,
result type and argument types, in order."""

import ctypes
import re

import pytest

from conftest import REPOSITORY
from kvd4093 import _library

HEADER = (REPOSITORY / "include" / "KVD4093.h").read_text()

C_TYPES = {
    "int32_t": ctypes.c_int32,
    "uint32_t": ctypes.c_uint32,
    "KVD4093_HANDLE": ctypes.c_void_p,
    "const char *": ctypes.c_char_p,
    "char *": ctypes.POINTER(ctypes.c_char),
    "int32_t *": ctypes.POINTER(ctypes.c_int32),
    "uint32_t *": ctypes.POINTER(ctypes.c_uint32),
    "uint16_t *": ctypes.POINTER(ctypes.c_uint16),
    "uint8_t *": ctypes.POINTER(ctypes.c_uint8),
    "const uint8_t *": ctypes.POINTER(ctypes.c_uint8),
    "ADPara *": ctypes.POINTER(_library.ADPara),
    "const ADPara *": ctypes.POINTER(_library.ADPara),
}


def declared_in_header():
    """name: (result type, argument types), the parameter names dropped."""
    pattern = re.compile(r"KVD4093_API\s+(\w+)\s+KVD4093_CALL\s+(\w+)\(([^)]*)\);")
    functions = {}
    for result, name, parameters in pattern.findall(HEADER):
        parameters = " ".join(parameters.split())
        types = [] if parameters == "void" else [re.sub(r"\s*\w+$", "", p) for p in parameters.split(", ")]
        functions[name] = (result, types)
    return functions


HEADER_FUNCTIONS = declared_in_header()


def test_the_header_is_read_whole():
    assert len(HEADER_FUNCTIONS) == 45


@pytest.mark.parametrize("name", sorted(_library.DECLARATIONS))
def test_declaration_matches_the_header(name):
    result, arguments = _library.DECLARATIONS[name]
    header_result, header_arguments = HEADER_FUNCTIONS[name]
    assert result is C_TYPES[header_result]
    assert arguments == [C_TYPES[argument] for argument in header_arguments]


def test_the_record_follows_the_header():
    body = re.search(r"typedef struct ADPara \{(.*?)\}", HEADER, re.S).group(1)
    body = re.sub(r"/\*.*?\*/|//[^\n]*", "", body, flags=re.S)  # the field table's comments
    fields = re.findall(r"(\w+)\s+(\w+);", body)
    assert [(C_TYPES[kind], name) for kind, name in fields] == [(kind, name) for name, kind in _library.ADPara._fields_]
    assert ctypes.sizeof(_library.ADPara) == 68
