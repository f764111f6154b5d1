#pragma once

#include "macos/CoreGraphics/Geometry.hpp"

#include <optional>

namespace stashbay {

// The pointer while the engine posts: its place read before, the cursor hidden meanwhile, and
// both put back afterwards on every way out.
struct SavedPointer {
    // Where the pointer was; none when no event could be made to read it.
    std::optional<cg::Point> location;

    // Reads the pointer's place and hides the cursor.
    static SavedPointer saveAndHide();
    // Warps back and re-associates mouse and cursor when the place is known; shows the cursor.
    void restore() const;
};

}  // namespace stashbay
