#include "Models/MenuBarSection.hpp"

#include "Models/DecodingError.hpp"

namespace stashbay {

using SectionType = MenuBarSection::SectionType;

std::string_view rawValue(SectionType type) {
    switch (type) {
        case SectionType::visible: return "Visible";
        case SectionType::hiddenByNotch: return "Hidden by Notch";
        case SectionType::stashbay: return "Stashbay";
    }
    return "Visible";
}

std::string_view systemImage(SectionType type) {
    switch (type) {
        case SectionType::visible: return "eye";
        case SectionType::hiddenByNotch: return "rectangle.topthird.inset.filled";
        case SectionType::stashbay: return "tray";
    }
    return "eye";
}

MenuBarItemVisibility correspondingVisibility(SectionType type) {
    switch (type) {
        case SectionType::visible: return MenuBarItemVisibility::visible;
        case SectionType::hiddenByNotch: return MenuBarItemVisibility::hiddenByNotch;
        case SectionType::stashbay: return MenuBarItemVisibility::stashbay;
    }
    return MenuBarItemVisibility::visible;
}

std::optional<SectionType> sectionTypeFromRawValue(std::string_view text) {
    for (auto type : allSectionTypes)
        if (rawValue(type) == text) return type;
    return std::nullopt;
}

nlohmann::json encode(SectionType type) { return std::string(rawValue(type)); }

SectionType decodeSectionType(const nlohmann::json& value, const std::string& codingPath) {
    if (!value.is_string()) throw DecodingError::typeMismatch(codingPath, "a string", value);
    const auto& text = value.get_ref<const std::string&>();
    if (auto type = sectionTypeFromRawValue(text)) return *type;
    throw DecodingError::dataCorrupted(codingPath,
                                       "Cannot initialize SectionType from invalid String value " + text + ".");
}

}  // namespace stashbay
