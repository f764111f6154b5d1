#pragma once

#include <nlohmann/json.hpp>

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace stashbay {

// Where the user wants an item to live. `pinned` has no section of its own: the arrangement
// counts it as visible.
enum class MenuBarItemVisibility { visible, hiddenByNotch, stashbay, pinned };

// Every case, in declaration order.
inline constexpr std::array<MenuBarItemVisibility, 4> allMenuBarItemVisibilities{
    MenuBarItemVisibility::visible, MenuBarItemVisibility::hiddenByNotch, MenuBarItemVisibility::stashbay,
    MenuBarItemVisibility::pinned};

// The case name: "visible", "hiddenByNotch", "stashbay", "pinned".
std::string_view rawValue(MenuBarItemVisibility visibility);
// Matches exactly one of the four raw values (case-sensitive); nothing for any other text.
std::optional<MenuBarItemVisibility> visibilityFromRawValue(std::string_view rawValue);

// A single JSON string, the raw value.
nlohmann::json encode(MenuBarItemVisibility visibility);
// Throws DecodingError for a non-string or a string outside the four raw values.
MenuBarItemVisibility decodeMenuBarItemVisibility(const nlohmann::json& value, const std::string& codingPath = {});

}  // namespace stashbay
