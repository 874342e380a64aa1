// One driver request as the backend's request entry receives it, and how the
// card's driver reads its buffers before doing anything with them.
#pragma once

#include <cstdint>

#include "platform/virtual/virtual_card.h"

namespace kvd::vcard {

struct DriverRequest {
    uint32_t code = 0;
    void *input = nullptr;
    uint32_t inputSize = 0;
    void *output = nullptr;
    uint32_t outputSize = 0;
    uint32_t *bytesReturned = nullptr;
};

// The pipe a bulk request names in its pipe word; -1 for other requests and
// for a pipe word too short to hold one.
int32_t pipeOf(const DriverRequest &request);

// The request as the card records it on arrival (returned and result still 0).
Request describe(const DriverRequest &request);

// Whether the request's buffers fit its code: a known code, no null buffer
// with a length, a bytes-returned variable, the input each code needs, and a
// pipe in the right direction for bulk requests.
bool wellFormed(const DriverRequest &request);

} // namespace kvd::vcard
