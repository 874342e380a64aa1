#include "platform/virtual/request_rules.h"

#include <algorithm>

namespace kvd::vcard {

bool matches(RequestMatch match, uint32_t code, int32_t pipe) {
    return match.code == code && (match.pipe == -1 || match.pipe == pipe);
}

namespace {
bool sameMatch(RequestMatch a, RequestMatch b) { return a.code == b.code && a.pipe == b.pipe; }
} // namespace

void RequestRules::failRequest(RequestMatch match, uint32_t nth) { failures_.push_back({match, nth, false}); }

template <typename Value>
void RequestRules::replaceSetting(std::vector<Setting<Value>> &settings, RequestMatch match, Value value) {
    std::erase_if(settings, [&](const Setting<Value> &setting) { return sameMatch(setting.match, match); });
    settings.push_back({match, value});
}

void RequestRules::setResult(RequestMatch match, int32_t result) {
    replaceSetting(results_, match, result);
    if (result == 1)
        results_.pop_back(); // the default needs no rule
}

void RequestRules::shortenReturns(RequestMatch match, uint32_t maxBytes) { replaceSetting(caps_, match, maxBytes); }

void RequestRules::clear() {
    failures_.clear();
    results_.clear();
    caps_.clear();
}

template <typename Value>
const RequestRules::Setting<Value> *RequestRules::latestMatching(const std::vector<Setting<Value>> &settings,
                                                                 uint32_t code, int32_t pipe) {
    const auto found = std::find_if(settings.rbegin(), settings.rend(),
                                    [&](const Setting<Value> &setting) { return matches(setting.match, code, pipe); });
    return found == settings.rend() ? nullptr : &*found;
}

// Every failure rule counts every matching request, whichever rule fails it;
// a rule for the nth request retires once it has failed it.
bool RequestRules::countFailures(uint32_t code, int32_t pipe) {
    bool fail = false;
    for (Failure &failure : failures_) {
        if (!matches(failure.match, code, pipe))
            continue;
        if (failure.remaining == 0) {
            fail = true;
        } else if (--failure.remaining == 0) {
            fail = true;
            failure.spent = true;
        }
    }
    std::erase_if(failures_, [](const Failure &failure) { return failure.spent; });
    return fail;
}

Verdict RequestRules::judge(uint32_t code, int32_t pipe) {
    Verdict verdict;
    verdict.fail = countFailures(code, pipe);
    if (const auto *result = latestMatching(results_, code, pipe))
        verdict.result = result->value;
    if (const auto *cap = latestMatching(caps_, code, pipe))
        verdict.maxBytes = cap->value;
    return verdict;
}

} // namespace kvd::vcard
