// The device list report: how many cards there are, the physical ID and
// logical number of each card that opens, and what the two numbers mean.
#include <cstdio>

#include "device/opening.h"
#include "core/messages.h"

namespace kvd::device {
namespace {

constexpr int32_t kLogicalNumbersListed = 32;
constexpr int32_t kCardsBeyondWhichToUseLogicalNumbers = 16;

// The driver's count, asked of the first card that opens.
int32_t countCards() {
    for (int32_t n = 0; n < kLogicalNumbersListed; ++n) {
        KVD4093_HANDLE handle = createDevice(n);
        if (handle == KVD4093_INVALID_HANDLE)
            continue;
        const int32_t count = deviceCount(handle);
        releaseDevice(handle);
        return count;
    }
    return 0;
}

template <class... Args>
void appendFormatted(std::string &report, const char *format, Args... args) {
    char piece[256];
    std::snprintf(piece, sizeof piece, format, args...);
    report += piece;
}

} // namespace

std::string deviceListReport() {
    std::string report;
    appendFormatted(report, text::kListCountFormat, countCards());
    report += text::kListHeading;
    for (int32_t n = 0; n < kLogicalNumbersListed; ++n) {
        KVD4093_HANDLE handle = createDevice(n);
        if (handle == KVD4093_INVALID_HANDLE)
            continue;
        appendFormatted(report, text::kListCardFormat, static_cast<unsigned>(readPhysicalId(handle)),
                        static_cast<unsigned>(n));
        releaseDevice(handle);
    }
    report += "\r\n";
    report += text::kListNoteLogical;
    report += text::kListNotePhysical;
    appendFormatted(report, text::kListNoteUniqueFormat, kCardsBeyondWhichToUseLogicalNumbers);
    report += text::kListNoteUseLogical;
    return report;
}

} // namespace kvd::device
