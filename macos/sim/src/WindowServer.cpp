#include "macos/sim/WindowServer.hpp"

#include <algorithm>

namespace sim {

WindowNumber WindowServer::create(ProcessID owner, const WindowSpec& spec, std::optional<StatusItemID> item) {
    Window w;
    w.number = next_++;
    w.owner = owner;
    w.name = spec.name;
    w.bounds = spec.bounds;
    w.layer = spec.layer;
    w.onScreen = spec.onScreen;
    w.color = spec.color;
    w.statusItem = item;
    windows_.push_back(std::move(w));
    return windows_.back().number;
}

void WindowServer::destroy(WindowNumber number) {
    if (auto* w = find(number)) windows_.erase(windows_.begin() + (w - windows_.data()));
    backingStores_.forget(number);
}

// Windows are kept in the order of their numbers (numbers only grow), so a lookup is a binary
// search: a bar of many items is laid out without a walk of every window per item.
Window* WindowServer::find(WindowNumber number) {
    auto it = std::lower_bound(windows_.begin(), windows_.end(), number,
                               [](const Window& w, WindowNumber n) { return w.number < n; });
    return it != windows_.end() && it->number == number ? &*it : nullptr;
}

const Window* WindowServer::find(WindowNumber number) const { return const_cast<WindowServer*>(this)->find(number); }

std::vector<const Window*> WindowServer::ordered() const {
    std::vector<const Window*> out;
    out.reserve(windows_.size());
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) out.push_back(&*it);
    std::stable_sort(out.begin(), out.end(), [](const Window* a, const Window* b) { return a->layer > b->layer; });
    return out;
}

const Window* WindowServer::hitTest(cg::Point p) const {
    for (const Window* w : ordered())
        if (w->onScreen && w->bounds.contains(p)) return w;
    return nullptr;
}

}  // namespace sim
