#include "macos/sim/MenuBar.hpp"

#include <algorithm>

namespace sim {

void MenuBar::remove(StatusItemID id) { std::erase(order_, id); }

std::optional<std::size_t> MenuBar::indexOf(StatusItemID id) const {
    auto it = std::find(order_.begin(), order_.end(), id);
    if (it == order_.end()) return std::nullopt;
    return static_cast<std::size_t>(it - order_.begin());
}

bool MenuBar::moveLeftOf(StatusItemID id, StatusItemID target) {
    if (id == target || !indexOf(id) || !indexOf(target)) return false;
    remove(id);
    auto at = *indexOf(target) + 1;
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(at), id);
    return true;
}

void MenuBar::placeAt(StatusItemID id, std::size_t index) {
    remove(id);
    index = std::min(index, order_.size());
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(index), id);
}

double MenuBar::height(const ScreenSpec& primary) {
    return std::max(primary.frame.maxY() - primary.visibleFrame.maxY(), 24.0);
}

double MenuBar::leftLimit(const ScreenSpec& primary) const {
    if (spec_.leftLimit) return *spec_.leftLimit;
    if (primary.safeAreaInsets.top > 0) {
        if (primary.auxiliaryTopLeftArea) return primary.auxiliaryTopLeftArea->maxX() - primary.frame.minX();
        return primary.frame.width() / 2 - 110.0;
    }
    return primary.frame.width() * 0.4;
}

std::optional<cg::Rect> MenuBar::housing(const ScreenSpec& primary) {
    if (!(primary.safeAreaInsets.top > 0)) return std::nullopt;
    const double h = height(primary);
    const double left = primary.frame.minX();
    if (primary.auxiliaryTopLeftArea && primary.auxiliaryTopRightArea) {
        double minX = primary.auxiliaryTopLeftArea->maxX() - left;
        double maxX = primary.auxiliaryTopRightArea->minX() - left;
        return cg::Rect{minX, 0, maxX - minX, h};
    }
    return cg::Rect{primary.frame.width() / 2 - 110.0, 0, 220.0, h};
}

std::vector<MenuBar::Slot> MenuBar::layout(const std::optional<ScreenSpec>& primary,
                                           const std::vector<double>& widths) const {
    ++layouts_;
    std::vector<Slot> slots;
    slots.reserve(widths.size());
    double h = primary ? height(*primary) : 24.0;
    double cursor = primary ? primary->frame.width() - spec_.rightInset : 0;
    double limit = primary ? leftLimit(*primary) : 0;
    auto camera = primary ? housing(*primary) : std::nullopt;
    bool beside = true;
    bool full = !primary;
    double offCursor = 0;
    for (double w : widths) {
        Slot slot;
        if (!full && beside && camera) {
            double minX = cursor - w;
            if (minX >= camera->maxX() && minX + w / 2 >= camera->maxX() + spec_.housingMargin) {
                slot.frame = cg::Rect{minX, 0, w, h};
                slot.onBar = slot.shown = true;
                cursor -= w + spec_.spacing;
                slots.push_back(slot);
                continue;
            }
            // A Mac does not draw an item half beside the housing: it and the rest go under it.
            beside = false;
            cursor = std::min(cursor, camera->maxX());
        }
        if (!full && cursor - w >= limit) {
            slot.frame = cg::Rect{cursor - w, 0, w, h};
            slot.onBar = true;
            slot.shown = !camera;
            cursor -= w + spec_.spacing;
        } else {
            // Once one item does not fit, none further left does.
            full = true;
            slot.frame = cg::Rect{offCursor - w, 0, w, h};
            offCursor -= w + spec_.spacing;
        }
        slots.push_back(slot);
    }
    return slots;
}

}  // namespace sim
