#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace stashbay {

// What went wrong with a synthetic event or a move of an item. Its text is the bare case name.
enum class ItemEventError : std::uint8_t {
    eventCreationFailed,
    tapCreationFailed,
    deliveryTimeout,
    frameDidNotChange,
    itemNotFound,
};

const char* describe(ItemEventError error);

// How an ItemEventError travels: thrown by the engine's operations, caught by their callers.
class ItemEventFailure : public std::exception {
public:
    explicit ItemEventFailure(ItemEventError error) : error_(error) {}
    ItemEventError error() const { return error_; }
    const char* what() const noexcept override { return describe(error_); }

private:
    ItemEventError error_;
};

}  // namespace stashbay
