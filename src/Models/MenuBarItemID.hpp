#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace stashbay {

// The identity of a status item that stays the same from one scan to the next: the owner's
// bundle identifier (absent when the owner is not identified) and the item's rank among the
// items of that owner, counted from the right.
class MenuBarItemID {
public:
    // A coding key that carries only text: the dictionary-key form of an identity as a JSON
    // member name. It has no integer value and cannot be made from one.
    struct AnyCodingKey {
        std::string stringValue;

        explicit AnyCodingKey(std::string text) : stringValue(std::move(text)) {}
        static std::optional<AnyCodingKey> fromIntValue(int) { return std::nullopt; }
        std::optional<int> intValue() const { return std::nullopt; }
    };

    // The bundle text, shared and never changed, so that copies of an identity (every snapshot
    // copies each one) and identities of one owner make no copies of it. Null when absent.
    using SharedBundleID = std::shared_ptr<const std::optional<std::string>>;

    MenuBarItemID(std::optional<std::string> bundleID, std::int64_t index)
        : bundleID_(bundleID ? std::make_shared<const std::optional<std::string>>(std::move(bundleID)) : nullptr),
          index_(index) {}
    MenuBarItemID(SharedBundleID bundleID, std::int64_t index)
        : bundleID_(bundleID && *bundleID ? std::move(bundleID) : nullptr), index_(index) {}

    const std::optional<std::string>& bundleID() const { return bundleID_ ? *bundleID_ : noBundleID(); }
    // The shared text itself, for identities and items of the same owner; null when absent.
    const SharedBundleID& sharedBundleID() const { return bundleID_; }
    std::int64_t index() const { return index_; }

    // "<bundle>#<index>", the bundle part "unknown" when absent.
    std::string stringValue() const;
    AnyCodingKey codingKey() const { return AnyCodingKey{stringValue()}; }
    // Parses a coding key's text by the dictionary-key rule; nothing when it does not parse.
    static std::optional<MenuBarItemID> fromCodingKey(const AnyCodingKey& key);

    // "<bundle>:<index>", the bundle part "unknown" when absent.
    std::string transferRepresentation() const;
    static std::optional<MenuBarItemID> fromTransferRepresentation(std::string_view text);

    // {"bundleID": text (only when present), "index": integer}.
    nlohmann::json encode() const;
    // Throws DecodingError. `codingPath` names the value in error messages.
    static MenuBarItemID decode(const nlohmann::json& value, const std::string& codingPath = {});

    friend bool operator==(const MenuBarItemID& a, const MenuBarItemID& b) {
        return a.index_ == b.index_ && (a.bundleID_ == b.bundleID_ || a.bundleID() == b.bundleID());
    }

private:
    static const std::optional<std::string>& noBundleID() {
        static const std::optional<std::string> none;
        return none;
    }

    SharedBundleID bundleID_;
    std::int64_t index_;
};

}  // namespace stashbay

template <>
struct std::hash<stashbay::MenuBarItemID> {
    std::size_t operator()(const stashbay::MenuBarItemID& id) const noexcept {
        std::size_t h = id.bundleID() ? std::hash<std::string>{}(*id.bundleID()) ^ 0x9e3779b97f4a7c15ull : 0;
        return h ^ (std::hash<std::int64_t>{}(id.index()) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2));
    }
};
