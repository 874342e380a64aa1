// The library's texts are GBK (code page 936); a person's terminal may use
// another encoding. This converts for display.
#pragma once

#include <string>
#include <string_view>

namespace kvd::tool {

// Reads the terminal's encoding from the locale; main calls it once.
void useTerminalLocale();

// The GBK text in the terminal's encoding. A C or POSIX locale (plain ASCII)
// gets UTF-8, what terminals show today. Bytes that are not GBK, or cannot be
// shown, become '?'. Without iconv the bytes go out unchanged.
std::string gbkToTerminal(std::string_view gbk);

// The GBK text in UTF-8, whatever the terminal, for a browser page. Bytes
// that are not GBK become '?'. Without iconv the bytes go out unchanged.
std::string gbkToUtf8(std::string_view gbk);

} // namespace kvd::tool
