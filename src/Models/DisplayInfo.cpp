#include "Models/DisplayInfo.hpp"

#include "macos/AppKit/Screen.hpp"
#include "macos/CoreGraphics/Display.hpp"
#include "stashbay/runtime/Executor.hpp"

namespace stashbay {

namespace {
constexpr const char* screenNumberKey = "NSScreenNumber";
constexpr const char* builtInDisplayName = "Built-in Display";
}  // namespace

std::vector<DisplayInfo> DisplayInfo::allDisplays() {
    runtime::assertMainExecutor("DisplayInfo.allDisplays");
    std::vector<DisplayInfo> displays;
    auto screens = ns::Screen::screens();
    for (std::size_t position = 0; position < screens.size(); ++position) {
        const ns::Screen& screen = screens[position];
        auto description = screen.deviceDescription();
        auto entry = description.find(screenNumberKey);
        if (entry == description.end()) continue;
        // Only a number that is a whole value in range is a display number.
        auto id = entry->second.asUInt32();
        if (!id) continue;
        bool isBuiltIn = cg::displayIsBuiltin(*id);
        bool isMain = position == 0;
        auto geometry = ScreenGeometry::forScreen(screen);
        std::string name = isBuiltIn ? builtInDisplayName : screen.localizedName();
        displays.emplace_back(*id, screen.frame(), std::move(geometry), isBuiltIn, isMain, std::move(name));
    }
    return displays;
}

std::optional<DisplayInfo> DisplayInfo::menuBarDisplay() {
    runtime::assertMainExecutor("DisplayInfo.menuBarDisplay");
    for (auto& display : allDisplays()) {
        if (display.isMain()) return std::move(display);
    }
    return std::nullopt;
}

}  // namespace stashbay
