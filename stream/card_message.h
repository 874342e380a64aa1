// The card library's messages as the stream library passes them on: UTF-8
// (the card library logs GBK, code page 936), with the English rendering of
// a Chinese message beside it.
#pragma once

#include <string>

#include "gbk_text.h"
#include "logged_message.h"

namespace kvd::stream {

// What the card library's error log holds for a function name, in UTF-8,
// with the English after it.
inline std::string cardMessage(const char *loggedName) {
    return common::loggedMessage(loggedName, common::gbkToUtf8);
}

} // namespace kvd::stream
