#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace stashbay {

// The update manifest the maker's web server offers: one JSON object with the text members
// "version" and "download", and "notes" as text, null or absent. Only the checker and its tests
// and fuzz target use it.
struct UpdateManifest {
    std::string version;
    std::string download;
    std::optional<std::string> notes;
};

// Decodes a manifest strictly: a listed member of another JSON type, a missing required member,
// a body that is no JSON object or no UTF-8 throws an ns::Error whose localized description says
// why. Members with other keys are ignored; keys match in exact letter case.
UpdateManifest decodeUpdateManifest(std::string_view body);

}  // namespace stashbay
