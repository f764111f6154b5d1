#pragma once

#include "macos/CoreFoundation/Value.hpp"

#include <cstdint>
#include <optional>
#include <set>

namespace stashbay {

// The window server's answer for its on-screen windows, read once, as the activation chain and
// the move engine judge it: an answer that is not a list, or holds an entry that is not a
// dictionary, is not trusted for anything, so every question about it answers empty or false.
class OnScreenWindowList {
public:
    // Reads the on-screen windows now.
    static OnScreenWindowList read();
    explicit OnScreenWindowList(std::optional<cf::Value> answer);

    // The numbers of `pid`'s windows.
    std::set<std::uint32_t> windowIDs(std::int32_t pid) const;
    // Whether `pid` has a window at the pop-up menu window level.
    bool holdsMenuWindow(std::int32_t pid) const;

private:
    // The trusted list, or an empty one.
    const cf::Array& windows() const;

    std::optional<cf::Value> answer_;
    bool trusted_ = false;
};

}  // namespace stashbay
