// What the card library's error log holds for a function name, as a program
// shows it to a person.
#pragma once

#include <string>
#include <string_view>

namespace kvd::common {

// The answer of KVD4093_GetLastErrorEx for `loggedName` ("message[name]"),
// turned from GBK by `fromGbk`, with the English rendering of a Chinese
// message after it (KVD4093_messages_english.h):
// "物理ID号=7的设备不存在[KVD4093_CreateDeviceEx] (no device with physical ID 7 exists)".
std::string loggedMessage(const char *loggedName, std::string (*fromGbk)(std::string_view));

} // namespace kvd::common
