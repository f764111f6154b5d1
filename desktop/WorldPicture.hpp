#pragma once

#include "SystemSettingsWindow.hpp"

#include "macos/sim/World.hpp"

#include <string>

namespace desktop {

// What the desktop shows of the world, reduced to its values (screen, windows, status items and
// their images, menus and popovers, the frontmost application, the pointer and cursor, a
// Command-drag of an item, System Settings, the browser's notice, the tooltip, the clock's
// minute): two pictures that compare equal paint the same, so the desktop repaints only when this
// changes. Taking one costs a pass over the windows and items.
class WorldPicture {
public:
    static WorldPicture of(const sim::World& world, const SystemSettingsWindow& settings);

    friend bool operator==(const WorldPicture&, const WorldPicture&) = default;

private:
    std::string values_;
};

}  // namespace desktop
