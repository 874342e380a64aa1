#include "support/config_home.h"

namespace kvd::testing {

std::string ConfigHome::settingsText() const { return withoutCarriageReturns(readWholeFile(settingsFile())); }

std::string withoutCarriageReturns(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out.push_back(text[i]);
    return out;
}

} // namespace kvd::testing
