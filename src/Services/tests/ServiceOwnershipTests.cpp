#include "Services/DisplayManager.hpp"
#include "Services/MenuBarScanner.hpp"
#include "Services/PermissionsManager.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <type_traits>

using stashbay::DisplayManager;
using stashbay::MenuBarScanner;
using stashbay::PermissionsManager;

// Each of these services hands its tasks weak references to itself, which are empty unless a
// std::shared_ptr owns it: held any other way, polling, scanning or publishing would silently stop.
// So no code can make one except through create(), which gives the owning pointer.
static_assert(!std::is_default_constructible_v<PermissionsManager>);
static_assert(!std::is_default_constructible_v<MenuBarScanner>);
static_assert(!std::is_default_constructible_v<DisplayManager>);
static_assert(std::is_same_v<decltype(PermissionsManager::create()), std::shared_ptr<PermissionsManager>>);
static_assert(std::is_same_v<decltype(MenuBarScanner::create()), std::shared_ptr<MenuBarScanner>>);
static_assert(std::is_same_v<decltype(DisplayManager::create()), std::shared_ptr<DisplayManager>>);
