#pragma once

#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"
#include "macos/sim/BackingStores.hpp"
#include "macos/sim/StatusItem.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The platform's window levels used here.
namespace WindowLevel {
inline constexpr std::int64_t normal = 0;
inline constexpr std::int64_t statusItem = 25;
inline constexpr std::int64_t popUpMenu = 101;
}  // namespace WindowLevel

struct WindowSpec {
    std::optional<std::string> name;
    // Window-server space: origin at the top-left of the primary screen, y down.
    cg::Rect bounds;
    std::int64_t layer = WindowLevel::normal;
    bool onScreen = true;
    std::uint32_t color = 0xC0C0C0FF;
};

struct Window {
    WindowNumber number = 0;
    ProcessID owner = 0;
    std::optional<std::string> name;
    cg::Rect bounds;
    std::int64_t layer = WindowLevel::normal;
    bool onScreen = true;
    std::uint32_t color = 0xC0C0C0FF;
    // The status item this window draws, if any.
    std::optional<StatusItemID> statusItem;
    bool captureFails = false;
};

// The window server's windows, front to back. Numbers are never reused.
class WindowServer {
public:
    WindowNumber create(ProcessID owner, const WindowSpec& spec, std::optional<StatusItemID> item = std::nullopt);
    void destroy(WindowNumber number);
    Window* find(WindowNumber number);
    const Window* find(WindowNumber number) const;

    // Front to back: higher layers first, newer windows first within a layer.
    std::vector<const Window*> ordered() const;
    // The frontmost on-screen window that contains `p`.
    const Window* hitTest(cg::Point p) const;

    std::size_t count() const { return windows_.size(); }
    WindowNumber lastNumber() const { return next_ - 1; }

    // Window-list queries answered, for tests and benchmarks that count them.
    void noteListQuery() { ++listQueries_; }
    std::size_t listQueryCount() const { return listQueries_; }

    // The status windows' last drawings. A cache that captures fill as they draw: what a capture
    // returns never depends on it, so it changes under a const window server too.
    BackingStores& backingStores() const { return backingStores_; }

private:
    std::size_t listQueries_ = 0;
    mutable BackingStores backingStores_;
    std::vector<Window> windows_;
    WindowNumber next_ = 100;
};

}  // namespace sim
