#include "card_outputs.h"

#include <algorithm>

namespace kvd::stream {

int32_t CardOutputs::writeDA(KVD4093_HANDLE card, int32_t setupCode, int32_t value, int32_t channel) {
    std::lock_guard lock(mutex_);
    const int32_t result = KVD4093_WriteDeviceDA(card, setupCode, value, channel);
    // The card library sends only the channel's low bits; the value is kept
    // for the channel the card took.
    if (result != 0)
        da_[size_t(channel) % kDAChannels] = DAWrite{setupCode, value};
    return result;
}

int32_t CardOutputs::setDO(KVD4093_HANDLE card, const uint8_t *states) {
    std::lock_guard lock(mutex_);
    const int32_t result = KVD4093_SetDeviceDO(card, states);
    if (result != 0) {
        digital_.emplace();
        std::copy_n(states, kDigitalOutputs, digital_->begin());
    }
    return result;
}

bool CardOutputs::restore(KVD4093_HANDLE card) const {
    std::lock_guard lock(mutex_);
    bool written = true;
    for (int32_t channel = 0; channel < kDAChannels; ++channel)
        if (da_[size_t(channel)])
            written = KVD4093_WriteDeviceDA(card, da_[size_t(channel)]->setupCode, da_[size_t(channel)]->value,
                                            channel) != 0 && written;
    if (digital_)
        written = KVD4093_SetDeviceDO(card, digital_->data()) != 0 && written;
    return written;
}

} // namespace kvd::stream
