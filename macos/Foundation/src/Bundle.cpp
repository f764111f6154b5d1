#include "macos/Foundation/Bundle.hpp"

#include "stashbay/BuildInfo.hpp"

namespace ns {

Bundle& Bundle::main() {
    static Bundle bundle;
    return bundle;
}

Bundle::Bundle() : info_(builtInInfoDictionary()) {}

cf::Value::Dictionary Bundle::builtInInfoDictionary() {
    return {
        {"CFBundleIdentifier", stashbay::build::bundleIdentifier},
        {"CFBundleName", "Stashbay"},
        {"CFBundleShortVersionString", stashbay::build::shortVersion},
        {"CFBundleVersion", stashbay::build::buildNumber},
    };
}

cf::Value::Dictionary Bundle::infoDictionary() const {
    std::lock_guard lock(mutex_);
    return info_;
}

std::optional<cf::Value> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = info_.find(key);
    if (it == info_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> Bundle::bundleIdentifier() const {
    auto value = objectForInfoDictionaryKey("CFBundleIdentifier");
    if (!value || !value->asString()) return std::nullopt;
    return *value->asString();
}

void Bundle::setInfoDictionary(cf::Value::Dictionary dictionary) {
    std::lock_guard lock(mutex_);
    info_ = std::move(dictionary);
}

void Bundle::setInfoDictionaryValue(const std::string& key, std::optional<cf::Value> value) {
    std::lock_guard lock(mutex_);
    if (value)
        info_[key] = std::move(*value);
    else
        info_.erase(key);
}

void Bundle::reset() { setInfoDictionary(builtInInfoDictionary()); }

}  // namespace ns
