#pragma once

#include "macos/CoreGraphics/Color.hpp"
#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"
#include "macos/sim/StatusItem.hpp"

#include <cstddef>
#include <string_view>
#include <vector>

class QPainter;
class QRectF;

namespace sim {

class World;
struct Window;

// The symbols a status item can show in the bar, by name.
const std::vector<std::string_view>& statusItemSymbols();
bool isStatusItemSymbol(std::string_view name);

// How one drawing of an item differs from the plain one.
struct StatusItemLook {
    // The bar's selection behind an item whose menu or panel is open.
    bool highlighted = false;
};

// The one drawing of a status item, as the bar shows it, into `frame` (points of the painter):
// its button's image, text or the time of day, else its symbol, in its window's colour, on a transparent
// ground. The desktop paints the bar with it and the window server captures status windows with
// it. Text needs fonts, which only a Qt GUI application has; without one each character is drawn
// as a small block in its place.
void paintStatusItem(QPainter& painter, const World& world, const StatusItem& item, const QRectF& frame,
                     const StatusItemLook& look = {});

// Whether the bar shows the item selected: its menu or its popover is open.
bool statusItemHighlighted(const World& world, const StatusItem& item);

// A window's content as the window server captures it, `width` by `height` pixels over
// `background`: a status window shows its item's drawing, any other window its colour. Null for
// a side of 0.
cg::ImageRef windowContentImage(const World& world, const Window& window, std::size_t width, std::size_t height,
                                const cg::Color& background = cg::Color::clear());

}  // namespace sim
