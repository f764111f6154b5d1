#include "Models/MenuBarItemVisibility.hpp"

#include "Models/DecodingError.hpp"

namespace stashbay {

std::string_view rawValue(MenuBarItemVisibility visibility) {
    switch (visibility) {
        case MenuBarItemVisibility::visible: return "visible";
        case MenuBarItemVisibility::hiddenByNotch: return "hiddenByNotch";
        case MenuBarItemVisibility::stashbay: return "stashbay";
        case MenuBarItemVisibility::pinned: return "pinned";
    }
    return "visible";
}

std::optional<MenuBarItemVisibility> visibilityFromRawValue(std::string_view text) {
    for (auto visibility : allMenuBarItemVisibilities)
        if (rawValue(visibility) == text) return visibility;
    return std::nullopt;
}

nlohmann::json encode(MenuBarItemVisibility visibility) { return std::string(rawValue(visibility)); }

MenuBarItemVisibility decodeMenuBarItemVisibility(const nlohmann::json& value, const std::string& codingPath) {
    if (!value.is_string()) throw DecodingError::typeMismatch(codingPath, "a string", value);
    const auto& text = value.get_ref<const std::string&>();
    if (auto visibility = visibilityFromRawValue(text)) return *visibility;
    throw DecodingError::dataCorrupted(
        codingPath, "Cannot initialize MenuBarItemVisibility from invalid String value " + text + ".");
}

}  // namespace stashbay
