#pragma once

#include "macos/CoreFoundation/Value.hpp"

namespace ax {

// The options key that asks the system to show its request when the process is not trusted.
inline constexpr const char* trustedCheckOptionPrompt = "AXTrustedCheckOptionPrompt";

// Whether this process is trusted for accessibility, as the world's permissions say now.
bool isProcessTrusted();
// The same; with the prompt key set to a true value and the process not trusted, the system
// shows its request (the world counts it). The call does not wait for the user's answer.
bool isProcessTrustedWithOptions(const cf::Dictionary& options);

}  // namespace ax
