"""Every function the package declares matches include/KVD4093.h or
include/KVD4093_stream.h: name, result type and argument types, in order;
and so does every record: its fields' types and names."""

import ctypes
import re

import pytest

from conftest import REPOSITORY
from kvd4093 import _library, _stream_library

HEADERS = {name: (REPOSITORY / "include" / name).read_text() for name in ("KVD4093.h", "KVD4093_stream.h")}
HEADER, STREAM_HEADER = HEADERS["KVD4093.h"], HEADERS["KVD4093_stream.h"]

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
    "void": None,
    "void *": ctypes.c_void_p,
    "double": ctypes.c_double,
    "int64_t": ctypes.c_int64,
    "int64_t *": ctypes.POINTER(ctypes.c_int64),
    "KVD4093_STREAM *": ctypes.c_void_p,
    "KVD4093_STREAM_CALLBACK": _stream_library.CALLBACK,
    "const KVD4093_STREAM_CONFIG *": ctypes.POINTER(_stream_library.Config),
    "const KVD4093_STREAM_CARD *": ctypes.POINTER(_stream_library.StreamCard),
    "KVD4093_STREAM_BLOCK *": ctypes.POINTER(_stream_library.Block),
    "KVD4093_STREAM_STATUS *": ctypes.POINTER(_stream_library.Status),
    "KVD4093_STREAM_BUFFER *": ctypes.POINTER(_stream_library.Buffer),
    "KVD4093_STREAM_SEGMENT *": ctypes.POINTER(_stream_library.Segment),
    "float": ctypes.c_float,
}


def declared_in_header(header=HEADER, api="KVD4093_API"):
    """name: (result type, argument types), the parameter names dropped."""
    pattern = re.compile(api + r"\s+(\w[\w ]*?\s*\*?)\s*KVD4093_CALL\s+(\w+)\(([^)]*)\);")
    functions = {}
    for result, name, parameters in pattern.findall(header):
        parameters = " ".join(parameters.split())
        types = [] if parameters == "void" else [re.sub(r"\s*\w+$", "", p) for p in parameters.split(", ")]
        functions[name] = (result.strip(), types)
    return functions


def fields_in_header(header, record):
    """(type, name) of each field of `record`, the comments dropped."""
    body = re.search(r"typedef struct %s \{(.*?)\}" % record, header, re.S).group(1)
    body = re.sub(r"/\*.*?\*/|//[^\n]*", "", body, flags=re.S)
    return [re.fullmatch(r"(.+?)\s*(\w+)", field.strip()).groups() for field in body.split(";") if field.strip()]


HEADER_FUNCTIONS = declared_in_header()
STREAM_FUNCTIONS = declared_in_header(STREAM_HEADER, "KVD4093_STREAM_API")


def test_the_header_is_read_whole():
    assert len(HEADER_FUNCTIONS) == 45
    assert ctypes.sizeof(_library.ADPara) == 68


@pytest.mark.parametrize("name", sorted(_library.DECLARATIONS))
def test_declaration_matches_the_header(name):
    result, arguments = _library.DECLARATIONS[name]
    header_result, header_arguments = HEADER_FUNCTIONS[name]
    assert result is C_TYPES[header_result]
    assert arguments == [C_TYPES[argument] for argument in header_arguments]


@pytest.mark.parametrize("name", sorted(_stream_library.DECLARATIONS))
def test_stream_declaration_matches_the_header(name):
    result, arguments = _stream_library.DECLARATIONS[name]
    header_result, header_arguments = STREAM_FUNCTIONS[name]
    assert result is C_TYPES[header_result]
    assert arguments == [C_TYPES[argument] for argument in header_arguments]


@pytest.mark.parametrize(
    "header, name, record",
    [("KVD4093.h", "ADPara", _library.ADPara)]
    + [("KVD4093_stream.h", name, record) for name, record in _stream_library.RECORDS.items()],
)
def test_the_records_follow_the_header(header, name, record):
    fields = fields_in_header(HEADERS[header], name)
    assert [(C_TYPES[kind], field) for kind, field in fields] == [(kind, field) for field, kind in record._fields_]
