#include "macos/sim/BackingStores.hpp"

#include <utility>

namespace sim {

cg::ImageRef BackingStores::find(WindowNumber window, const StatusWindowDrawing& drawing) const {
    auto it = stores_.find(window);
    return it != stores_.end() && it->second.drawing == drawing ? it->second.image : nullptr;
}

void BackingStores::keep(WindowNumber window, StatusWindowDrawing drawing, cg::ImageRef image) {
    stores_[window] = Store{std::move(drawing), std::move(image)};
}

}  // namespace sim
