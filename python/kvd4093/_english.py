"""The English rendering of every Chinese message the library logs: the
package's copy of include/KVD4093_messages_english.h, which its test holds
to the header. "%d" stands for a number the message carries."""

import re

RENDERINGS = {
    "设备句柄hDevice无效": "the device handle hDevice is not valid",
    "物理ID号=%d的设备不存在": "no device with physical ID %d exists",
    "USB设备无效，请重新复位Windows系统": "the USB device is not valid; restart the Windows system",
    "置量程失败": "setting the range failed",
    "置硬件参数失败": "setting the hardware parameters failed",
    "启动AD失败": "starting AD failed",
    "初始化读失败": "the initial read failed",
    "读AD数据失败": "reading AD data failed",
    "文件名不能为空": "the file name must not be empty",
    "文件句柄hFileObject无效": "the file handle hFileObject is not valid",
}

_PATTERNS = [
    (re.compile("".join("(-?[0-9]+)" if part == "%d" else re.escape(part) for part in re.split("(%d)", logged))),
     english)
    for logged, english in RENDERINGS.items()
]


def english_rendering(message):
    """The English of a logged message, its number filled in; None for a
    message the table does not hold (the English ones among them)."""
    for pattern, english in _PATTERNS:
        match = pattern.fullmatch(message)
        if match:
            return english.replace("%d", match.group(1)) if match.groups() else english
    return None
