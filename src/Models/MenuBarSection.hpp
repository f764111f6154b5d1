#pragma once

#include "Models/MenuBarItem.hpp"
#include "Models/MenuBarItemVisibility.hpp"

#include <nlohmann/json.hpp>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace stashbay {

// One named group of detected items as the panel shows them. Rebuilt after every scan, never
// stored.
class MenuBarSection {
public:
    enum class SectionType { visible, hiddenByNotch, stashbay };

    MenuBarSection(SectionType id, std::vector<MenuBarItem> items) : id_(id), items_(std::move(items)) {}

    SectionType id() const { return id_; }
    const std::vector<MenuBarItem>& items() const { return items_; }
    bool isEmpty() const { return items_.empty(); }
    std::size_t count() const { return items_.size(); }

    // Same kind and, position by position, items with the same identities.
    friend bool operator==(const MenuBarSection&, const MenuBarSection&) = default;

private:
    SectionType id_;
    std::vector<MenuBarItem> items_;
};

// Every section kind, in declaration order.
inline constexpr std::array<MenuBarSection::SectionType, 3> allSectionTypes{MenuBarSection::SectionType::visible,
                                                                            MenuBarSection::SectionType::hiddenByNotch,
                                                                            MenuBarSection::SectionType::stashbay};

// The section's title, which is also its identity and what the arrangement file stores:
// "Visible", "Hidden by Notch", "Stashbay".
std::string_view rawValue(MenuBarSection::SectionType type);
inline std::string_view id(MenuBarSection::SectionType type) { return rawValue(type); }
inline std::string_view displayName(MenuBarSection::SectionType type) { return rawValue(type); }
// The system symbol image: "eye", "rectangle.topthird.inset.filled", "tray".
std::string_view systemImage(MenuBarSection::SectionType type);
// The visibility of the same name; no section maps to `pinned`.
MenuBarItemVisibility correspondingVisibility(MenuBarSection::SectionType type);
// Matches a title exactly; case names and other capitals give nothing.
std::optional<MenuBarSection::SectionType> sectionTypeFromRawValue(std::string_view rawValue);

// A single JSON string, the raw value.
nlohmann::json encode(MenuBarSection::SectionType type);
// Throws DecodingError for a non-string or an unknown title.
MenuBarSection::SectionType decodeSectionType(const nlohmann::json& value, const std::string& codingPath = {});

}  // namespace stashbay
