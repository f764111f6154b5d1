#include "Models/IconArrangement.hpp"

#include "Models/DecodingError.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <algorithm>
#include <cmath>
#include <ostream>

namespace stashbay {

using SectionType = MenuBarSection::SectionType;

namespace {

SectionType sectionType(MenuBarItemVisibility visibility) {
    switch (visibility) {
        case MenuBarItemVisibility::visible:
        case MenuBarItemVisibility::pinned: return SectionType::visible;
        case MenuBarItemVisibility::hiddenByNotch: return SectionType::hiddenByNotch;
        case MenuBarItemVisibility::stashbay: return SectionType::stashbay;
    }
    return SectionType::visible;
}

void eraseAll(std::vector<MenuBarItemID>& list, const MenuBarItemID& id) { std::erase(list, id); }

const nlohmann::json& requireMember(const nlohmann::json& object, std::string_view key) {
    auto member = object.find(key);
    if (member == object.end()) throw DecodingError::keyNotFound({}, key);
    return *member;
}

}  // namespace

const IconArrangement& IconArrangement::empty() {
    static const IconArrangement arrangement({}, {}, runtime::Date::distantPast());
    return arrangement;
}

void IconArrangement::assign(const MenuBarItemID& id, MenuBarItemVisibility visibility) {
    std::optional<MenuBarItemVisibility> previous;
    if (auto found = assignments_.find(id); found != assignments_.end()) previous = found->second;
    assignments_.insert_or_assign(id, visibility);
    lastModified_ = runtime::currentDate();

    auto newSection = sectionType(visibility);
    if (previous && sectionType(*previous) != newSection) {
        if (auto old = sectionOrders_.find(sectionType(*previous)); old != sectionOrders_.end())
            eraseAll(old->second, id);
    }
    auto& list = sectionOrders_[newSection];
    if (std::find(list.begin(), list.end(), id) == list.end()) list.push_back(id);
}

void IconArrangement::reorder(const MenuBarItemID& id, SectionType section, std::int64_t index) {
    auto entry = sectionOrders_.find(section);
    if (entry == sectionOrders_.end()) return;
    auto& list = entry->second;
    eraseAll(list, id);
    auto clamped = std::min(std::max<std::int64_t>(index, 0), static_cast<std::int64_t>(list.size()));
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(clamped), id);
    lastModified_ = runtime::currentDate();
}

void IconArrangement::remove(const MenuBarItemID& id) {
    assignments_.erase(id);
    for (auto& [section, list] : sectionOrders_) eraseAll(list, id);
    lastModified_ = runtime::currentDate();
}

std::vector<MenuBarItemID> IconArrangement::order(SectionType section) const {
    if (auto entry = sectionOrders_.find(section); entry != sectionOrders_.end()) return entry->second;
    return {};
}

void IconArrangement::pruneStaleEntries(const std::unordered_set<MenuBarItemID>& ids) {
    std::erase_if(assignments_, [&](const auto& entry) { return !ids.contains(entry.first); });
    for (auto& [section, list] : sectionOrders_)
        std::erase_if(list, [&](const MenuBarItemID& id) { return !ids.contains(id); });
    lastModified_ = runtime::currentDate();
}

nlohmann::json IconArrangement::encode() const {
    if (!std::isfinite(lastModified_.timeIntervalSinceReferenceDate))
        throw EncodingError("The date of the last change is not a finite number.");

    nlohmann::json assignments = nlohmann::json::object();
    for (const auto& [id, visibility] : assignments_) assignments[id.stringValue()] = stashbay::encode(visibility);

    nlohmann::json orders = nlohmann::json::array();
    for (const auto& [section, list] : sectionOrders_) {
        orders.push_back(stashbay::encode(section));
        nlohmann::json ids = nlohmann::json::array();
        for (const auto& id : list) ids.push_back(id.encode());
        orders.push_back(std::move(ids));
    }

    nlohmann::json document = nlohmann::json::object();
    document["assignments"] = std::move(assignments);
    document["lastModified"] = lastModified_.timeIntervalSinceReferenceDate;
    document["sectionOrders"] = std::move(orders);
    return document;
}

IconArrangement IconArrangement::decode(const nlohmann::json& value) {
    if (!value.is_object()) throw DecodingError::typeMismatch({}, "an object", value);

    const auto& assignmentsValue = requireMember(value, "assignments");
    const auto& lastModifiedValue = requireMember(value, "lastModified");
    const auto& ordersValue = requireMember(value, "sectionOrders");

    if (!assignmentsValue.is_object()) throw DecodingError::typeMismatch("assignments", "an object", assignmentsValue);
    Assignments assignments;
    for (const auto& [key, visibilityValue] : assignmentsValue.items()) {
        auto path = codingPathAppending("assignments", key);
        auto id = MenuBarItemID::fromCodingKey(MenuBarItemID::AnyCodingKey{key});
        if (!id) throw DecodingError::dataCorrupted(path, "The member name is not an item identity.");
        // Two names can stand for one identity ("a#1", "a#+1"); the later one wins.
        assignments.insert_or_assign(std::move(*id), decodeMenuBarItemVisibility(visibilityValue, path));
    }

    if (!lastModifiedValue.is_number())
        throw DecodingError::typeMismatch("lastModified", "a number", lastModifiedValue);
    double seconds = lastModifiedValue.get<double>();
    if (!std::isfinite(seconds)) throw DecodingError::dataCorrupted("lastModified", "The number does not fit a date.");

    if (!ordersValue.is_array()) throw DecodingError::typeMismatch("sectionOrders", "an array", ordersValue);
    if (ordersValue.size() % 2 != 0)
        throw DecodingError::dataCorrupted("sectionOrders", "Expected an even number of elements.");
    SectionOrders orders;
    for (std::size_t i = 0; i < ordersValue.size(); i += 2) {
        auto section = decodeSectionType(ordersValue[i], codingPathAppending("sectionOrders", i));
        auto listPath = codingPathAppending("sectionOrders", i + 1);
        const auto& listValue = ordersValue[i + 1];
        if (!listValue.is_array()) throw DecodingError::typeMismatch(listPath, "an array", listValue);
        std::vector<MenuBarItemID> list;
        list.reserve(listValue.size());
        for (std::size_t j = 0; j < listValue.size(); ++j)
            list.push_back(MenuBarItemID::decode(listValue[j], codingPathAppending(listPath, j)));
        // A section named twice: the later pair wins.
        orders.insert_or_assign(section, std::move(list));
    }

    return IconArrangement(std::move(assignments), std::move(orders), runtime::Date{seconds});
}

std::string IconArrangement::encodedDocument() const {
    auto document = encode();
    try {
        // nlohmann's objects keep their members sorted by name, and its numbers are written
        // as the shortest text that reads back as the same double.
        return document.dump(2);
    } catch (const nlohmann::json::type_error&) {
        throw EncodingError("A text is not valid UTF-8.");
    }
}

IconArrangement IconArrangement::decodeDocument(std::string_view data) {
    auto document = nlohmann::json::parse(data.begin(), data.end(), nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) throw DecodingError::dataCorrupted({}, "The given data was not valid JSON.");
    return decode(document);
}

std::ostream& operator<<(std::ostream& os, const IconArrangement& arrangement) {
    try {
        return os << arrangement.encodedDocument();
    } catch (const std::exception& error) {
        return os << "(no JSON form: " << error.what() << ")";
    }
}

}  // namespace stashbay
