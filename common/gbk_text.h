// The card library's texts are GBK (code page 936); people and UTF-8 files
// want them in another encoding.
#pragma once

#include <string>
#include <string_view>

namespace kvd::common {

// `gbk` in `encoding` (an iconv name such as "UTF-8"); a byte that is not
// GBK becomes '?'. Text of plain ASCII, a GBK target and an encoding the
// system cannot convert to come back unchanged. On Windows only "UTF-8" is
// converted (through code page 936).
std::string gbkTo(std::string_view encoding, std::string_view gbk);

inline std::string gbkToUtf8(std::string_view gbk) { return gbkTo("UTF-8", gbk); }

} // namespace kvd::common
