// A message box on POSIX: the caption and text on standard error, converted
// from GBK to the terminal's encoding, as Windows converts an ANSI text for
// the screen. There is no one to close a box, so it returns at once.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <string>

#include "platform/platform.h"

namespace kvd::platform {
namespace {

std::string toTerminal(const char *gbk) {
    const char *codeset = nl_langinfo(CODESET);
    iconv_t converter = iconv_open(codeset && *codeset ? codeset : "UTF-8", "GBK");
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
