// The installed virtual cards and the backend ops table that reaches them.
#include "platform/virtual/card_registry.h"
#include "platform/virtual/shared_clock_line.h"

#include <memory>
#include <mutex>

#include "card_model/driver_protocol.h"
#include "platform/virtual/virtual_card.h"
#include "platform/virtual/virtual_card_impl.h"

namespace kvd::vcard {
namespace {

// The open-status of a logical number with no card: the OS's "no such file".
constexpr uint32_t kNoSuchCard = 2;

struct Registry {
    std::mutex mutex;
    std::vector<std::shared_ptr<VirtualCard>> cards;
    bool placed = false;
};

// Never destroyed: driver files may still be used and closed while the
// process shuts down.
Registry &registry() {
    static auto *instance = new Registry;
    return *instance;
}

// The registry's lock must be held.
void replaceCards(Registry &state, const std::vector<uint8_t> &physicalIds, const Behaviour &behaviour) {
    for (const auto &card : state.cards)
        card->detach();
    state.cards.clear();
    // The cards put in place together are wired together: one clock line.
    const auto line = std::make_shared<SharedClockLine>();
    for (uint8_t id : physicalIds) {
        const auto number = static_cast<int32_t>(state.cards.size());
        state.cards.push_back(std::make_shared<VirtualCard>(number, id, behaviour, line));
        line->attach(state.cards.back());
    }
    state.placed = true;
}

std::shared_ptr<VirtualCard> cardAt(int32_t logicalNumber) {
    Registry &state = registry();
    std::lock_guard lock(state.mutex);
    if (logicalNumber < 0 || static_cast<size_t>(logicalNumber) >= state.cards.size())
        return nullptr;
    return state.cards[static_cast<size_t>(logicalNumber)];
}

// A driver file shares the card, so a card replaced while files are open
// stays alive (and answers with failures) until the last one is closed.
// It is handed out as the opaque platform::BackendFile.
struct VirtualFile {
    std::shared_ptr<VirtualCard> card;
    OpenFile state;
};

platform::BackendFile *toBackend(VirtualFile *file) { return reinterpret_cast<platform::BackendFile *>(file); }
VirtualFile *fromBackend(platform::BackendFile *file) { return reinterpret_cast<VirtualFile *>(file); }

platform::BackendFile *openCard(int32_t logicalNumber, uint32_t *status) {
    std::shared_ptr<VirtualCard> card = cardAt(logicalNumber);
    if (!card) {
        if (status != nullptr)
            *status = kNoSuchCard;
        return nullptr;
    }
    card->fileOpened();
    if (status != nullptr)
        *status = 0;
    return toBackend(new VirtualFile{std::move(card), {}});
}

int32_t requestCard(platform::BackendFile *file, uint32_t code, void *input, uint32_t inputSize, void *output,
                    uint32_t outputSize, uint32_t *bytesReturned) {
    if (file == nullptr) {
        if (bytesReturned != nullptr)
            *bytesReturned = 0;
        return 0;
    }
    const DriverRequest request{code, input, inputSize, output, outputSize, bytesReturned};
    // The count takes the registry's lock: only the request that answers it asks.
    const int32_t count = code == protocol::kGetDeviceCount ? cardCount() : 0;
    VirtualFile *open = fromBackend(file);
    return open->card->request(request, open->state, count);
}

void cancelCard(platform::BackendFile *file) {
    if (file != nullptr)
        fromBackend(file)->card->cancel(fromBackend(file)->state);
}

bool closeCard(platform::BackendFile *file) {
    if (file == nullptr || !fromBackend(file)->card->closeFile())
        return false;
    delete fromBackend(file);
    return true;
}

const platform::CardBackend kVirtualBackend{"virtual", &openCard, &requestCard, &cancelCard, &closeCard};

} // namespace

void install(const std::vector<uint8_t> &physicalIds, const Behaviour &behaviour) {
    {
        Registry &state = registry();
        std::lock_guard lock(state.mutex);
        replaceCards(state, physicalIds, behaviour);
    }
    platform::overrideCardBackend(&backend());
}

void uninstall() {
    platform::overrideCardBackend(nullptr);
    const std::vector<uint8_t> &fromEnvironment = environmentCards();
    Registry &state = registry();
    std::lock_guard lock(state.mutex);
    replaceCards(state, fromEnvironment, environmentBehaviour());
}

void placeCardsOnce(const std::vector<uint8_t> &physicalIds) {
    Registry &state = registry();
    std::lock_guard lock(state.mutex);
    if (!state.placed)
        replaceCards(state, physicalIds, environmentBehaviour());
}

Card &card(int32_t logicalNumber) {
    Registry &state = registry();
    std::lock_guard lock(state.mutex);
    return *state.cards.at(static_cast<size_t>(logicalNumber));
}

int32_t cardCount() {
    Registry &state = registry();
    std::lock_guard lock(state.mutex);
    return static_cast<int32_t>(state.cards.size());
}

const platform::CardBackend &backend() { return kVirtualBackend; }

} // namespace kvd::vcard
