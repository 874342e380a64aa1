// The one place where exceptions stop: every exported function runs its body
// through guarded(), so nothing throws across the C boundary and an
// unexpected failure (out of memory, say) becomes the function's failure value.
#pragma once

#include <utility>

namespace kvd {

template <class Result, class Body>
Result guarded(Result failure, Body &&body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

} // namespace kvd
