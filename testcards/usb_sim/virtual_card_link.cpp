// The emulated USB card's model: the virtual card, through its backend.
#include "platform/virtual/virtual_card.h"
#include "card_link.h"

namespace kvd::usbsim {
namespace {

class VirtualCardLink final : public CardLink {
public:
    explicit VirtualCardLink(int32_t logicalNumber) : logicalNumber_(logicalNumber) {}

    int32_t request(uint32_t code, void *input, uint32_t inputSize, void *output, uint32_t outputSize,
                    uint32_t *bytesReturned) override {
        const platform::CardBackend &card = vcard::backend();
        uint32_t status = 0;
        platform::BackendFile *file = card.open(logicalNumber_, &status);
        if (file == nullptr) {
            *bytesReturned = 0;
            return 0;
        }
        const int32_t result = card.request(file, code, input, inputSize, output, outputSize, bytesReturned);
        card.close(file);
        return result;
    }

private:
    const int32_t logicalNumber_;
};

} // namespace

std::unique_ptr<CardLink> virtualCardLink(int32_t logicalNumber) {
    return std::make_unique<VirtualCardLink>(logicalNumber);
}

} // namespace kvd::usbsim
