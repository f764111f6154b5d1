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
    std::erase_if(windows_, [number](const Window& w) { return w.number == number; });
}

Window* WindowServer::find(WindowNumber number) {
    for (auto& w : windows_)
        if (w.number == number) return &w;
    return nullptr;
}

const Window* WindowServer::find(WindowNumber number) const {
    for (auto& w : windows_)
        if (w.number == number) return &w;
    return nullptr;
}

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
