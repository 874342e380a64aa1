// The stream library's C interface. A KVD4093_STREAM pointer is a token,
// never dereferenced: every call looks it up in the set of live streams and
// holds the stream (a lease, a shared pointer) for the call, so a stream
// closed by another thread meanwhile stays in memory until the call returns
// its failure value. Tokens are never handed out twice.
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "KVD4093_stream.h"
#include "card_message.h"
#include "stream.h"

namespace kvd::stream {
namespace {

// The reason of the last failed open on this thread.
thread_local std::string openError;

constexpr char kNotOpen[] = "not an open stream: NULL, closed already, or never opened";

class LiveStreams {
public:
    KVD4093_STREAM *add(const std::shared_ptr<Stream> &stream, KVD4093_STREAM *token) {
        const std::lock_guard lock(mutex_);
        streams_.emplace(reinterpret_cast<uintptr_t>(token), stream);
        return token;
    }
    KVD4093_STREAM *newToken() {
        const std::lock_guard lock(mutex_);
        next_ += kTokenStep;
        return reinterpret_cast<KVD4093_STREAM *>(next_);
    }
    std::shared_ptr<Stream> lease(KVD4093_STREAM *token) {
        if (token == nullptr)
            return nullptr;
        const std::lock_guard lock(mutex_);
        const auto found = streams_.find(reinterpret_cast<uintptr_t>(token));
        return found == streams_.end() ? nullptr : found->second;
    }
    std::shared_ptr<Stream> remove(KVD4093_STREAM *token) {
        const std::lock_guard lock(mutex_);
        const auto found = streams_.find(reinterpret_cast<uintptr_t>(token));
        if (found == streams_.end())
            return nullptr;
        std::shared_ptr<Stream> stream = std::move(found->second);
        streams_.erase(found);
        return stream;
    }

private:
    // Tokens look like aligned pointers and start far from address 0.
    static constexpr uintptr_t kTokenStep = 16;
    std::mutex mutex_;
    std::unordered_map<uintptr_t, std::shared_ptr<Stream>> streams_;
    uintptr_t next_ = 0x5354000;
};

// Never destroyed: a stream left open at exit is not closed by a destructor
// that may run after the card library is gone.
LiveStreams &liveStreams() {
    static LiveStreams *streams = new LiveStreams;
    return *streams;
}

KVD4093_STREAM *openOn(const KVD4093_STREAM_CONFIG *config, KVD4093_HANDLE given, bool readCards) {
    try {
        if (config == nullptr) {
            openError = "config is NULL";
            return nullptr;
        }
        std::string reason;
        const std::optional<CheckedConfig> checked = checkConfig(*config, readCards, &reason);
        if (!checked) {
            openError = reason;
            return nullptr;
        }
        KVD4093_HANDLE card = given;
        if (readCards) {
            const bool byId = checked->by == CheckedConfig::CardBy::PhysicalId;
            card = byId ? KVD4093_CreateDeviceEx(checked->card) : KVD4093_CreateDevice(checked->card);
            if (card == KVD4093_INVALID_HANDLE || card == nullptr) {
                const char *function = byId ? "KVD4093_CreateDeviceEx" : "KVD4093_CreateDevice";
                openError = std::string("card \"") + config->cards + "\" does not open: " + function +
                            " failed: " + cardMessage(function);
                return nullptr;
            }
        } else if (card == nullptr || card == KVD4093_INVALID_HANDLE) {
            openError = "hDevice is not an open card (NULL or KVD4093_INVALID_HANDLE)";
            return nullptr;
        }
        ADPara record{};
        if (config->record != nullptr) {
            record = *config->record;
        } else if (!KVD4093_LoadParaAD(card, &record)) {
            openError = "KVD4093_LoadParaAD failed: " + cardMessage("KVD4093_LoadParaAD");
            if (readCards)
                KVD4093_ReleaseDevice(card);
            return nullptr;
        }
        record.FirstChannel = config->firstChannel;
        record.LastChannel = config->lastChannel;
        record.Frequency = checked->frequency;
        KVD4093_STREAM *token = liveStreams().newToken();
        auto stream = std::make_shared<Stream>(token, *config, *checked, card, readCards, record);
        openError.clear();
        return liveStreams().add(stream, token);
    } catch (const std::bad_alloc &) {
        openError = "no memory for the stream";
        return nullptr;
    }
}

} // namespace
} // namespace kvd::stream

using kvd::stream::liveStreams;

extern "C" {

KVD4093_STREAM_API KVD4093_STREAM *KVD4093_CALL KVD4093_OpenStream(const KVD4093_STREAM_CONFIG *config) {
    return kvd::stream::openOn(config, nullptr, true);
}

KVD4093_STREAM_API KVD4093_STREAM *KVD4093_CALL KVD4093_OpenStreamOnDevice(KVD4093_HANDLE hDevice,
                                                                         const KVD4093_STREAM_CONFIG *config) {
    return kvd::stream::openOn(config, hDevice, false);
}

KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_StartStream(KVD4093_STREAM *stream) {
    const auto live = liveStreams().lease(stream);
    return live != nullptr && live->start() ? 1 : 0;
}

KVD4093_STREAM_API int64_t KVD4093_CALL KVD4093_ReadStream(KVD4093_STREAM *stream, uint16_t *samples,
                                                          uint32_t maxScans, int32_t timeoutMs,
                                                          KVD4093_STREAM_BLOCK *block) {
    const auto live = liveStreams().lease(stream);
    return live != nullptr ? live->read(samples, maxScans, timeoutMs, block) : -1;
}

KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamStatus(KVD4093_STREAM *stream,
                                                               KVD4093_STREAM_STATUS *status) {
    const auto live = liveStreams().lease(stream);
    if (live == nullptr || status == nullptr)
        return 0;
    live->status(status);
    return 1;
}

KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_StopStream(KVD4093_STREAM *stream) {
    const auto live = liveStreams().lease(stream);
    return live != nullptr && live->stop() ? 1 : 0;
}

KVD4093_STREAM_API void KVD4093_CALL KVD4093_CloseStream(KVD4093_STREAM *stream) {
    // A callback must not close its stream (the reader cannot wait for
    // itself): the stream stays open.
    if (const auto live = liveStreams().lease(stream); live == nullptr || live->onReaderThread())
        return;
    if (const auto live = liveStreams().remove(stream))
        live->close();
}

KVD4093_STREAM_API const char *KVD4093_CALL KVD4093_GetStreamError(KVD4093_STREAM *stream) {
    if (stream == nullptr)
        return kvd::stream::openError.c_str();
    const auto live = liveStreams().lease(stream);
    return live != nullptr ? live->error() : kvd::stream::kNotOpen;
}

KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamChannels(KVD4093_STREAM *stream) {
    const auto live = liveStreams().lease(stream);
    return live != nullptr ? int32_t(live->channels()) : 0;
}

KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamStartTime(KVD4093_STREAM *stream, int64_t *utcNs,
                                                                  int64_t *monotonicNs) {
    const auto live = liveStreams().lease(stream);
    if (live == nullptr || utcNs == nullptr || monotonicNs == nullptr)
        return 0;
    return live->startTime(utcNs, monotonicNs) ? 1 : 0;
}

KVD4093_STREAM_API KVD4093_HANDLE KVD4093_CALL KVD4093_GetStreamDevice(KVD4093_STREAM *stream) {
    const auto live = liveStreams().lease(stream);
    return live != nullptr ? live->card() : nullptr;
}

KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamRecord(KVD4093_STREAM *stream, ADPara *record) {
    const auto live = liveStreams().lease(stream);
    if (live == nullptr || record == nullptr)
        return 0;
    *record = live->record();
    return 1;
}

KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamBuffer(KVD4093_STREAM *stream,
                                                               KVD4093_STREAM_BUFFER *buffer) {
    const auto live = liveStreams().lease(stream);
    if (live == nullptr || buffer == nullptr)
        return 0;
    live->buffer(buffer);
    return 1;
}

} // extern "C"
