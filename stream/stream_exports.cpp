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
#include <vector>

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

bool isOpenCard(KVD4093_HANDLE card) { return card != nullptr && card != KVD4093_INVALID_HANDLE; }

// Opens the cards a configuration names, in order; on failure releases those
// it opened and says which did not open.
bool openNamed(const KVD4093_STREAM_CONFIG &config, const CheckedConfig &checked, std::vector<CardMember> *members) {
    for (const CardName &name : checked.cards) {
        KVD4093_HANDLE card = name.byPhysicalId ? KVD4093_CreateDeviceEx(name.value) : KVD4093_CreateDevice(name.value);
        int32_t logical = 0, physical = name.value;
        if (!isOpenCard(card) ||
            (!name.byPhysicalId && !KVD4093_GetDeviceCurrentID(card, &logical, &physical))) {
            const char *function = !isOpenCard(card)   ? (name.byPhysicalId ? "KVD4093_CreateDeviceEx" : "KVD4093_CreateDevice")
                                                       : "KVD4093_GetDeviceCurrentID";
            const std::string what = checked.cards.size() == 1 ? std::string(config.cards)
                                     : (name.byPhysicalId ? "id:" : "") + std::to_string(name.value);
            openError = "card \"" + what + "\" does not open: " + function + " failed: " + cardMessage(function);
            if (isOpenCard(card))
                KVD4093_ReleaseDevice(card);
            for (const CardMember &opened : *members)
                KVD4093_ReleaseDevice(opened.handle);
            return false;
        }
        members->push_back({card, physical, {}});
    }
    return true;
}

// The program's cards: open handles, each card once.
bool checkGiven(const KVD4093_STREAM_CARD *cards, int32_t count, std::vector<CardMember> *members) {
    if (cards == nullptr || count < 1 || count > KVD4093_STREAM_MOST_CARDS) {
        openError = "cards: give 1 to " + std::to_string(KVD4093_STREAM_MOST_CARDS) + " cards, not " +
                    (cards == nullptr ? std::string("NULL") : std::to_string(count));
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        const KVD4093_STREAM_CARD &card = cards[i];
        const std::string which = "cards[" + std::to_string(i) + "]";
        if (!isOpenCard(card.device)) {
            openError = which + ".device is not an open card (NULL or KVD4093_INVALID_HANDLE)";
            return false;
        }
        for (const CardMember &before : *members) {
            if (before.handle == card.device || before.physicalId == card.physicalId) {
                openError = which + " (card ID " + std::to_string(card.physicalId) +
                            ") is given twice: a card takes one place in a group";
                return false;
            }
        }
        members->push_back({card.device, card.physicalId, {}});
    }
    return true;
}

// Two places of a list may name one card ("0" and "id:7"): refused once the
// physical IDs are known.
bool distinctCards(const std::vector<CardMember> &members) {
    for (size_t i = 0; i < members.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (members[i].physicalId == members[j].physicalId) {
                openError = "card ID " + std::to_string(members[i].physicalId) +
                            " is named twice: a card takes one place in a group";
                return false;
            }
        }
    }
    return true;
}

KVD4093_STREAM *openOn(const KVD4093_STREAM_CONFIG *config, const KVD4093_STREAM_CARD *given, int32_t count,
                       bool readCards) {
    try {
        if (config == nullptr) {
            openError = "config is NULL";
            return nullptr;
        }
        std::vector<CardMember> members;
        if (!readCards && !checkGiven(given, count, &members))
            return nullptr;
        std::string reason;
        const std::optional<CheckedConfig> checked = checkConfig(*config, readCards, members.size(), &reason);
        if (!checked) {
            openError = reason;
            return nullptr;
        }
        if (readCards && !openNamed(*config, *checked, &members))
            return nullptr;
        // From here on the set releases the cards the stream opened.
        const auto release = [&] {
            if (readCards)
                for (const CardMember &member : members)
                    KVD4093_ReleaseDevice(member.handle);
        };
        if (!distinctCards(members)) {
            release();
            return nullptr;
        }
        ADPara record{};
        if (config->record != nullptr) {
            record = *config->record;
        } else if (!KVD4093_LoadParaAD(members.front().handle, &record)) {
            openError = "KVD4093_LoadParaAD failed: " + cardMessage("KVD4093_LoadParaAD");
            release();
            return nullptr;
        }
        record.FirstChannel = config->firstChannel;
        record.LastChannel = config->lastChannel;
        record.Frequency = checked->frequency;
        for (size_t i = 0; i < members.size(); ++i)
            members[i].record = cardRecord(record, *checked, i);
        auto cards = std::make_unique<CardSet>(std::move(members), checked->clockMode, readCards);
        KVD4093_STREAM *token = liveStreams().newToken();
        auto stream = std::make_shared<Stream>(token, *config, *checked, std::move(cards));
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
    return kvd::stream::openOn(config, nullptr, 0, true);
}

KVD4093_STREAM_API KVD4093_STREAM *KVD4093_CALL KVD4093_OpenStreamOnDevice(KVD4093_HANDLE hDevice,
                                                                         const KVD4093_STREAM_CONFIG *config) {
    if (!kvd::stream::isOpenCard(hDevice)) {
        kvd::stream::openError = "hDevice is not an open card (NULL or KVD4093_INVALID_HANDLE)";
        return nullptr;
    }
    // The physical ID, for KVD4093_GetStreamCards(); -1 when its status read fails.
    int32_t logical = 0, physical = -1;
    if (!KVD4093_GetDeviceCurrentID(hDevice, &logical, &physical))
        physical = -1;
    const KVD4093_STREAM_CARD card{hDevice, physical, 0};
    return kvd::stream::openOn(config, &card, 1, false);
}

KVD4093_STREAM_API KVD4093_STREAM *KVD4093_CALL KVD4093_OpenStreamOnDevices(const KVD4093_STREAM_CARD *cards,
                                                                          int32_t count,
                                                                          const KVD4093_STREAM_CONFIG *config) {
    return kvd::stream::openOn(config, cards, count, false);
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

KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamCards(KVD4093_STREAM *stream, KVD4093_STREAM_CARD *cards,
                                                              int32_t room) {
    const auto live = liveStreams().lease(stream);
    if (live == nullptr)
        return 0;
    const kvd::stream::CardSet &set = live->cards();
    for (size_t i = 0; cards != nullptr && i < set.size() && int64_t(i) < int64_t(room); ++i) {
        const kvd::stream::CardMember member = set.member(i);
        cards[i] = {member.handle, member.physicalId, 0};
    }
    return int32_t(set.size());
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

KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_WriteStreamDA(KVD4093_STREAM *stream, int32_t nSetupCode,
                                                             int32_t nDAValue, int32_t nChannel) {
    const auto live = liveStreams().lease(stream);
    return live != nullptr ? live->outputs().writeDA(live->card(), nSetupCode, nDAValue, nChannel) : 0;
}

KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_SetStreamDO(KVD4093_STREAM *stream, const uint8_t *pDOStates) {
    const auto live = liveStreams().lease(stream);
    if (live == nullptr || pDOStates == nullptr)
        return 0;
    return live->outputs().setDO(live->card(), pDOStates);
}

KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamSegments(KVD4093_STREAM *stream,
                                                                 KVD4093_STREAM_SEGMENT *segments, int32_t room) {
    const auto live = liveStreams().lease(stream);
    return live != nullptr ? live->segments().copy(segments, room) : -1;
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
