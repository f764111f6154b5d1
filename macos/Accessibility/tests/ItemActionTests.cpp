#include "macos/Accessibility/Names.hpp"
#include "macos/Accessibility/UIElement.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

using namespace std::chrono_literals;
using ax::Error;

namespace {

// One item per application, each answering the press and show-menu actions its own way.
constexpr const char* itemsScenario = R"({
  "version": 1,
  "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
               "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 576}, "displayNumber": 1}],
  "applications": [
    {"pid": 10, "bundleIdentifier": "pop", "statusItems": [{"title": "Pop", "menu": [{"title": "One"}],
      "behaviour": {"opens": "window", "windowLayer": 8}}]},
    {"pid": 11, "bundleIdentifier": "shy", "statusItems": [{"title": "Shy", "menu": [{"title": "One"}],
      "behaviour": {"ignoresPress": true}}]},
    {"pid": 12, "bundleIdentifier": "stub", "statusItems": [{"title": "Stub",
      "behaviour": {"ignoresPress": true, "showMenuError": -25206}}]},
    {"pid": 13, "bundleIdentifier": "slow", "statusItems": [{"title": "Slow", "menu": [{"title": "One"}],
      "behaviour": {"blocksWhileMenuOpen": true}}]},
    {"pid": 14, "bundleIdentifier": "plain", "statusItems": [{"title": "Plain", "menu": [{"title": "One"}]}]}
  ]})";

class ItemActionTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    std::unique_ptr<sim::World> world = std::make_unique<sim::World>(sim::parseScenario(itemsScenario, "items.json"));

    const sim::StatusItem& item(sim::ProcessID pid) const { return *world->statusItemsOf(pid).front(); }
    ax::UIElementRef element(sim::ProcessID pid) const {
        return std::make_shared<const ax::UIElement>(ax::UIElement::Kind::statusItem, pid, item(pid).id);
    }
    // Virtual time spent since the test began.
    runtime::Duration now() const { return loop.now() - start; }

    runtime::Instant start = loop.now();
};

}  // namespace

TEST_F(ItemActionTest, EachItemAnswersPressAndShowMenuAsItsBehaviourSays) {
    struct Case {
        const char* name;
        sim::ProcessID pid;
        const char* action;
        Error result;
        bool menuOpens;
        bool popoverOpens;
    } cases[] = {
        {"a press opens the popover", 10, ax::action::press, Error::success, false, true},
        {"show-menu still opens the popover item's menu", 10, ax::action::showMenu, Error::success, true, false},
        {"an ignored press reports success and opens nothing", 11, ax::action::press, Error::success, false, false},
        {"show-menu opens the menu of an item that ignores presses", 11, ax::action::showMenu, Error::success, true,
         false},
        {"show-menu fails with the item's code", 12, ax::action::showMenu, Error::actionUnsupported, false, false},
        {"a plain item's press opens its menu", 14, ax::action::press, Error::success, true, false},
    };
    for (const auto& c : cases) {
        world = nullptr;
        world = std::make_unique<sim::World>(sim::parseScenario(itemsScenario, "items.json"));
        auto windowsBefore = world->windowServer().count();
        EXPECT_EQ(ax::performAction(element(c.pid), c.action), c.result) << c.name;
        EXPECT_EQ(world->openMenuItem().has_value(), c.menuOpens) << c.name;
        EXPECT_EQ(world->openPopoverItem().has_value(), c.popoverOpens) << c.name;
        EXPECT_EQ(world->windowServer().count(), windowsBefore + (c.menuOpens || c.popoverOpens ? 1 : 0)) << c.name;
        if (c.popoverOpens) {
            const auto* w = world->windowServer().find(*world->openPopoverWindow());
            ASSERT_NE(w, nullptr) << c.name;
            EXPECT_EQ(w->owner, c.pid);
            EXPECT_EQ(w->layer, 8);
            EXPECT_TRUE(w->onScreen);
            EXPECT_EQ(world->popoverOpenings(), std::vector<sim::StatusItemID>{item(c.pid).id});
        }
        EXPECT_EQ(now(), runtime::Duration::zero()) << c.name << ": no item here holds the caller";
    }
}

TEST_F(ItemActionTest, APopoverClosesOnAClickElsewhereAndWhenItsApplicationQuits) {
    ASSERT_EQ(ax::performAction(element(10), ax::action::press), Error::success);
    const auto* w = world->windowServer().find(*world->openPopoverWindow());
    ASSERT_NE(w, nullptr);
    world->noteMouseDown({w->bounds.midX(), w->bounds.midY()});
    EXPECT_TRUE(world->openPopoverItem()) << "a click inside keeps it";
    world->noteMouseDown({700, 500});
    EXPECT_FALSE(world->openPopoverItem());

    ASSERT_EQ(ax::performAction(element(10), ax::action::press), Error::success);
    auto window = *world->openPopoverWindow();
    world->quitApplication(10);
    EXPECT_FALSE(world->openPopoverItem());
    EXPECT_EQ(world->windowServer().find(window), nullptr);
    EXPECT_EQ(world->popoverOpenings().size(), 2u);
}

TEST_F(ItemActionTest, ABlockingItemHoldsTheCallerUntilItsMenuClosesThenSucceedsOrUntilTheTimeoutThenCannotComplete) {
    struct Case {
        const char* name;
        const char* action;
        std::optional<runtime::Duration> menuClosesAfter;
        runtime::Duration held;
        bool menuStaysOpen;
        Error answer;
    } cases[] = {
        {"press, menu left open", ax::action::press, std::nullopt, 6s, true, Error::cannotComplete},
        {"show-menu, menu left open", ax::action::showMenu, std::nullopt, 6s, true, Error::cannotComplete},
        {"press, menu closes after 2 s", ax::action::press, 2s, 2s, false, Error::success},
        {"show-menu, menu closes after 5.9 s", ax::action::showMenu, 5900ms, 5900ms, false, Error::success},
        {"show-menu, menu closes after 9 s", ax::action::showMenu, 9s, 6s, true, Error::cannotComplete},
    };
    for (const auto& c : cases) {
        world = nullptr;
        world = std::make_unique<sim::World>(sim::parseScenario(itemsScenario, "items.json"));
        world->mutableStatusItem(item(13).id)->spec.behaviour.menuClosesAfter = c.menuClosesAfter;
        auto before = now();
        EXPECT_EQ(ax::performAction(element(13), c.action), c.answer) << c.name;
        EXPECT_EQ(now() - before, c.held) << c.name;
        EXPECT_EQ(world->openMenuItem().has_value(), c.menuStaysOpen) << c.name;
        ASSERT_FALSE(world->menuHistory().empty());
        EXPECT_TRUE(world->menuHistory().back().opened) << c.name;
    }
    // The messaging timeout is the world's.
    world->closeMenus();
    world->setAccessibilityMessagingTimeout(1s);
    auto before = now();
    EXPECT_EQ(ax::performAction(element(13), ax::action::press), Error::cannotComplete);
    EXPECT_EQ(now() - before, 1s);
}

TEST_F(ItemActionTest, ABlockingItemThatOpensNothingAnswersAtOnce) {
    auto& behaviour = world->mutableStatusItem(item(13).id)->spec.behaviour;
    behaviour.ignoresPress = true;
    EXPECT_EQ(ax::performAction(element(13), ax::action::press), Error::success);
    behaviour.showMenuError = -25200;
    EXPECT_EQ(ax::performAction(element(13), ax::action::showMenu), Error::failure);
    EXPECT_EQ(now(), runtime::Duration::zero());
    EXPECT_FALSE(world->openMenuItem());
}
