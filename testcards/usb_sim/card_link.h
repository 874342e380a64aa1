// What stands behind an emulated USB card: a card that answers driver
// requests (the shape of the card backends' request entry).
#pragma once

#include <cstdint>
#include <memory>

namespace kvd::usbsim {

class CardLink {
public:
    virtual ~CardLink() = default;
    // One driver request, as a card backend's request entry takes it; the
    // request's truth value. May block (an AD data read waits for its samples).
    virtual int32_t request(uint32_t code, void *input, uint32_t inputSize, void *output, uint32_t outputSize,
                            uint32_t *bytesReturned) = 0;
};

// The virtual card at a logical number, reached through the virtual backend:
// each request opens a driver file of its own and closes it after, so the
// card shows no file open between requests.
std::unique_ptr<CardLink> virtualCardLink(int32_t logicalNumber);

} // namespace kvd::usbsim
