#include "System/AccessibilityBridge.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include "SceneTest.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using stashbay::AccessibilityBridge;
using Item = AccessibilityBridge::AXMenuBarItem;

namespace {

constexpr const char* edges = R"({
  "version": 1,
  "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
               "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 576}, "displayNumber": 1}],
  "applications": [
    {"pid": 20, "bundleIdentifier": "e", "name": "Edge", "statusItems": [
      {"title": "First", "width": 30},
      {"title": "NoPosition", "positionUnreadable": true},
      {"width": 20},
      {"title": "", "width": 20},
      {"title": "NoSize", "sizeUnreadable": true}]},
    {"pid": 21, "bundleIdentifier": "n", "statusItems": [{"title": "N", "enabled": false}]},
    {"pid": 22, "bundleIdentifier": "q", "name": "Quiet"},
    {"pid": 23, "bundleIdentifier": "l", "name": "Launching", "finishedLaunching": false},
    {"pid": 25, "bundleIdentifier": "m", "name": "Menus", "statusItems": [
      {"title": "Menu", "menu": [
        {"title": "Top", "mark": "✓", "submenu": [
          {"title": "Sub", "submenu": [{"title": "Too deep"}]},
          {"title": "Sub separator", "separator": true}]},
        {"title": ""},
        {},
        {"title": "Disabled", "enabled": false},
        {"title": "Named separator", "separator": true}]},
      {"title": "Bare", "behaviour": {"ignoresShowMenu": true}}]}
  ]})";

class AccessibilityBridgeTest : public SceneTest {
protected:
    AccessibilityBridgeTest() : SceneTest(edges, "edges.json") {}

    static std::vector<Item> itemsOf(std::int32_t pid) {
        auto app = ns::RunningApplication::withProcessIdentifier(pid);
        EXPECT_NE(app, nullptr) << pid;
        return app ? AccessibilityBridge::menuBarItems(*app) : std::vector<Item>{};
    }
    static ax::UIElementRef elementTitled(std::int32_t pid, const std::string& title) {
        for (const auto& item : itemsOf(pid))
            if (item.title == title) return item.axElement.element;
        return nullptr;
    }
    std::vector<std::string> records() const { return capture->texts("accessibility"); }
};

std::vector<std::string> titles(const std::vector<Item>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(item.title ? "'" + *item.title + "'" : "-");
    return out;
}

}  // namespace

TEST_F(AccessibilityBridgeTest, ListsReadableChildrenInTreeOrderAndLeavesOutThoseWithoutAPlace) {
    auto items = itemsOf(20);
    EXPECT_EQ(titles(items), (std::vector<std::string>{"'First'", "-", "''"}))
        << "an absent title stays absent, an empty one stays empty";
    auto world20 = world->statusItemsOf(20);
    ASSERT_EQ(items.size(), 3u);
    const sim::StatusItem* expected[] = {world20[0], world20[2], world20[3]};
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].pid, 20);
        EXPECT_EQ(items[i].bounds(), expected[i]->frame);
        EXPECT_TRUE(items[i].isEnabled);
        EXPECT_EQ(items[i].subrole, "AXMenuExtra");
        ASSERT_NE(items[i].axElement.element, nullptr);
        EXPECT_EQ(items[i].axElement.element->statusItem(), expected[i]->id);
    }
    EXPECT_EQ(records(), (std::vector<std::string>{"Found 3 menu bar items for PID 20 (Edge)"}))
        << "only the listed items are counted";
}

TEST_F(AccessibilityBridgeTest, AChildCostsAtMostFiveReadsAndStopsAtTheFirstMissingPlace) {
    world->behaviour(20).accessibilityCallCost = 10ms;
    auto start = loop.now();
    itemsOf(20);
    // Extras bar and its children, then 5 + 1 (no position) + 5 + 5 + 2 (no size).
    EXPECT_EQ(loop.now() - start, 20 * 10ms);
}

namespace {

struct ListingCase {
    const char* name;
    std::function<void(sim::World&)> change;
    std::int32_t pid;
    std::vector<std::string> titles;
    std::vector<std::string> records;
};

}  // namespace

TEST_F(AccessibilityBridgeTest, FailuresShrinkTheListAndOnlyAReadableBarIsLogged) {
    const std::vector<ListingCase> cases = {
        {"an application without an extras bar", [](sim::World&) {}, 22, {}, {}},
        {"an extras bar whose children cannot be read",
         [](sim::World& w) { w.behaviour(20).attributeErrors["AXChildren"] = -25204; },
         20,
         {},
         {}},
        {"an extras bar with no children",
         [](sim::World& w) { w.removeStatusItem(w.statusItemsOf(21)[0]->id); },
         21,
         {},
         {"Found 0 menu bar items for PID 21 (unknown)"}},
        {"every read failing", [](sim::World& w) { w.behaviour(20).allAttributesError = -25200; }, 20, {}, {}},
        {"a hung application", [](sim::World& w) { w.behaviour(20).hung = true; }, 20, {}, {}},
        {"trust revoked", [](sim::World& w) { w.permissions().accessibility = false; }, 20, {}, {}},
        {"a scripted success with no value for the title",
         [](sim::World& w) { w.behaviour(21).attributeErrors["AXTitle"] = 0; },
         21,
         {"-"},
         {"Found 1 menu bar items for PID 21 (unknown)"}},
    };
    for (const auto& c : cases) {
        reload();
        c.change(*world);
        EXPECT_EQ(titles(itemsOf(c.pid)), c.titles) << c.name;
        EXPECT_EQ(capture->texts("accessibility"), c.records) << c.name;
    }
}

TEST_F(AccessibilityBridgeTest, EnabledIsTrueOnlyWhenItCannotBeRead) {
    ASSERT_EQ(itemsOf(21).size(), 1u);
    EXPECT_FALSE(itemsOf(21)[0].isEnabled);
    world->behaviour(21).attributeErrors["AXEnabled"] = -25205;
    EXPECT_TRUE(itemsOf(21)[0].isEnabled);
}

TEST_F(AccessibilityBridgeTest, AHungApplicationCostsTheTimeoutPerCallAndAnswersCannotComplete) {
    auto element = elementTitled(20, "First");
    ASSERT_NE(element, nullptr);
    world->behaviour(20).hung = true;
    capture->clear();

    auto start = loop.now();
    EXPECT_TRUE(itemsOf(20).empty());
    EXPECT_EQ(loop.now() - start, 6s) << "the first read fails; nothing more is asked";

    start = loop.now();
    EXPECT_FALSE(AccessibilityBridge::performPress(element));
    EXPECT_EQ(loop.now() - start, 6s);
    EXPECT_FALSE(AccessibilityBridge::menuSnapshot(element));
    EXPECT_EQ(loop.now() - start, 12s);
    EXPECT_EQ(records(), (std::vector<std::string>{"AXPress failed with error: -25204"}));
}

TEST_F(AccessibilityBridgeTest, TrustRevokedAtRunTimeEmptiesEverythingAndFailsActions) {
    auto element = elementTitled(25, "Menu");
    ASSERT_NE(element, nullptr);
    EXPECT_TRUE(AccessibilityBridge::isAccessibilityGranted());
    world->permissions().accessibility = false;
    capture->clear();

    EXPECT_FALSE(AccessibilityBridge::isAccessibilityGranted());
    EXPECT_TRUE(itemsOf(25).empty());
    EXPECT_FALSE(AccessibilityBridge::menuSnapshot(element));
    EXPECT_TRUE(records().empty()) << "failed reads are not logged";
    EXPECT_FALSE(AccessibilityBridge::performPress(element));
    EXPECT_FALSE(AccessibilityBridge::performShowMenu(element));
    EXPECT_EQ(records(),
              (std::vector<std::string>{"AXPress failed with error: -25211", "AXShowMenu failed with error: -25211"}));
    EXPECT_FALSE(world->openMenuWindow());

    world->permissions().accessibility = true;
    EXPECT_EQ(itemsOf(25).size(), 2u);
    EXPECT_TRUE(AccessibilityBridge::menuSnapshot(element));
}

TEST_F(AccessibilityBridgeTest, RequestPromptsOnlyWhenAskedAndNotTrusted) {
    EXPECT_TRUE(AccessibilityBridge::requestAccessibility(true));
    EXPECT_EQ(world->permissions().accessibilityPrompts, 0);
    world->permissions().accessibility = false;
    EXPECT_FALSE(AccessibilityBridge::requestAccessibility(false));
    EXPECT_EQ(world->permissions().accessibilityPrompts, 0);
    EXPECT_FALSE(AccessibilityBridge::requestAccessibility(true));
    EXPECT_EQ(world->permissions().accessibilityPrompts, 1);
}

TEST_F(AccessibilityBridgeTest, PressAndShowMenuOpenTheMenuWindowAndIgnoredActionsStillSucceed) {
    auto menu = elementTitled(25, "Menu");
    auto bare = elementTitled(25, "Bare");
    ASSERT_TRUE(menu && bare);
    capture->clear();

    EXPECT_TRUE(AccessibilityBridge::performPress(menu));
    ASSERT_TRUE(world->openMenuWindow());
    EXPECT_EQ(world->windowServer().find(*world->openMenuWindow())->layer, 101);
    EXPECT_EQ(world->openMenuItem(), menu->statusItem());

    EXPECT_TRUE(AccessibilityBridge::performShowMenu(bare));
    EXPECT_EQ(world->openMenuItem(), menu->statusItem()) << "the application ignored it";
    EXPECT_FALSE(world->menuHistory().back().opened);
    EXPECT_TRUE(AccessibilityBridge::performShowMenu(menu));
    EXPECT_TRUE(records().empty()) << "success writes nothing";

    world->removeStatusItem(bare->statusItem());
    EXPECT_FALSE(AccessibilityBridge::performPress(bare));
    EXPECT_FALSE(AccessibilityBridge::performPress(nullptr));
    EXPECT_EQ(records(),
              (std::vector<std::string>{"AXPress failed with error: -25202", "AXPress failed with error: -25201"}));
}

TEST_F(AccessibilityBridgeTest, MenuSnapshotsReadTwoLevelsAndTreatUntitledEntriesAsSeparators) {
    auto menu = AccessibilityBridge::menuSnapshot(elementTitled(25, "Menu"));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->size(), 5u);
    const auto& top = (*menu)[0];
    EXPECT_EQ(top.title, "Top");
    EXPECT_EQ(top.markChar, "✓");
    EXPECT_FALSE(top.isSeparator);
    ASSERT_EQ(top.children.size(), 2u);
    EXPECT_EQ(top.children[0].title, "Sub");
    EXPECT_TRUE(top.children[0].children.empty()) << "a submenu's entries get no children";
    EXPECT_TRUE(top.children[1].isSeparator);
    EXPECT_EQ(top.children[1].title, "Sub separator");

    struct Expected {
        const char* title;
        bool enabled;
        bool separator;
    };
    const Expected rest[] = {
        {"", true, true}, {"", true, true}, {"Disabled", false, false}, {"Named separator", true, true}};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& entry = (*menu)[i + 1];
        EXPECT_EQ(entry.title, rest[i].title) << i;
        EXPECT_EQ(entry.isEnabled, rest[i].enabled) << i;
        EXPECT_EQ(entry.isSeparator, rest[i].separator) << i;
        EXPECT_FALSE(entry.markChar) << i;
        EXPECT_TRUE(entry.children.empty()) << i;
    }

    EXPECT_FALSE(AccessibilityBridge::menuSnapshot(elementTitled(25, "Bare"))) << "no menu is absent, never empty";

    // The entry's element is what choosing it presses.
    EXPECT_TRUE(AccessibilityBridge::performPress(top.children[0].element.element));
    ASSERT_EQ(world->menuChoices().size(), 1u);
    EXPECT_EQ(world->menuChoices()[0].path, (std::vector<std::size_t>{0, 0}));
}

TEST_F(AccessibilityBridgeTest, SnapshotsAreAbsentForAnApplicationThatQuit) {
    auto element = elementTitled(25, "Menu");
    world->quitApplication(25);
    EXPECT_FALSE(AccessibilityBridge::menuSnapshot(element));
}

TEST_F(AccessibilityBridgeTest, AllItemsLeaveOutLaunchingApplicationsAndSortByX) {
    sim::StatusItemSpec early;
    early.title = "Early";
    world->addStatusItem(23, early);
    world->behaviour(23).accessibilityCallCost = 1s;
    auto start = loop.now();
    auto all = AccessibilityBridge::allMenuBarItems();
    EXPECT_EQ(loop.now(), start) << "the launching application was not asked";
    EXPECT_EQ(all.size(), 3u + 1u + 2u);
    for (std::size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1].position.x, all[i].position.x);
    for (const auto& item : all) EXPECT_NE(item.pid, 23);
    EXPECT_TRUE(
        capture->contains("accessibility", os::LogLevel::info, "Enumerated 6 total menu bar items across all apps."));
}

TEST(AccessibilityBridgeDefaultScenario, ItemsAgreeInCountAndOrderWithTheLaidOutBar) {
    runtime::ManualLoop loop;
    os::LogStore::shared().setEchoToStderr(false);
    sim::World world;
    std::size_t listed = 0;
    for (const auto& app : ns::Workspace::shared().runningApplications()) {
        if (!app->isFinishedLaunching() || app->isTerminated()) continue;
        auto items = AccessibilityBridge::menuBarItems(*app);
        auto expected = world.statusItemsOf(app->processIdentifier());
        ASSERT_EQ(items.size(), expected.size()) << app->processIdentifier();
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].title, expected[i]->spec.title);
            EXPECT_EQ(items[i].bounds(), expected[i]->frame);
        }
        listed += items.size();
    }
    auto bar = world.statusItems();
    EXPECT_EQ(listed, bar.size());

    auto all = AccessibilityBridge::allMenuBarItems();
    ASSERT_EQ(all.size(), bar.size());
    // The bar is right to left; the bridge lists left to right.
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto* item = bar[bar.size() - 1 - i];
        EXPECT_EQ(all[i].pid, item->owner) << i;
        EXPECT_EQ(all[i].bounds(), item->frame) << i;
        EXPECT_EQ(all[i].axElement.element->statusItem(), item->id) << i;
    }

    // The scanner lists one application at a time on its own executor.
    runtime::SerialExecutor scanner("scanner");
    std::size_t fromScanner = 0;
    auto controlCenter = ns::RunningApplication::withProcessIdentifier(304);
    ASSERT_NE(controlCenter, nullptr);
    scanner.enqueue(nullptr, [&] { fromScanner = AccessibilityBridge::menuBarItems(*controlCenter).size(); });
    loop.runUntilIdle();
    EXPECT_EQ(fromScanner, 4u);
}
