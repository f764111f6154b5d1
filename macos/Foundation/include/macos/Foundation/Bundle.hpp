#pragma once

#include "macos/CoreFoundation/Value.hpp"

#include <mutex>
#include <optional>
#include <string>

namespace ns {

// The application bundle. Its information dictionary is built into the program from the build's
// facts: "CFBundleIdentifier", "CFBundleName", "CFBundleShortVersionString" (the CMake project
// version) and "CFBundleVersion" (the build number). Tests may replace it.
class Bundle {
public:
    static Bundle& main();

    // A copy, so that a test seam cannot pull it from under a reader.
    cf::Value::Dictionary infoDictionary() const;
    std::optional<cf::Value> objectForInfoDictionaryKey(const std::string& key) const;
    // "CFBundleIdentifier" when it is text.
    std::optional<std::string> bundleIdentifier() const;

    // Test seams: replace the whole dictionary (an empty one empties it), set or remove one value
    // (of any kind, text or not), and go back to the built-in dictionary.
    void setInfoDictionary(cf::Value::Dictionary dictionary);
    void setInfoDictionaryValue(const std::string& key, std::optional<cf::Value> value);
    void reset();

    static cf::Value::Dictionary builtInInfoDictionary();

private:
    Bundle();

    mutable std::mutex mutex_;
    cf::Value::Dictionary info_;
};

}  // namespace ns
