#include "common/text_conversion.h"

#include <clocale>
#include <string>

#if defined(KVD4093_TOOL_HAVE_ICONV)
#include <langinfo.h>

#include "gbk_text.h"
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

} // namespace

std::string gbkToTerminal(std::string_view gbk) {
    static const std::string target = terminalEncoding();
    return common::gbkTo(target, gbk);
}

std::string gbkToUtf8(std::string_view gbk) { return common::gbkToUtf8(gbk); }

#else

std::string gbkToTerminal(std::string_view gbk) { return std::string(gbk); }

std::string gbkToUtf8(std::string_view gbk) { return std::string(gbk); }

#endif

} // namespace kvd::tool
