#include "macos/AppKit/MenuTracking.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Lit = std::vector<std::optional<std::size_t>>;
using K = ns::MenuTracking;

// The default world's menus as a person uses them: Wi-Fi's ("Wi-Fi" disabled, "Turn Wi-Fi Off", a
// separator, "Known Networks" with "Harbour" and "Lighthouse", "Wi-Fi Settings...") and
// Barometer's ("Pressure: 1013 hPa" disabled, a separator, "Units" with "hPa" and "inHg", "Quit
// Barometer").
class WorldMenuTest : public ::testing::Test {
protected:
    // The Finder in front: the keyboard's usual receiver.
    void SetUp() override { world.activate(*world.processes().find(301), 0); }
    const sim::StatusItem& item(const std::string& title) const {
        for (const auto* item : world.statusItems())
            if (item->spec.title == title) return *item;
        throw std::runtime_error("no item " + title);
    }
    void rightClick(const std::string& title) {
        const auto at = cg::Point{item(title).frame.midX(), item(title).frame.midY()};
        world.events().injectUserMouse(cg::EventType::rightMouseDown, at);
        world.events().injectUserMouse(cg::EventType::rightMouseUp, at);
        loop.runUntilIdle();
    }
    cg::Rect levelBounds(std::size_t level) const {
        return world.windowServer().find(world.openMenuLevels().at(level).window)->bounds;
    }
    // The middle of an entry of an open level.
    cg::Point entry(std::size_t level, std::size_t index) const {
        const auto r = levelBounds(level);
        return {r.minX() + 40,
                r.minY() + sim::World::menuPadding + sim::World::menuRowHeight * (static_cast<double>(index) + 0.5)};
    }
    void movePointer(cg::Point at) {
        world.events().injectUserMouse(cg::EventType::mouseMoved, at);
        loop.runUntilIdle();
    }
    // A key press; the process its key-down went to.
    sim::ProcessID key(std::uint16_t code) {
        world.events().injectUserKey(cg::EventType::keyDown, code);
        loop.runUntilIdle();
        const auto pid = world.events().routes().back().pid;
        world.events().injectUserKey(cg::EventType::keyUp, code);
        loop.runUntilIdle();
        return pid;
    }
    Lit lit() const {
        Lit out;
        for (const auto& level : world.openMenuLevels()) out.push_back(level.highlighted);
        return out;
    }

    runtime::ManualLoop loop;
    sim::World world;
};

}  // namespace

TEST_F(WorldMenuTest, TheArrowsReturnAndEscapeGoToTheApplicationShowingTheMenuAndMoveThroughItAsThePlatformDoes) {
    struct Row {
        const char* what;
        std::string item;
        std::vector<std::uint16_t> keys;
        Lit lit;  // empty: the menu closed
        std::optional<std::vector<std::size_t>> chosen;
    };
    const auto none = std::nullopt;
    const Row rows[] = {
        {"Down lights the first enabled entry", "Wi-Fi", {K::downArrow}, {1}, none},
        {"Down skips the separator", "Wi-Fi", {K::downArrow, K::downArrow}, {3}, none},
        {"Up with nothing lit lights the last", "Wi-Fi", {K::upArrow}, {4}, none},
        {"Down wraps round past the disabled entry",
         "Wi-Fi",
         {K::downArrow, K::downArrow, K::downArrow, K::downArrow},
         {1},
         none},
        {"Right opens the lit entry's submenu at its first entry",
         "Wi-Fi",
         {K::downArrow, K::downArrow, K::rightArrow},
         {3, 0},
         none},
        {"Right on an entry without a submenu does nothing", "Wi-Fi", {K::downArrow, K::rightArrow}, {1}, none},
        {"Left closes the submenu and its entry stays lit",
         "Wi-Fi",
         {K::downArrow, K::downArrow, K::rightArrow, K::downArrow, K::leftArrow},
         {3},
         none},
        {"Return chooses in the submenu",
         "Wi-Fi",
         {K::downArrow, K::downArrow, K::rightArrow, K::downArrow, K::returnKey},
         {},
         std::vector<std::size_t>{3, 1}},
        {"Return on an entry with a submenu opens it", "1013 hPa", {K::downArrow, K::returnKey}, {2, 0}, none},
        // Not Barometer's last entry: choosing "Quit Barometer" quits it.
        {"Return chooses", "Wi-Fi", {K::upArrow, K::returnKey}, {}, std::vector<std::size_t>{4}},
        {"Enter chooses too", "Wi-Fi", {K::downArrow, K::enterKey}, {}, std::vector<std::size_t>{1}},
        {"Return with nothing lit does nothing", "1013 hPa", {K::returnKey}, {none}, none},
        {"Escape closes the menu and its submenu", "1013 hPa", {K::downArrow, K::rightArrow, K::escapeKey}, {}, none},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        world.closeMenus();
        const auto choices = world.menuChoices().size();
        rightClick(row.item);
        ASSERT_EQ(world.openMenuItem(), item(row.item).id);
        // Each key goes to the application showing the menu, not to the frontmost one.
        for (auto code : row.keys) EXPECT_EQ(key(code), item(row.item).owner);
        EXPECT_EQ(lit(), row.lit);
        EXPECT_EQ(world.openMenuItem().has_value(), !row.lit.empty());
        if (row.chosen) {
            ASSERT_EQ(world.menuChoices().size(), choices + 1);
            EXPECT_EQ(world.menuChoices().back(), (sim::World::MenuChoice{item(row.item).id, *row.chosen}));
        } else {
            EXPECT_EQ(world.menuChoices().size(), choices);
        }
    }
    // With no menu open the arrows go to the frontmost application.
    world.closeMenus();
    EXPECT_EQ(key(K::downArrow), 301);
}

TEST_F(WorldMenuTest, ASubmenuOpensOnceThePointerRestsItsEntryStaysLitAndLeavingTheMenusClearsTheLight) {
    rightClick("Wi-Fi");
    movePointer(entry(0, 3));
    EXPECT_EQ(lit(), (Lit{3}));
    loop.advance(K::submenuDelay - 1ms);
    EXPECT_EQ(world.openMenuLevels().size(), 1u) << "not before the pointer has rested";
    loop.advance(1ms);
    ASSERT_EQ(world.openMenuLevels().size(), 2u);
    EXPECT_EQ(lit(), (Lit{3, std::nullopt}));

    movePointer(entry(1, 1));
    EXPECT_EQ(lit(), (Lit{3, 1})) << "the entry the submenu came from stays lit";
    movePointer({40, 800});
    EXPECT_EQ(lit(), (Lit{3, std::nullopt})) << "the submenu's light goes, its parent's stays";
    movePointer(entry(0, 1));
    EXPECT_EQ(lit(), (Lit{1})) << "another entry of the parent closes the submenu";
    movePointer({40, 800});
    EXPECT_EQ(lit(), (Lit{std::nullopt}));
    movePointer(entry(0, 0));
    EXPECT_EQ(lit(), (Lit{std::nullopt})) << "a disabled entry is not lit";

    // Passing over "Known Networks" on the way to the next entry opens nothing.
    movePointer(entry(0, 3));
    loop.advance(K::submenuDelay / 2);
    movePointer(entry(0, 4));
    loop.advance(K::submenuDelay * 2);
    EXPECT_EQ(lit(), (Lit{4}));
}

TEST_F(WorldMenuTest, WhatAnItemOpensAppearsWhereThePlatformPutsIt) {
    // A menu that would run past the screen's right edge ends a little short of it.
    rightClick("Wi-Fi");
    ASSERT_EQ(world.openMenuItem(), item("Wi-Fi").id);
    EXPECT_LT(levelBounds(0).maxX(), 1512.0) << "flush against the edge";
    EXPECT_EQ(levelBounds(0).maxX(), 1512.0 - sim::World::menuScreenMargin);
    EXPECT_EQ(levelBounds(0).minY(), item("Wi-Fi").frame.maxY());
    // A menu with room hangs from its item's left edge.
    rightClick("1013 hPa");
    EXPECT_EQ(levelBounds(0).minX(), item("1013 hPa").frame.minX());

    // A window opened from an item on the bar hangs under it; one from an item off the bar opens
    // as the platform places a new window: centred across the visible frame (below the bar, 945
    // points high), a quarter of the free height above it.
    const auto barometer = item("1013 hPa").id;
    world.mutableStatusItem(barometer)->spec.behaviour.opens = sim::StatusItemBehaviour::Opens::window;
    struct Row {
        const char* title;
        cg::Rect frame;
    };
    const double barHeight = world.menuBarHeight();
    const Row rows[] = {
        {"1013 hPa", {item("1013 hPa").frame.minX(), item("1013 hPa").frame.maxY() + 4, 320, 240}},
        {"Postcard", {(1512 - 320) / 2.0, barHeight + (945 - 240) / 4.0, 320, 240}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        ASSERT_TRUE(world.pressItem(item(row.title).id, sim::World::MenuTrigger::press));
        EXPECT_EQ(world.windowServer().find(*world.openPopoverWindow())->bounds, row.frame);
    }
    EXPECT_FALSE(item("Postcard").onBar);
}
