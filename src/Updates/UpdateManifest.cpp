#include "Updates/UpdateManifest.hpp"

#include "macos/Foundation/Error.hpp"

#include <nlohmann/json.hpp>

namespace stashbay {

namespace {

// The coder's sentences, which are what a failed decode reads as in the log.
ns::Error notInTheCorrectFormat() {
    return ns::Error(ns::cocoaErrorDomain, ns::CocoaError::coderReadCorrupt,
                     "The data couldn't be read because it isn't in the correct format.");
}

ns::Error missing() {
    return ns::Error(ns::cocoaErrorDomain, ns::CocoaError::coderValueNotFound,
                     "The data couldn't be read because it is missing.");
}

std::string requiredText(const nlohmann::json& object, const char* key) {
    auto member = object.find(key);
    if (member == object.end() || member->is_null()) throw missing();
    if (!member->is_string()) throw notInTheCorrectFormat();
    return member->get<std::string>();
}

std::optional<std::string> optionalText(const nlohmann::json& object, const char* key) {
    auto member = object.find(key);
    if (member == object.end() || member->is_null()) return std::nullopt;
    if (!member->is_string()) throw notInTheCorrectFormat();
    return member->get<std::string>();
}

}  // namespace

UpdateManifest decodeUpdateManifest(std::string_view body) {
    // The parser checks that every string is UTF-8 and skips a leading byte order mark.
    auto document = nlohmann::json::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded() || !document.is_object()) throw notInTheCorrectFormat();
    UpdateManifest manifest;
    manifest.version = requiredText(document, "version");
    manifest.download = requiredText(document, "download");
    manifest.notes = optionalText(document, "notes");
    return manifest;
}

}  // namespace stashbay
