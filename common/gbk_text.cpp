#include "gbk_text.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace kvd::common {
namespace {

bool plainAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool isGbk(std::string_view encoding) { return encoding == "GBK" || encoding == "CP936" || encoding == "GB18030"; }

#if defined(_WIN32)

std::string convert(std::string_view encoding, std::string_view gbk) {
    if (encoding != "UTF-8")
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
std::string convert(std::string_view encoding, std::string_view gbk) {
    iconv_t converter = iconv_open(std::string(encoding).c_str(), "GBK");
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

} // namespace

std::string gbkTo(std::string_view encoding, std::string_view gbk) {
    if (plainAscii(gbk) || isGbk(encoding))
        return std::string(gbk);
    return convert(encoding, gbk);
}

} // namespace kvd::common
