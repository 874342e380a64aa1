#include "common/text_conversion.h"

#include <cerrno>
#include <clocale>
#include <string>

#if defined(KVD4093_TOOL_HAVE_ICONV)
#include <iconv.h>
#include <langinfo.h>
#endif

namespace kvd::tool {

void useTerminalLocale() { std::setlocale(LC_CTYPE, ""); }

#if defined(KVD4093_TOOL_HAVE_ICONV)
namespace {

std::string terminalEncoding() {
    const std::string codeset = nl_langinfo(CODESET);
    if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII")
        return "UTF-8";
    return codeset;
}

bool isGbkAlready(const std::string &encoding) {
    return encoding == "GBK" || encoding == "CP936" || encoding == "GB18030";
}

// Converts what it can; a byte iconv refuses becomes '?' and the rest goes on.
std::string convert(iconv_t converter, std::string_view text) {
    std::string out;
    std::string input(text);
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
    return out;
}

std::string gbkTo(const std::string &target, std::string_view gbk) {
    if (isGbkAlready(target))
        return std::string(gbk);
    iconv_t converter = iconv_open(target.c_str(), "GBK");
    if (converter == iconv_t(-1))
        return std::string(gbk);
    std::string converted = convert(converter, gbk);
    iconv_close(converter);
    return converted;
}

} // namespace

std::string gbkToTerminal(std::string_view gbk) {
    static const std::string target = terminalEncoding();
    return gbkTo(target, gbk);
}

std::string gbkToUtf8(std::string_view gbk) { return gbkTo("UTF-8", gbk); }

#else

std::string gbkToTerminal(std::string_view gbk) { return std::string(gbk); }

std::string gbkToUtf8(std::string_view gbk) { return std::string(gbk); }

#endif

} // namespace kvd::tool
