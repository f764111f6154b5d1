#include "macos/Accessibility/Trust.hpp"

#include "macos/sim/World.hpp"

namespace ax {

bool isProcessTrusted() {
    const auto* world = sim::World::currentOrNull();
    return world && world->permissions().accessibility;
}

bool isProcessTrustedWithOptions(const cf::Dictionary& options) {
    auto* world = sim::World::currentOrNull();
    if (!world) return false;
    bool trusted = world->permissions().accessibility;
    if (!trusted) {
        auto prompt = options.find(trustedCheckOptionPrompt);
        if (prompt != options.end() && prompt->second.truthValue().value_or(false))
            ++world->permissions().accessibilityPrompts;
    }
    return trusted;
}

}  // namespace ax
