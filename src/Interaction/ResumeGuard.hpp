#pragma once

#include "Interaction/ItemEventError.hpp"
#include "stashbay/runtime/Continuation.hpp"

#include <functional>
#include <optional>
#include <utility>

namespace stashbay {

// Lets a suspended task be resumed exactly once by whichever of several events comes first (a
// tap that saw its event, a timer). The clean-up in `onResume` runs before the task continues.
class ResumeGuard {
public:
    explicit ResumeGuard(runtime::Continuation<void> continuation) : continuation(std::move(continuation)) {}

    // Success without an error; otherwise the error is thrown in the waiting task. Does nothing
    // once spent.
    void resume(std::optional<ItemEventError> error = std::nullopt) {
        if (!continuation) return;
        auto taken = std::move(*continuation);
        continuation.reset();
        // Dropped after its one run: it holds the taps whose handlers hold this guard.
        if (auto action = std::exchange(onResume, nullptr)) action();
        if (error)
            taken.resumeThrowing(std::make_exception_ptr(ItemEventFailure(*error)));
        else
            taken.resume();
    }

    std::optional<runtime::Continuation<void>> continuation;
    std::function<void()> onResume;
};

}  // namespace stashbay
