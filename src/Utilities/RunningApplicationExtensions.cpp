#include "Utilities/RunningApplicationExtensions.hpp"

namespace stashbay {

std::string identifierOrFallback(const ns::RunningApplication& application) {
    if (auto identifier = application.bundleIdentifier()) return *identifier;
    return "pid-" + std::to_string(application.processIdentifier());
}

std::string displayName(const ns::RunningApplication& application) {
    if (auto name = application.localizedName()) return *name;
    if (auto identifier = application.bundleIdentifier()) return *identifier;
    return "Unknown (" + std::to_string(application.processIdentifier()) + ")";
}

}  // namespace stashbay
