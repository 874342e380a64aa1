"""kvd4093.Error gives the English of a Chinese message beside the
library's own text, from the package's copy of the table the tool and the
troubleshooting page use (include/KVD4093_messages_english.h)."""

import re

import pytest

import kvd4093
from conftest import REPOSITORY
from kvd4093 import _english

HEADER = (REPOSITORY / "include" / "KVD4093_messages_english.h").read_text()


def c_string(literal):
    """The bytes of adjacent C string literals with \\x escapes."""
    text = "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', literal))
    return re.sub(rb"\\x([0-9a-fA-F]{2})", lambda m: bytes([int(m.group(1), 16)]), text.encode("ascii"))


def header_renderings():
    entries = re.findall(r'\{\s*((?:"(?:[^"\\]|\\.)*"\s*)+),\s*((?:"(?:[^"\\]|\\.)*"\s*)+)\}', HEADER)
    return {c_string(logged).decode("gbk"): c_string(english).decode("ascii") for logged, english in entries}


def test_the_package_renders_as_the_header_does():
    assert len(_english.RENDERINGS) >= 10
    assert _english.RENDERINGS == header_renderings()


@pytest.mark.parametrize(
    "arguments, message, english",
    [
        (dict(physical_id=99), "物理ID号=99的设备不存在", "no device with physical ID 99 exists"),
        (dict(number=3), "Sorry, there are no device drivers found in your system",
         "Sorry, there are no device drivers found in your system"),
    ],
)
def test_an_error_gives_the_english_beside_the_librarys_text(arguments, message, english):
    with pytest.raises(kvd4093.Error) as raised:
        kvd4093.open(**arguments)
    assert (raised.value.message, raised.value.english) == (message, english)
    shown = message if english == message else "%s (%s)" % (message, english)
    assert str(raised.value) == "%s failed: %s (code 1)" % (raised.value.function, shown)


@pytest.mark.parametrize(
    "message, english",
    [
        ("物理ID号=-3的设备不存在", "no device with physical ID -3 exists"),
        ("启动AD失败", "starting AD failed"),
        ("启动AD失败了", None),
        ("物理ID号=的设备不存在", None),
        ("No error message", None),
    ],
)
def test_only_a_whole_message_of_the_table_is_rendered(message, english):
    assert _english.english_rendering(message) == english
