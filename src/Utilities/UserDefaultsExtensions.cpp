#include "Utilities/UserDefaultsExtensions.hpp"

namespace stashbay {

bool globalHotkeyEnabled(const ns::UserDefaults& defaults) {
    if (!defaults.object(globalHotkeyEnabledKey)) return true;
    return defaults.boolForKey(globalHotkeyEnabledKey);
}

}  // namespace stashbay
