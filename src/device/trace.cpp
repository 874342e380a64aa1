#include "device/trace.h"

#include <cstdio>
#include <mutex>
#include <vector>

#include "card_model/driver_protocol.h"
#include "platform/platform.h"

namespace kvd::trace {

struct Sink {
    platform::File *file;
    std::mutex mutex;
};

std::atomic<Sink *> g_sink{nullptr};

namespace {

std::mutex g_switchMutex;

// Sinks are kept once made: a request on another thread may still be writing
// through the old one while the trace is switched.
Sink *makeSink(platform::File *file) {
    static auto *kept = new std::vector<Sink *>;
    kept->push_back(new Sink{file, {}});
    return kept->back();
}

uint32_t appendHex(char *out, const uint8_t *data, uint32_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (uint32_t i = 0; i < size; ++i) {
        out[2 * i] = kDigits[data[i] >> 4];
        out[2 * i + 1] = kDigits[data[i] & 0x0F];
    }
    return 2 * size;
}

// Applies KVD4093_TRACE when the library loads.
const bool g_fromEnvironment = [] {
    if (const char *path = platform::environmentVariable("KVD4093_TRACE"); path && *path)
        traceTo(path);
    return true;
}();

} // namespace

uint32_t format(const Line &line, char *out) {
    constexpr uint32_t kMaxShown = 32; // what the line buffer holds; callers pick fewer
    const char *name = protocol::requestName(line.code);
    int length = name ? std::snprintf(out, 100, "card=%d %s", line.card, name)
                      : std::snprintf(out, 100, "card=%d 0x%08x", line.card, line.code);
    if (protocol::isBulk(line.code))
        length += std::snprintf(out + length, 24, " pipe=%u", line.pipe);
    length += std::snprintf(out + length, 60, " len=%u ret=%u ok=%d", line.asked, line.returned,
                            line.result != 0 ? 1 : 0);
    if (line.data != nullptr && line.dataSize > 0) {
        length += std::snprintf(out + length, 8, " data=");
        length += int(appendHex(out + length, line.data, line.dataSize < kMaxShown ? line.dataSize : kMaxShown));
    }
    out[length++] = '\n';
    return uint32_t(length);
}

namespace {

void append(const char *text, uint32_t length) {
    Sink *sink = g_sink.load(std::memory_order_acquire);
    if (sink == nullptr)
        return;
    std::lock_guard lock(sink->mutex);
    if (sink->file != nullptr)
        platform::writeFile(sink->file, text, length);
}

} // namespace

void record(const Line &line) {
    if (!enabled())
        return;
    char text[192];
    append(text, format(line, text));
}

void recordBusyOpen(int32_t card, uint32_t status) {
    if (!enabled())
        return;
    char text[96];
    const int length =
        std::snprintf(text, sizeof text, "card=%d OPEN status=%u busy: in use by another program\n", card, status);
    append(text, uint32_t(length));
}

bool traceTo(const char *path) {
    std::lock_guard lock(g_switchMutex);
    platform::File *file = path ? platform::openFileForAppend(path) : nullptr;
    Sink *old = g_sink.exchange(file ? makeSink(file) : nullptr, std::memory_order_acq_rel);
    if (old != nullptr) {
        std::lock_guard sinkLock(old->mutex);
        platform::closeFile(old->file);
        old->file = nullptr; // the record stays: a late writer finds it closed
    }
    return file != nullptr || path == nullptr;
}

} // namespace kvd::trace
