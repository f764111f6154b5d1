#include "Models/MenuBarItemID.hpp"

#include "Models/DecodingError.hpp"

#include <charconv>
#include <limits>
#include <vector>

namespace stashbay {

namespace {

constexpr std::string_view unknownBundle = "unknown";

std::string write(const MenuBarItemID& id, char separator) {
    std::string text = id.bundleID() ? *id.bundleID() : std::string(unknownBundle);
    text += separator;
    text += std::to_string(id.index());
    return text;
}

// A decimal signed 64-bit integer: an optional sign, then one or more ASCII digits, nothing else.
std::optional<std::int64_t> parseInt64(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!negative) {
        if (magnitude > max) return std::nullopt;
        return static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > max + 1) return std::nullopt;
    if (magnitude == max + 1) return std::numeric_limits<std::int64_t>::min();
    return -static_cast<std::int64_t>(magnitude);
}

// Splits at the first separator that follows a non-empty piece, dropping empty pieces: leading
// separators are skipped, and everything after the cut is the second piece.
std::vector<std::string_view> splitOnce(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != separator) continue;
        if (i > start) {
            pieces.push_back(text.substr(start, i - start));
            start = i + 1;
            break;
        }
        start = i + 1;
    }
    if (start < text.size()) pieces.push_back(text.substr(start));
    return pieces;
}

std::optional<MenuBarItemID> parse(std::string_view text, char separator) {
    auto pieces = splitOnce(text, separator);
    if (pieces.size() != 2) return std::nullopt;
    auto index = parseInt64(pieces[1]);
    if (!index) return std::nullopt;
    std::optional<std::string> bundleID;
    if (pieces[0] != unknownBundle) bundleID = std::string(pieces[0]);
    return MenuBarItemID(std::move(bundleID), *index);
}

}  // namespace

std::string MenuBarItemID::stringValue() const { return write(*this, '#'); }

std::optional<MenuBarItemID> MenuBarItemID::fromCodingKey(const AnyCodingKey& key) {
    return parse(key.stringValue, '#');
}

std::string MenuBarItemID::transferRepresentation() const { return write(*this, ':'); }

std::optional<MenuBarItemID> MenuBarItemID::fromTransferRepresentation(std::string_view text) {
    return parse(text, ':');
}

nlohmann::json MenuBarItemID::encode() const {
    nlohmann::json object = nlohmann::json::object();
    if (const auto& bundle = bundleID()) object["bundleID"] = *bundle;
    object["index"] = index_;
    return object;
}

MenuBarItemID MenuBarItemID::decode(const nlohmann::json& value, const std::string& codingPath) {
    if (!value.is_object()) throw DecodingError::typeMismatch(codingPath, "an object", value);

    auto index = value.find("index");
    auto indexPath = codingPathAppending(codingPath, "index");
    if (index == value.end()) throw DecodingError::keyNotFound(codingPath, "index");
    if (!index->is_number_integer()) throw DecodingError::typeMismatch(indexPath, "an integer", *index);
    std::int64_t indexValue = 0;
    if (index->is_number_unsigned()) {
        auto raw = index->get<std::uint64_t>();
        if (raw > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw DecodingError::dataCorrupted(indexPath,
                                               "The number " + std::to_string(raw) + " does not fit a 64-bit integer.");
        indexValue = static_cast<std::int64_t>(raw);
    } else {
        indexValue = index->get<std::int64_t>();
    }

    std::optional<std::string> bundleID;
    if (auto member = value.find("bundleID"); member != value.end() && !member->is_null()) {
        if (!member->is_string())
            throw DecodingError::typeMismatch(codingPathAppending(codingPath, "bundleID"), "a string", *member);
        bundleID = member->get<std::string>();
    }
    return MenuBarItemID(std::move(bundleID), indexValue);
}

}  // namespace stashbay
