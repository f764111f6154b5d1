#include "Interaction/OnScreenWindowList.hpp"

#include "macos/CoreGraphics/WindowList.hpp"

#include <algorithm>
#include <utility>

namespace stashbay {

OnScreenWindowList OnScreenWindowList::read() {
    return OnScreenWindowList(cg::windowListCopyWindowInfo(cg::windowListOptionOnScreenOnly, cg::nullWindowID));
}

OnScreenWindowList::OnScreenWindowList(std::optional<cf::Value> answer) : answer_(std::move(answer)) {
    const auto* list = answer_ ? answer_->asArray() : nullptr;
    trusted_ =
        list && std::all_of(list->begin(), list->end(), [](const cf::Value& v) { return v.asDictionary() != nullptr; });
}

const cf::Array& OnScreenWindowList::windows() const {
    static const cf::Array none;
    return trusted_ ? *answer_->asArray() : none;
}

std::set<std::uint32_t> OnScreenWindowList::windowIDs(std::int32_t pid) const {
    std::set<std::uint32_t> ids;
    for (const auto& window : windows()) {
        const auto* owner = window.find(cg::windowOwnerPIDKey);
        auto ownerPID = owner ? owner->asInt32() : std::nullopt;
        if (!ownerPID || *ownerPID != pid) continue;
        const auto* number = window.find(cg::windowNumberKey);
        auto windowID = number ? number->asUInt32() : std::nullopt;
        if (windowID) ids.insert(*windowID);
    }
    return ids;
}

bool OnScreenWindowList::holdsMenuWindow(std::int32_t pid) const {
    const auto menuLevel = cg::windowLevelForKey(cg::popUpMenuWindowLevelKey);
    const auto& list = windows();
    return std::any_of(list.begin(), list.end(), [&](const cf::Value& window) {
        const auto* owner = window.find(cg::windowOwnerPIDKey);
        const auto* layer = window.find(cg::windowLayerKey);
        auto ownerPID = owner ? owner->asInt32() : std::nullopt;
        auto level = layer ? layer->asInt64() : std::nullopt;
        return ownerPID && level && *ownerPID == pid && *level == menuLevel;
    });
}

}  // namespace stashbay
