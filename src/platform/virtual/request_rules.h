// The rules a test sets on a virtual card: which requests fail, what result
// a successful one returns, how many bytes it reports.
// Not thread-safe: the card that owns them serialises every call.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "platform/virtual/virtual_card.h"

namespace kvd::vcard {

// What the rules make of one request.
struct Verdict {
    bool fail = false;
    int32_t result = 1;                                      // when it succeeds
    uint32_t maxBytes = std::numeric_limits<uint32_t>::max(); // bytes it may report
};

class RequestRules {
public:
    void failRequest(RequestMatch match, uint32_t nth);
    void setResult(RequestMatch match, int32_t result);
    void shortenReturns(RequestMatch match, uint32_t maxBytes);
    void clear();

    // Judges a request that has just arrived; counts it for the failure rules.
    Verdict judge(uint32_t code, int32_t pipe);

private:
    struct Failure {
        RequestMatch match;
        uint32_t remaining; // 0: every matching request fails
        bool spent = false; // has failed its nth request
    };
    template <typename Value> struct Setting {
        RequestMatch match;
        Value value;
    };
    template <typename Value>
    static void replaceSetting(std::vector<Setting<Value>> &settings, RequestMatch match, Value value);
    template <typename Value>
    static const Setting<Value> *latestMatching(const std::vector<Setting<Value>> &settings, uint32_t code,
                                                int32_t pipe);
    bool countFailures(uint32_t code, int32_t pipe);

    std::vector<Failure> failures_;
    std::vector<Setting<int32_t>> results_;
    std::vector<Setting<uint32_t>> caps_;
};

bool matches(RequestMatch match, uint32_t code, int32_t pipe);

} // namespace kvd::vcard
