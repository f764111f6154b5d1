#pragma once

#include "Models/MenuBarItem.hpp"
#include "System/ScreenGeometry.hpp"
#include "macos/CoreGraphics/Geometry.hpp"
#include "stashbay/runtime/Time.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace stashbay::detection {

// One status item as the accessibility interface reported it.
struct AXItem {
    std::int32_t pid = 0;
    std::optional<std::string> title;
    cg::Point position;
    cg::Size size;
    bool isEnabled = true;
};

// One status window of the window list, in the list's order (rightmost first).
struct Window {
    std::uint32_t windowID = 0;
    std::int32_t ownerPID = 0;
    cg::Rect bounds;
    bool isOnScreen = true;
};

// The running application with an item's process id.
struct Owner {
    std::optional<std::string> bundleIdentifier;
    std::string displayName;
};

struct Inputs {
    std::vector<AXItem> items;
    std::vector<Window> windows;
    std::optional<ScreenGeometry> geometry;
    // Looked up for every item; nothing when no running application has the process id.
    std::function<std::optional<Owner>(std::int32_t pid)> owner;
    runtime::Date now;
};

// How the matching and duplicate passes find their partners: by walking every window and every
// accepted item (the literal passes), or through indexes by process, position and owner/title.
// Both give the same result; the indexed passes grow as n log n.
enum class Passes { literal, indexed };

// The smallest x of the on-screen windows at the top of the screen; 0 when there is none.
double visibilityBoundary(const std::vector<Window>& windows);

// Merges the two sources into the ordered, de-duplicated list of detected items with their
// identities and their on-screen and notch decisions.
std::vector<MenuBarItem> detect(const Inputs& inputs, double positionTolerance, Passes passes = Passes::indexed);

// Right before left; at the same x, one process's items by title (canonically composed, by
// Unicode scalar values), then by process id. A comparison with NaN is false.
bool isOrderedByPosition(const MenuBarItem& a, const MenuBarItem& b);

// Titles in the order above: canonically composed (NFC), compared by Unicode scalar values.
bool titleBefore(const std::string& a, const std::string& b);

// A stable merge sort that is defined for any comparator, also one that is not a strict weak
// order (NaN positions): it never reads out of range and always ends.
template <class T, class Allocator, class Less>
void stableSort(std::vector<T, Allocator>& v, Less less) {
    if (v.size() < 2) return;
    std::vector<T, Allocator> buffer(v.get_allocator());
    buffer.reserve(v.size());
    for (std::size_t width = 1; width < v.size(); width *= 2) {
        buffer.clear();
        for (std::size_t lo = 0; lo < v.size(); lo += 2 * width) {
            std::size_t mid = std::min(lo + width, v.size());
            std::size_t hi = std::min(lo + 2 * width, v.size());
            std::size_t i = lo, j = mid;
            while (i < mid && j < hi) {
                // Take from the right run only when it goes strictly before: equals keep order.
                if (less(v[j], v[i]))
                    buffer.push_back(std::move(v[j++]));
                else
                    buffer.push_back(std::move(v[i++]));
            }
            while (i < mid) buffer.push_back(std::move(v[i++]));
            while (j < hi) buffer.push_back(std::move(v[j++]));
        }
        v.swap(buffer);
    }
}

}  // namespace stashbay::detection
