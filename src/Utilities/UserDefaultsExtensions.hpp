#pragma once

#include "macos/Foundation/UserDefaults.hpp"

namespace stashbay {

// The user-defaults key of the global hotkey switch.
inline constexpr const char* globalHotkeyEnabledKey = "globalHotkeyEnabled";

// Whether the global hotkey is on: true while the key is absent, else the key's boolean reading.
bool globalHotkeyEnabled(const ns::UserDefaults& defaults);

}  // namespace stashbay
