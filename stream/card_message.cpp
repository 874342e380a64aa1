#include "card_message.h"

#include <cstring>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

#include "KVD4093.h"
#include "KVD4093_messages_english.h"

namespace kvd::stream {
namespace {

// The answer is the message, then the name in brackets, then the
// terminating zero; the longest message the library logs is far below this.
constexpr size_t kRoomForMessage = 1024;

// The message alone, without the "[name]" the log's answer ends with.
std::string_view withoutEcho(std::string_view answer, std::string_view name) {
    if (answer.size() < name.size() + 2 || !answer.ends_with(']'))
        return answer;
    const std::string_view echo = answer.substr(answer.size() - name.size() - 2);
    return echo[0] == '[' && echo.substr(1, name.size()) == name ? answer.substr(0, answer.size() - echo.size())
                                                                 : answer;
}

bool plainAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

} // namespace

#if defined(_WIN32)

std::string gbkToUtf8(std::string_view gbk) {
    if (gbk.empty() || plainAscii(gbk))
        return std::string(gbk);
    constexpr UINT kGbk = 936;
    const int wide = MultiByteToWideChar(kGbk, 0, gbk.data(), int(gbk.size()), nullptr, 0);
    if (wide <= 0)
        return std::string(gbk);
    std::wstring utf16(size_t(wide), L'\0');
    MultiByteToWideChar(kGbk, 0, gbk.data(), int(gbk.size()), utf16.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(bytes > 0 ? bytes : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

#else

// Converts what it can; a byte iconv refuses becomes '?' and the rest goes on.
std::string gbkToUtf8(std::string_view gbk) {
    if (plainAscii(gbk))
        return std::string(gbk);
    iconv_t converter = iconv_open("UTF-8", "GBK");
    if (converter == iconv_t(-1))
        return std::string(gbk);
    std::string out;
    std::string input(gbk);
    char *in = input.data();
    size_t inLeft = input.size();
    char buffer[256];
    while (inLeft > 0) {
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, size_t(outPtr - buffer));
        if (result == size_t(-1) && errno != E2BIG) {
            out.push_back('?');
            ++in;
            --inLeft;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(converter);
    return out;
}

#endif

std::string cardMessage(const char *loggedName) {
    // The answer echoes the name, so its room grows with the name.
    std::vector<char> answer(std::strlen(loggedName) + kRoomForMessage, '\0');
    KVD4093_GetLastErrorEx(loggedName, answer.data());
    std::string shown = gbkToUtf8(answer.data());
    if (const std::string english = messages::englishRendering(withoutEcho(answer.data(), loggedName));
        !english.empty())
        shown.append(" (").append(english).append(")");
    return shown;
}

} // namespace kvd::stream
