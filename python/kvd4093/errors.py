"""The exception raised for every failing library call."""

import ctypes

from ._english import english_rendering

# Room for the longest message the library logs (55 bytes) with a wide margin;
# the answer also holds the name, its two brackets and the terminating zero.
_MESSAGE_ROOM = 1024
_ENCODING = "gbk"  # the library's texts are code page 936


class Error(Exception):
    """A library call failed.

    function: the library function that failed, e.g. "KVD4093_CreateDeviceEx".
    code:     the thread's last-error code the library's error log set (1 or 2
              for a logged failure).
    message:  the library's message for the failure, decoded from GBK, e.g.
              "物理ID号=99的设备不存在"; "No error message" when the library
              logged nothing for it.
    english:  the message in English, e.g. "no device with physical ID 99
              exists"; the message itself where the library wrote English.
    """

    def __init__(self, function, code, message):
        super().__init__(function, code, message)  # kept whole by pickling
        self.function = function
        self.code = code
        self.message = message
        self.english = english_rendering(message) or message

    def __str__(self):
        english = "" if self.english == self.message else " (%s)" % self.english
        return "%s failed: %s%s (code %d)" % (self.function, self.message, english, self.code)


def newest_message(library, name):
    """The error log's newest message for `name` and the thread's last-error
    code, as KVD4093_GetLastErrorEx answers them ("message[name]")."""
    encoded = name.encode("ascii")
    answer = ctypes.create_string_buffer(_MESSAGE_ROOM + len(encoded) + 3)
    code = library.KVD4093_GetLastErrorEx(encoded, answer)
    text = answer.value
    echo = b"[" + encoded + b"]"
    if text.endswith(echo):
        text = text[: -len(echo)]
    return int(code), text.decode(_ENCODING, errors="replace")


def failure(library, function, logged_as=None):
    """The Error for a failed call of `function`, with the message the library
    logged for it; `logged_as` names the entry when the library logs the
    failure under another function's name."""
    code, message = newest_message(library, logged_as or function)
    return Error(function, code, message)
