// The English rendering of every Chinese message the library logs, as the
// troubleshooting page gives it (docs/check_docs.py holds the page to this
// table, and the Python package's test holds its own copy to it). The tool
// and the stream library show the rendering beside each message they pass
// on, through englishRendering() below.
// C++ only, and not installed: it is part of neither the ABI nor the
// interface an application compiles against.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace kvd::messages {

struct EnglishRendering {
    const char *logged;  // GBK bytes as the error log holds them; "%d" stands for a number
    const char *english; // with "%d" where the message has it
};

inline constexpr EnglishRendering kEnglishRenderings[] = {
    // "设备句柄hDevice无效"
    {"\xc9\xe8\xb1\xb8\xbe\xe4\xb1\xfahDevice\xce\xde\xd0\xa7", "the device handle hDevice is not valid"},
    // "物理ID号=%d的设备不存在"
    {"\xce\xef\xc0\xedID\xba\xc5=%d\xb5\xc4\xc9\xe8\xb1\xb8\xb2\xbb\xb4\xe6\xd4\xda", "no device with physical ID %d exists"},
    // "USB设备无效，请重新复位Windows系统"
    {"USB\xc9\xe8\xb1\xb8\xce\xde\xd0\xa7\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xb8\xb4\xce\xbbWindows\xcf\xb5\xcd\xb3",
     "the USB device is not valid; restart the Windows system"},
    // "置量程失败"
    {"\xd6\xc3\xc1\xbf\xb3\xcc\xca\xa7\xb0\xdc", "setting the range failed"},
    // "置硬件参数失败"
    {"\xd6\xc3\xd3\xb2\xbc\xfe\xb2\xce\xca\xfd\xca\xa7\xb0\xdc", "setting the hardware parameters failed"},
    // "启动AD失败"
    {"\xc6\xf4\xb6\xaf" "AD\xca\xa7\xb0\xdc", "starting AD failed"},
    // "初始化读失败"
    {"\xb3\xf5\xca\xbc\xbb\xaf\xb6\xc1\xca\xa7\xb0\xdc", "the initial read failed"},
    // "读AD数据失败"
    {"\xb6\xc1" "AD\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc", "reading AD data failed"},
    // "文件名不能为空"
    {"\xce\xc4\xbc\xfe\xc3\xfb\xb2\xbb\xc4\xdc\xce\xaa\xbf\xd5", "the file name must not be empty"},
    // "文件句柄hFileObject无效"
    {"\xce\xc4\xbc\xfe\xbe\xe4\xb1\xfahFileObject\xce\xde\xd0\xa7", "the file handle hFileObject is not valid"},
};

namespace detail {

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number a pattern's "%d" stands for in `logged`, when the rest matches;
// GBK's second bytes are never ASCII digits, so digits are whole characters.
inline bool fillsPattern(std::string_view pattern, std::string_view logged, std::string *number) {
    constexpr std::string_view hole = "%d";
    const size_t at = pattern.find(hole);
    if (at == std::string_view::npos)
        return pattern == logged;
    const std::string_view before = pattern.substr(0, at), after = pattern.substr(at + hole.size());
    if (logged.size() <= before.size() + after.size() || !logged.starts_with(before) || !logged.ends_with(after))
        return false;
    const std::string_view middle = logged.substr(before.size(), logged.size() - before.size() - after.size());
    const std::string_view digits = middle[0] == '-' ? middle.substr(1) : middle;
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit))
        return false;
    *number = middle;
    return true;
}

} // namespace detail

// The rendering of a logged message (GBK, without the "[name]" the log's
// answer adds), its number filled in; empty for a message the table does
// not hold, as for the English ones.
inline std::string englishRendering(std::string_view logged) {
    for (const EnglishRendering &rendering : kEnglishRenderings) {
        std::string number;
        if (!detail::fillsPattern(rendering.logged, logged, &number))
            continue;
        std::string english = rendering.english;
        if (const size_t at = english.find("%d"); at != std::string::npos)
            english.replace(at, 2, number);
        return english;
    }
    return {};
}

} // namespace kvd::messages
