#include "Models/DecodingError.hpp"

namespace stashbay {

namespace {
// The coder codes of the Cocoa domain.
constexpr long coderInvalidValue = 4866;

long codeFor(DecodingError::Kind kind) {
    switch (kind) {
        case DecodingError::Kind::keyNotFound:
        case DecodingError::Kind::valueNotFound: return ns::CocoaError::coderValueNotFound;
        case DecodingError::Kind::typeMismatch:
        case DecodingError::Kind::dataCorrupted: return ns::CocoaError::coderReadCorrupt;
    }
    return ns::CocoaError::coderReadCorrupt;
}

std::string describe(DecodingError::Kind kind, const std::string& path, const std::string& description) {
    std::string text = kind == DecodingError::Kind::keyNotFound || kind == DecodingError::Kind::valueNotFound
                           ? "The data couldn't be read because it is missing."
                           : "The data couldn't be read because it isn't in the correct format.";
    text += " " + description;
    if (!path.empty()) text += " (at " + path + ")";
    return text;
}

std::string jsonTypeName(const nlohmann::json& value) {
    if (value.is_number_integer()) return "an integer";
    if (value.is_number()) return "a number";
    switch (value.type()) {
        case nlohmann::json::value_t::null: return "null";
        case nlohmann::json::value_t::object: return "an object";
        case nlohmann::json::value_t::array: return "an array";
        case nlohmann::json::value_t::string: return "a string";
        case nlohmann::json::value_t::boolean: return "a boolean";
        default: return "something else";
    }
}
}  // namespace

DecodingError::DecodingError(Kind kind, std::string codingPath, std::string debugDescription)
    : ns::Error(ns::cocoaErrorDomain, codeFor(kind), describe(kind, codingPath, debugDescription)),
      kind_(kind),
      codingPath_(std::move(codingPath)),
      debugDescription_(std::move(debugDescription)) {}

DecodingError DecodingError::typeMismatch(std::string codingPath, std::string_view expected,
                                          const nlohmann::json& found) {
    auto kind = found.is_null() ? Kind::valueNotFound : Kind::typeMismatch;
    return DecodingError(kind, std::move(codingPath),
                         "Expected " + std::string(expected) + " but found " + jsonTypeName(found) + " instead.");
}

DecodingError DecodingError::keyNotFound(std::string codingPath, std::string_view key) {
    return DecodingError(Kind::keyNotFound, std::move(codingPath),
                         "No value associated with key \"" + std::string(key) + "\".");
}

DecodingError DecodingError::dataCorrupted(std::string codingPath, std::string debugDescription) {
    return DecodingError(Kind::dataCorrupted, std::move(codingPath), std::move(debugDescription));
}

EncodingError::EncodingError(const std::string& debugDescription)
    : ns::Error(ns::cocoaErrorDomain, coderInvalidValue,
                "The data couldn't be written because it isn't in the correct format. " + debugDescription) {}

std::string codingPathAppending(const std::string& path, std::string_view key) {
    if (path.empty()) return std::string(key);
    return path + "." + std::string(key);
}

std::string codingPathAppending(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

}  // namespace stashbay
