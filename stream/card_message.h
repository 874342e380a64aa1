// The card library's messages as the stream library passes them on: UTF-8
// (the card library logs GBK, code page 936), with the English rendering of
// a Chinese message beside it (KVD4093_messages_english.h).
#pragma once

#include <string>
#include <string_view>

namespace kvd::stream {

// What the card library's error log holds for a function name (the answer
// of KVD4093_GetLastErrorEx, "message[name]"), in UTF-8, with the English
// rendering of a Chinese message after it:
// "物理ID号=7的设备不存在[KVD4093_CreateDeviceEx] (no device with physical ID 7 exists)".
std::string cardMessage(const char *loggedName);

// GBK text in UTF-8; bytes that are not GBK become '?'.
std::string gbkToUtf8(std::string_view gbk);

} // namespace kvd::stream
