#pragma once

#include "macos/CoreGraphics/Color.hpp"
#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"
#include "macos/sim/StatusItem.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace sim {

// Everything a status window's drawing depends on, with what the drawing does not show left
// at its default: two equal values draw the same pixels.
struct StatusWindowDrawing {
    std::size_t width = 0;
    std::size_t height = 0;
    cg::Size points;
    cg::Color background;
    // The button's image (kept, so that its address cannot be reused by another) at its size.
    cg::ImageRef image;
    cg::Size imageSize;
    // The text drawn, the time of day as the bar shows it included, and whether fonts draw it.
    std::optional<std::string> text;
    bool fonts = false;
    // The symbol drawn and its colour.
    std::string symbol;
    std::uint32_t colour = 0;

    friend bool operator==(const StatusWindowDrawing&, const StatusWindowDrawing&) = default;
};

// The window server's backing stores of status windows: each window's last drawing and the
// image it made, so that a capture of a window whose drawing is unchanged copies the image
// instead of drawing it again.
class BackingStores {
public:
    // The image kept for the window when it was drawn with exactly `drawing`, else null.
    cg::ImageRef find(WindowNumber window, const StatusWindowDrawing& drawing) const;
    void keep(WindowNumber window, StatusWindowDrawing drawing, cg::ImageRef image);
    void forget(WindowNumber window) { stores_.erase(window); }

    // Drawings made for captures, for tests and benchmarks that count them.
    void noteDrawing() { ++drawings_; }
    std::size_t drawingCount() const { return drawings_; }
    std::size_t size() const { return stores_.size(); }

private:
    struct Store {
        StatusWindowDrawing drawing;
        cg::ImageRef image;
    };
    std::map<WindowNumber, Store> stores_;
    std::size_t drawings_ = 0;
};

}  // namespace sim
