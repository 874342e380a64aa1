#include "panel/log_renderings.h"

#include <iterator>

namespace kvd::tool::panel {
namespace {

constexpr LogRendering kRenderings[] = {
    {"Sorry, there are no device drivers found in your system",
     "Sorry, there are no device drivers found in your system"},
    {"设备句柄hDevice无效", "the device handle hDevice is not valid"},
    {"物理ID号=%d的设备不存在", "no device with physical ID %d exists"},
    {"USB设备无效，请重新复位Windows系统", "the USB device is not valid; restart the Windows system"},
    {"置量程失败", "setting the range failed"},
    {"置硬件参数失败", "setting the hardware parameters failed"},
    {"启动AD失败", "starting AD failed"},
    {"初始化读失败", "the initial read failed"},
    {"读AD数据失败", "reading AD data failed"},
    {"文件名不能为空", "the file name must not be empty"},
    {"文件句柄hFileObject无效", "the file handle hFileObject is not valid"},
};

constexpr std::string_view kNumber = "%d";

// True when the message is of the pattern; `number` receives what stands
// where the pattern says %d.
bool matches(std::string_view pattern, std::string_view message, std::string &number) {
    const size_t at = pattern.find(kNumber);
    if (at == std::string_view::npos)
        return pattern == message;
    const std::string_view before = pattern.substr(0, at), after = pattern.substr(at + kNumber.size());
    if (message.size() < before.size() + after.size() + 1 || message.substr(0, before.size()) != before ||
        message.substr(message.size() - after.size()) != after)
        return false;
    number = std::string(message.substr(before.size(), message.size() - before.size() - after.size()));
    const size_t digits = number.size() - (number[0] == '-' ? 1 : 0);
    return digits > 0 && number.find_first_not_of("0123456789", number.size() - digits) == std::string::npos;
}

} // namespace

const LogRendering *logRenderingsBegin() { return std::begin(kRenderings); }
const LogRendering *logRenderingsEnd() { return std::end(kRenderings); }

std::string englishOf(std::string_view message) {
    for (const LogRendering &rendering : kRenderings) {
        std::string number;
        if (!matches(rendering.message, message, number))
            continue;
        std::string english = rendering.english;
        if (const size_t at = english.find(kNumber); at != std::string::npos)
            english.replace(at, kNumber.size(), number);
        return english;
    }
    return {};
}

} // namespace kvd::tool::panel
