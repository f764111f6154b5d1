#pragma once

#include "macos/Foundation/Bundle.hpp"

#include <string>

namespace stashbay {

// "CFBundleShortVersionString" when it is text, else "0.0.0".
std::string shortVersionString(const ns::Bundle& bundle);
// "CFBundleVersion" when it is text, else "0".
std::string buildNumber(const ns::Bundle& bundle);

}  // namespace stashbay
