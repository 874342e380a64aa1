// A message box on POSIX: the caption and text on standard error, converted
// from GBK to the character set of the user's environment, as Windows
// converts an ANSI text for the screen. There is no one to close a box, so it returns at once.
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <string>

#include "platform/platform.h"

namespace kvd::platform {
namespace {

// The character set of the user's environment, read from LC_ALL, LC_CTYPE
// and LANG as setlocale(LC_CTYPE, "") would, without touching the program's
// own locale (most programs never set it, and it then stays ASCII). The plain
// "C" and "POSIX" locales get UTF-8, as every terminal today shows it. A
// locale the system does not have is taken at its word: "zh_CN.GB18030"
// names GB18030.
std::string environmentCodeset() {
    if (locale_t user = ::newlocale(LC_CTYPE_MASK, "", locale_t(0))) {
        const std::string codeset = ::nl_langinfo_l(CODESET, user);
        ::freelocale(user);
        return codeset.empty() || codeset == "ANSI_X3.4-1968" ? "UTF-8" : codeset;
    }
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char *value = environmentVariable(variable);
        if (value == nullptr || *value == '\0')
            continue;
        const std::string name(value);
        const size_t dot = name.find('.');
        if (dot == std::string::npos)
            break;
        return name.substr(dot + 1, name.find('@', dot) - dot - 1);
    }
    return "UTF-8";
}

std::string toTerminal(const char *gbk) {
    iconv_t converter = iconv_open(environmentCodeset().c_str(), "GBK");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return gbk;
    std::string out;
    char buffer[1024];
    char *in = const_cast<char *>(gbk);
    size_t inLeft = std::strlen(gbk);
    while (inLeft > 0) {
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t done = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, size_t(outPtr - buffer));
        if (done == size_t(-1) && outPtr == buffer) { // unconvertible byte: show it as '?'
            out.push_back('?');
            ++in;
            --inLeft;
        }
    }
    iconv_close(converter);
    return out;
}

} // namespace

void osShowMessage(const char *text, const char *caption, uint32_t) {
    std::fprintf(stderr, "[%s]\n%s\n", toTerminal(caption).c_str(), toTerminal(text).c_str());
    std::fflush(stderr);
}

// There are no windows here, so no box has an owner.
void *foregroundWindow() { return nullptr; }

} // namespace kvd::platform
