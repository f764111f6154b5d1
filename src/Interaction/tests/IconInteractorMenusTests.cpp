#include "Interaction/IconInteractor.hpp"
#include "System/tests/SceneTest.hpp"
#include "macos/Accessibility/UIElement.hpp"
#include "macos/AppKit/RunningApplication.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace stashbay {
namespace {

// A bar 1000 points wide. Right to left: Twins' items "Same" (900), "Same" (800), "Other" (700),
// Solo (600), Menus (500), Pair's two small items (480, 460).
constexpr const char* menusScenario = R"({
  "version": 1,
  "screens": [{"frame": {"x": 0, "y": 0, "width": 1000, "height": 600},
               "visibleFrame": {"x": 0, "y": 0, "width": 1000, "height": 576}, "displayNumber": 1}],
  "menuBar": {"leftLimit": 100},
  "applications": [
    {"pid": 11, "bundleIdentifier": "twins", "name": "Twins", "statusItems": [
      {"title": "Same", "width": 100}, {"title": "Same", "width": 100}, {"title": "Other", "width": 100}]},
    {"pid": 10, "bundleIdentifier": "solo", "name": "Solo", "statusItems": [{"title": "Solo", "width": 100}]},
    {"pid": 12, "bundleIdentifier": "menus", "name": "Menus", "statusItems": [{"title": "Menus", "width": 100,
      "menu": [
        {"title": "Open", "mark": "✓"},
        {"separator": true},
        {"title": "Sort By", "submenu": [{"title": "Name", "mark": "•"}, {"title": "Date", "enabled": false}]},
        {"title": ""},
        {"title": "Quit", "enabled": false}]}]},
    {"pid": 13, "bundleIdentifier": "pair", "name": "Pair", "statusItems": [
      {"title": "P1", "width": 20}, {"title": "P2", "width": 20}]},
    {"pid": 14, "bundleIdentifier": "empty", "name": "Empty"}
  ]})";

class IconInteractorMenusTest : public SceneTest {
protected:
    IconInteractorMenusTest() : SceneTest(menusScenario, "menus.json") {}

    static MenuBarItem record(std::int32_t pid, std::optional<std::string> title, std::int64_t index, double x) {
        return MenuBarItem(MenuBarItemID(std::nullopt, index), pid, std::nullopt, "Owner", std::move(title),
                           cg::Point{x, 0}, cg::Size{24, 24}, 0, true, true, false, nullptr, runtime::Date{});
    }
    // The world's item the element names, by title and x; "none" without an element.
    std::string found(const MenuBarItem& item) const {
        auto element = IconInteractor::shared().findCurrentAXElementForTesting(item);
        if (!element) return "none";
        const auto* live = world->statusItem((*element)->statusItem());
        if (!live) return "gone";
        return live->spec.title.value_or("-") + "@" + std::to_string(static_cast<int>(live->frame.minX()));
    }
    sim::StatusItemID id(sim::ProcessID pid, std::size_t i) const { return world->statusItemsOf(pid).at(i)->id; }
};

TEST_F(IconInteractorMenusTest, FindsTheLiveElementByItsRules) {
    // Pair's first item goes left of its second: listed P1 (460), P2 (480).
    ASSERT_TRUE(world->requestMove(id(13, 0), id(13, 1)));
    constexpr auto nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        MenuBarItem item;
        const char* expected;
    } cases[] = {
        {"the only item, whatever its title and place", record(10, "Renamed", 7, 5), "Solo@600"},
        {"a unique title", record(11, "Other", 0, 900), "Other@700"},
        {"two equal titles: the rank decides", record(11, "Same", 1, 700), "Same@800"},
        {"two equal titles and the first rank, placed at the other", record(11, "Same", 0, 800), "Same@900"},
        {"an empty title is a title that matches none", record(11, "", 2, 900), "Other@700"},
        {"no title: the rank decides", record(11, std::nullopt, 0, 700), "Same@900"},
        {"an index past the list: the nearest x", record(11, "Same", 3, 790), "Same@800"},
        {"nearest of two", record(13, std::nullopt, 2, 471), "P2@480"},
        {"equally near: the first listed", record(13, std::nullopt, 2, 470), "P1@460"},
        {"a negative index never reads outside the list: the nearest x", record(11, std::nullopt, -1, 705),
         "Other@700"},
        {"the most negative index", record(13, "P", std::numeric_limits<std::int64_t>::min(), 482), "P2@480"},
        {"a position that is not a number: the first listed", record(13, std::nullopt, 5, nan), "P1@460"},
        {"an application without status items", record(14, std::nullopt, 0, 0), "none"},
        {"no application with the process id", record(99, "Solo", 0, 600), "none"},
    };
    for (const auto& c : cases) EXPECT_EQ(found(c.item), c.expected) << c.name;
}

TEST_F(IconInteractorMenusTest, FollowsTheApplicationWhenItReordersOrRemakesItsItems) {
    auto item = record(11, std::nullopt, 1, 800);
    EXPECT_EQ(found(item), "Same@800");
    // "Other" goes left of the first "Same": listed 900, 700, 800; rank 1 is now "Other".
    ASSERT_TRUE(world->requestMove(id(11, 2), id(11, 0)));
    EXPECT_EQ(found(item), "Other@800");

    // The application takes its items away and makes them again: the new elements are found.
    for (auto old : {id(11, 0), id(11, 1), id(11, 2)}) world->removeStatusItem(old);
    sim::StatusItemSpec spec;
    spec.width = 100;
    spec.title = "Fresh";
    world->addStatusItem(11, spec);
    auto only = IconInteractor::shared().findCurrentAXElementForTesting(item);
    ASSERT_TRUE(only);
    EXPECT_EQ((*only)->statusItem(), id(11, 0));
    EXPECT_TRUE(IconInteractor::shared().menuSnapshot(item) == std::nullopt) << "the new item has no menu";

    world->quitApplication(11);
    EXPECT_EQ(found(item), "none");
}

TEST_F(IconInteractorMenusTest, SnapshotsTheMenuAsTheTreeShowsIt) {
    auto snapshot = IconInteractor::shared().menuSnapshot(record(12, "Menus", 0, 500));
    ASSERT_TRUE(snapshot);
    ASSERT_EQ(snapshot->size(), 5u);
    const auto& entries = *snapshot;
    EXPECT_EQ(entries[0].title, "Open");
    EXPECT_EQ(entries[0].markChar, "✓");
    EXPECT_TRUE(entries[0].isEnabled);
    EXPECT_FALSE(entries[0].isSeparator);
    EXPECT_TRUE(entries[1].isSeparator);
    EXPECT_EQ(entries[1].title, "");
    ASSERT_EQ(entries[2].children.size(), 2u);
    EXPECT_EQ(entries[2].children[0].title, "Name");
    EXPECT_EQ(entries[2].children[0].markChar, "•");
    EXPECT_FALSE(entries[2].children[1].isEnabled);
    EXPECT_TRUE(entries[3].isSeparator) << "an entry with an empty title reads as a separator";
    EXPECT_FALSE(entries[4].isEnabled);

    EXPECT_FALSE(IconInteractor::shared().menuSnapshot(record(10, "Solo", 0, 600))) << "an item without a menu";
    world->quitApplication(12);
    EXPECT_FALSE(IconInteractor::shared().menuSnapshot(record(12, "Menus", 0, 500))) << "an application that exited";
}

TEST_F(IconInteractorMenusTest, PressingAnEntryReachesItsActionInTheWorld) {
    auto item = record(12, "Menus", 0, 500);
    auto snapshot = IconInteractor::shared().menuSnapshot(item);
    ASSERT_TRUE(snapshot);
    ASSERT_TRUE(world->openMenu(id(12, 0), sim::World::MenuTrigger::showMenu));

    EXPECT_TRUE(IconInteractor::shared().pressMenuItem((*snapshot)[2].children[0].element.element));
    ASSERT_EQ(world->menuChoices().size(), 1u);
    EXPECT_EQ(world->menuChoices()[0], (sim::World::MenuChoice{id(12, 0), {2, 0}}));
    EXPECT_FALSE(world->openMenuItem()) << "the chosen entry closed the menu";

    EXPECT_FALSE(IconInteractor::shared().pressMenuItem((*snapshot)[4].element.element)) << "a disabled entry";
    EXPECT_EQ(capture->texts("accessibility", os::LogLevel::error),
              std::vector<std::string>{"AXPress failed with error: -25204"});
    world->quitApplication(12);
    EXPECT_FALSE(IconInteractor::shared().pressMenuItem((*snapshot)[0].element.element)) << "an element that is gone";
    EXPECT_EQ(world->menuChoices().size(), 1u);
}

}  // namespace
}  // namespace stashbay
