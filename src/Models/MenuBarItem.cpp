#include "Models/MenuBarItem.hpp"

namespace stashbay {

const std::string& MenuBarItem::displayName() const {
    if (title_ && !title_->empty()) return *title_;
    return ownerName_;
}

}  // namespace stashbay
