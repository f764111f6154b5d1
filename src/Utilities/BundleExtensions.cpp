#include "Utilities/BundleExtensions.hpp"

namespace stashbay {

namespace {
std::string textOr(const ns::Bundle& bundle, const char* key, const char* fallback) {
    auto value = bundle.objectForInfoDictionaryKey(key);
    if (value) {
        if (const std::string* text = value->asString()) return *text;
    }
    return fallback;
}
}  // namespace

std::string shortVersionString(const ns::Bundle& bundle) {
    return textOr(bundle, "CFBundleShortVersionString", "0.0.0");
}

std::string buildNumber(const ns::Bundle& bundle) { return textOr(bundle, "CFBundleVersion", "0"); }

}  // namespace stashbay
