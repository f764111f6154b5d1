#include "macos/sim/GeneratedScenario.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace std::chrono_literals;

namespace {

class MenuBarLayoutTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
};

const sim::StatusItem* byTitle(const sim::World& world, const std::string& title) {
    for (const auto* item : world.statusItems())
        if (item->spec.title == title) return item;
    return nullptr;
}

// What the app counts as seen: the status window on screen, and the item's centre not left of
// a line 20 points right of the camera housing's right edge.
bool seenByTheApp(const sim::World& world, const sim::StatusItem& item) {
    const auto& screen = world.screens().primary()->spec();
    const double notchRight = screen.auxiliaryTopRightArea->minX();
    const auto* window = world.windowServer().find(item.window);
    return window && window->onScreen && !(item.frame.midX() < notchRight + 20.0);
}

}  // namespace

TEST_F(MenuBarLayoutTest, WhatTheBarShowsIsWhatTheAppCountsAsSeen) {
    sim::World world;
    int shown = 0, hidden = 0;
    for (const auto* item : world.statusItems()) {
        if (item->window == 0) continue;
        EXPECT_EQ(item->shown, seenByTheApp(world, *item)) << item->spec.title.value_or("-");
        ++(item->shown ? shown : hidden);
        if (item->shown) {
            EXPECT_GE(item->frame.minX(), 850.0) << "a shown item lies wholly beside the housing";
        }
    }
    EXPECT_GE(shown, 10);
    EXPECT_GE(hidden, 10);
    // The item that once stood half beside the housing now lies under it.
    const auto* stopwatch = byTitle(world, "Stopwatch");
    ASSERT_NE(stopwatch, nullptr);
    EXPECT_FALSE(stopwatch->shown);
    EXPECT_TRUE(stopwatch->onBar);
    EXPECT_LE(stopwatch->frame.maxX(), 850.0);
    EXPECT_GE(stopwatch->frame.minX(), 662.0);
}

TEST_F(MenuBarLayoutTest, TheHousingMarginHidesAnItemWhoseCentreLiesWithinIt) {
    // A housing from 100 to 200 on a 400-point screen.
    auto scenario = sim::parseScenario(R"({
      "version": 1,
      "screens": [{"frame": {"x": 0, "y": 0, "width": 400, "height": 300},
                   "visibleFrame": {"x": 0, "y": 0, "width": 400, "height": 270},
                   "safeAreaInsets": {"top": 30},
                   "auxiliaryTopLeftArea": {"x": 0, "y": 270, "width": 100, "height": 30},
                   "auxiliaryTopRightArea": {"x": 200, "y": 270, "width": 200, "height": 30},
                   "displayNumber": 1}],
      "applications": [{"pid": 10, "bundleIdentifier": "a", "statusItems": [
        {"title": "A", "width": 90}, {"title": "B", "width": 40}, {"title": "C", "width": 40},
        {"title": "D", "width": 20}, {"title": "E", "width": 40}, {"title": "F", "width": 40},
        {"title": "G", "width": 40}]}]})",
                                       "housing.json");
    sim::World world{scenario};
    // A: 310-400; B: 270-310; C: 230-270; D: 210-230, its centre exactly 20 past the edge. E would
    // stand at 170-210, under the edge: it and the rest go under the housing from its right edge.
    for (const char* title : {"A", "B", "C", "D"}) EXPECT_TRUE(byTitle(world, title)->shown) << title;
    EXPECT_EQ(byTitle(world, "E")->frame, (cg::Rect{160, 0, 40, 30}));
    EXPECT_EQ(byTitle(world, "F")->frame, (cg::Rect{120, 0, 40, 30}));
    EXPECT_FALSE(byTitle(world, "E")->shown);
    EXPECT_TRUE(byTitle(world, "E")->onBar) << "its window stays on screen, behind the housing";
    EXPECT_FALSE(byTitle(world, "G")->onBar) << "past the housing's left edge is off the bar";

    // One point further left, D's centre lies within the margin although it fits beside the housing.
    sim::MenuBarSpec inset;
    inset.rightInset = 1;
    world.setMenuBarSpec(inset);
    EXPECT_FALSE(byTitle(world, "D")->shown);
    EXPECT_EQ(byTitle(world, "D")->frame, (cg::Rect{180, 0, 20, 30}));
    for (const auto* item : world.statusItems()) {
        const bool seen = item->onBar && !(item->frame.midX() < 220.0);
        EXPECT_EQ(item->shown, seen) << item->spec.title.value_or("-");
    }
}

TEST_F(MenuBarLayoutTest, ABarWithoutAHousingShowsEveryItemOnIt) {
    auto scenario = sim::parseScenario(R"({
      "version": 1,
      "screens": [{"frame": {"x": 0, "y": 0, "width": 400, "height": 300},
                   "visibleFrame": {"x": 0, "y": 0, "width": 400, "height": 276}, "displayNumber": 7}],
      "menuBar": {"leftLimit": 100},
      "applications": [{"pid": 10, "bundleIdentifier": "a", "statusItems": [
        {"title": "A", "width": 150}, {"title": "B", "width": 150}, {"title": "C", "width": 150}]}]})",
                                       "plain.json");
    sim::World world{scenario};
    EXPECT_TRUE(byTitle(world, "A")->shown);
    EXPECT_TRUE(byTitle(world, "B")->shown);
    EXPECT_FALSE(byTitle(world, "C")->shown);
    EXPECT_FALSE(byTitle(world, "C")->onBar);
}

// Building a world lays its bar out once however many items it has, and each layout finds every
// window by a lookup that does not walk the others.
TEST_F(MenuBarLayoutTest, ALargeWorldIsLaidOutOnceWhileItLoads) {
    for (int count : {1000, 10000}) {
        const auto scenario = sim::scenarioWithManyItems(count);
        sim::World world{scenario};
        EXPECT_EQ(world.menuBar().layoutCount(), 1u) << count;
        // Every item is laid out: the rightmost at the edge, the rest left of it.
        auto items = world.statusItems();
        ASSERT_GE(items.size(), static_cast<std::size_t>(count));
        EXPECT_EQ(items.front()->frame.maxX(), 1512.0);
        EXPECT_FALSE(items.back()->onBar);
        EXPECT_EQ(world.windowServer().find(items.back()->window)->bounds, items.back()->frame);

        // An application that launches later lays the bar out once for all its items.
        sim::ProcessSpec late;
        late.bundleIdentifier = "com.example.late";
        late.statusItems.resize(5);
        world.launchApplication(late);
        EXPECT_EQ(world.menuBar().layoutCount(), 2u);
    }
}

TEST_F(MenuBarLayoutTest, MenusAndPopoversStayOnTheScreen) {
    sim::World world;
    const auto* clock = byTitle(world, "Clock");
    ASSERT_NE(clock, nullptr);
    ASSERT_TRUE(world.openMenu(clock->id, sim::World::MenuTrigger::click));
    const auto* menu = world.windowServer().find(*world.openMenuWindow());
    EXPECT_EQ(menu->bounds.maxX(), 1512.0 - sim::World::menuScreenMargin)
        << "a menu of the rightmost item ends a little short of the screen's edge";
    EXPECT_EQ(menu->bounds.minY(), clock->frame.maxY());

    // A popover of an item off the bar opens on the screen, with its application's name.
    const auto* postcard = byTitle(world, "Postcard");
    ASSERT_NE(postcard, nullptr);
    ASSERT_LT(postcard->frame.minX(), 0.0);
    ASSERT_TRUE(world.pressItem(postcard->id, sim::World::MenuTrigger::click));
    const auto* popover = world.windowServer().find(*world.openPopoverWindow());
    EXPECT_GE(popover->bounds.minX(), 0.0);
    EXPECT_LE(popover->bounds.maxX(), 1512.0);
    EXPECT_EQ(popover->name, "Postcard");
}

TEST_F(MenuBarLayoutTest, SubmenusOpenUnderThePointerAndEscapeClosesTheMenu) {
    sim::World world;
    const auto* wifi = byTitle(world, "Wi-Fi");
    ASSERT_NE(wifi, nullptr);
    auto centre = [&](const cg::Rect& r) { return cg::Point{r.midX(), r.midY()}; };
    world.events().injectUserMouse(cg::EventType::rightMouseDown, centre(wifi->frame));
    world.events().injectUserMouse(cg::EventType::rightMouseUp, centre(wifi->frame));
    loop.runUntilIdle();
    ASSERT_EQ(world.openMenuItem(), wifi->id);
    auto levels = world.openMenuLevels();
    ASSERT_EQ(levels.size(), 1u);
    const auto menu = world.windowServer().find(levels[0].window)->bounds;
    EXPECT_LE(menu.maxX(), 1512.0);
    // "Known Networks" is the fourth entry: the pointer resting on it opens its submenu beside it.
    auto row = [&](const cg::Rect& r, int i) {
        return cg::Point{r.midX(), r.minY() + sim::World::menuPadding + sim::World::menuRowHeight * (i + 0.5)};
    };
    world.events().injectUserMouse(cg::EventType::mouseMoved, row(menu, 3));
    loop.advance(ns::MenuTracking::submenuDelay);
    levels = world.openMenuLevels();
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_EQ(levels[0].highlighted, 3u);
    EXPECT_EQ(levels[1].entries->size(), 2u);
    const auto submenu = world.windowServer().find(levels[1].window)->bounds;
    EXPECT_LE(submenu.maxX(), 1512.0) << "near the right edge a submenu opens left of its menu";
    EXPECT_LT(submenu.minX(), menu.minX());
    // Onto another entry without a submenu: the submenu closes.
    world.events().injectUserMouse(cg::EventType::mouseMoved, row(menu, 1));
    loop.runUntilIdle();
    EXPECT_EQ(world.openMenuLevels().size(), 1u);
    // A click on "Known Networks" opens it again, and a click in it chooses "Lighthouse".
    world.events().injectUserMouse(cg::EventType::leftMouseDown, row(menu, 3));
    world.events().injectUserMouse(cg::EventType::leftMouseUp, row(menu, 3));
    loop.runUntilIdle();
    levels = world.openMenuLevels();
    ASSERT_EQ(levels.size(), 2u);
    const auto reopened = world.windowServer().find(levels[1].window)->bounds;
    world.events().injectUserMouse(cg::EventType::leftMouseDown, row(reopened, 1));
    world.events().injectUserMouse(cg::EventType::leftMouseUp, row(reopened, 1));
    loop.runUntilIdle();
    EXPECT_FALSE(world.openMenuItem());
    ASSERT_EQ(world.menuChoices().size(), 1u);
    EXPECT_EQ(world.menuChoices()[0], (sim::World::MenuChoice{wifi->id, {3, 1}}));

    // Escape closes an open menu and its submenus, and reaches no other application.
    world.events().injectUserMouse(cg::EventType::rightMouseDown, centre(wifi->frame));
    world.events().injectUserMouse(cg::EventType::rightMouseUp, centre(wifi->frame));
    loop.runUntilIdle();
    world.events().injectUserMouse(cg::EventType::mouseMoved, row(menu, 3));
    loop.advance(ns::MenuTracking::submenuDelay);
    ASSERT_EQ(world.openMenuLevels().size(), 2u);
    auto windowsBefore = world.windowServer().count();
    world.events().injectUserKey(cg::EventType::keyDown, sim::World::escapeKeyCode);
    loop.runUntilIdle();
    EXPECT_FALSE(world.openMenuItem());
    EXPECT_EQ(world.windowServer().count(), windowsBefore - 2);
    const auto& last = world.events().routes().back();
    EXPECT_EQ(last.pid, wifi->owner);
}
