#include "macos/Accessibility/Names.hpp"
#include "macos/Accessibility/Trust.hpp"
#include "macos/Accessibility/UIElement.hpp"
#include "macos/Accessibility/Value.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using ax::Error;

namespace {

// Two applications: 10 with two items (the first with a menu two levels deep), 11 with one item
// and an application behaviour the tests script.
constexpr const char* twoApps = R"({
  "version": 1,
  "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
               "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 576}, "displayNumber": 1}],
  "applications": [
    {"pid": 10, "bundleIdentifier": "a", "name": "Alpha", "statusItems": [
      {"title": "A1", "width": 40, "menu": [
        {"title": "Open", "mark": "✓"},
        {"separator": true, "title": ""},
        {"title": "More", "submenu": [{"title": "Deep", "submenu": [{"title": "Deeper"}]}]},
        {"title": "Off", "enabled": false}]},
      {"width": 30, "enabled": false, "subrole": null,
       "behaviour": {"ignoresShowMenu": true}}]},
    {"pid": 11, "bundleIdentifier": "b", "statusItems": [{"title": "B1", "width": 20}]},
    {"pid": 12, "bundleIdentifier": "c", "name": "Plain"}
  ]})";

class AccessibilityTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    std::unique_ptr<sim::World> world;

    void SetUp() override { world = std::make_unique<sim::World>(sim::parseScenario(twoApps, "two.json")); }

    static std::optional<cf::Value> read(const ax::UIElementRef& e, const char* attribute,
                                         Error expected = Error::success) {
        std::optional<cf::Value> value;
        EXPECT_EQ(ax::copyAttributeValue(e, attribute, value), expected) << attribute;
        EXPECT_EQ(value.has_value(), expected == Error::success) << attribute;
        return value;
    }
    static ax::UIElementRef child(const ax::UIElementRef& e, std::size_t index) {
        auto children = read(e, ax::attribute::children);
        if (!children || !children->asArray() || children->asArray()->size() <= index) return nullptr;
        return (*children->asArray())[index].as<ax::UIElement>();
    }
    static ax::UIElementRef extras(std::int32_t pid) {
        auto bar = read(ax::createApplication(pid), ax::attribute::extrasMenuBar);
        return bar ? bar->as<ax::UIElement>() : nullptr;
    }
    static std::string text(const ax::UIElementRef& e, const char* attribute) {
        auto v = read(e, attribute);
        return v && v->asString() ? *v->asString() : "<none>";
    }
    const sim::StatusItem* itemTitled(const char* title) const {
        for (const auto* item : world->statusItems())
            if (item->spec.title == title) return item;
        return nullptr;
    }
};

}  // namespace

TEST_F(AccessibilityTest, StatusItemsAreTheExtrasBarChildrenInCreationOrderWithTheirFrames) {
    auto bar = extras(10);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(text(bar, ax::attribute::role), "AXMenuBar");
    auto children = read(bar, ax::attribute::children);
    ASSERT_TRUE(children && children->asArray());
    auto worldItems = world->statusItemsOf(10);
    ASSERT_EQ(children->asArray()->size(), worldItems.size());
    for (std::size_t i = 0; i < worldItems.size(); ++i) {
        auto item = (*children->asArray())[i].as<ax::UIElement>();
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(text(item, ax::attribute::role), "AXMenuBarItem");
        auto position = read(item, ax::attribute::position)->as<ax::Value>();
        auto size = read(item, ax::attribute::size)->as<ax::Value>();
        ASSERT_TRUE(position && size);
        EXPECT_EQ(position->type(), ax::ValueType::cgPoint);
        EXPECT_EQ(size->type(), ax::ValueType::cgSize);
        cg::Point p;
        cg::Size s;
        ASSERT_TRUE(ax::valueGetValue(*position, ax::ValueType::cgPoint, p));
        ASSERT_TRUE(ax::valueGetValue(*size, ax::ValueType::cgSize, s));
        EXPECT_EQ(p, worldItems[i]->frame.origin);
        EXPECT_EQ(s, worldItems[i]->frame.size);
        EXPECT_FALSE(ax::valueGetValue(*position, ax::ValueType::cgSize, s)) << "a point is not a size";
    }
    auto first = child(bar, 0);
    EXPECT_EQ(text(first, ax::attribute::title), "A1");
    EXPECT_EQ(text(first, ax::attribute::subrole), "AXMenuExtra");
    EXPECT_EQ(read(first, ax::attribute::enabled)->asBool(), true);
    auto second = child(bar, 1);
    EXPECT_EQ(read(second, ax::attribute::enabled)->asBool(), false);
    EXPECT_EQ(text(ax::createApplication(10), ax::attribute::title), "Alpha");
    EXPECT_EQ(*child(bar, 0), *child(extras(10), 0)) << "elements of the same item are equal";
    std::int32_t pid = 0;
    EXPECT_EQ(ax::getPid(second, pid), Error::success);
    EXPECT_EQ(pid, 10);
}

TEST_F(AccessibilityTest, MenusAreReadableAsMenuChildrenWithEntryAttributes) {
    auto item = child(extras(10), 0);
    auto menu = child(item, 0);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(text(menu, ax::attribute::role), "AXMenu");
    auto open = child(menu, 0);
    EXPECT_EQ(text(open, ax::attribute::role), "AXMenuItem");
    EXPECT_EQ(text(open, ax::attribute::title), "Open");
    EXPECT_EQ(text(open, ax::attribute::menuItemMarkChar), "✓");
    read(open, ax::attribute::subrole, Error::noValue);
    EXPECT_EQ(read(open, ax::attribute::children)->asArray()->size(), 0u);
    auto separator = child(menu, 1);
    EXPECT_EQ(text(separator, ax::attribute::subrole), "AXSeparatorMenuItem");
    read(separator, ax::attribute::menuItemMarkChar, Error::noValue);
    auto more = child(menu, 2);
    auto submenu = child(more, 0);
    EXPECT_EQ(text(submenu, ax::attribute::role), "AXMenu");
    auto deep = child(submenu, 0);
    EXPECT_EQ(text(deep, ax::attribute::title), "Deep");
    EXPECT_EQ(text(child(child(deep, 0), 0), ax::attribute::title), "Deeper");
    EXPECT_EQ(read(child(menu, 3), ax::attribute::enabled)->asBool(), false);
    // An item without entries has no menu child.
    EXPECT_EQ(read(child(extras(11), 0), ax::attribute::children)->asArray()->size(), 0u);
}

namespace {

struct ReadCase {
    const char* name;
    std::function<void(sim::World&)> change;
    // The element read, found before the change.
    std::function<ax::UIElementRef(sim::World&)> element;
    const char* attribute;
    Error expected;
};

ax::UIElementRef itemOf(sim::World& world, std::int32_t pid, std::size_t index) {
    return std::make_shared<const ax::UIElement>(ax::UIElement::Kind::statusItem, pid,
                                                 world.statusItemsOf(pid).at(index)->id);
}
ax::UIElementRef app(sim::World&, std::int32_t pid) { return ax::createApplication(pid); }
void nothing(sim::World&) {}

}  // namespace

TEST_F(AccessibilityTest, ReadsAnswerThePlatformsErrorCodes) {
    const std::vector<ReadCase> cases = {
        {"an item without a title has no value", nothing, [](auto& w) { return itemOf(w, 10, 1); }, "AXTitle",
         Error::noValue},
        {"an item without a subrole has no value", nothing, [](auto& w) { return itemOf(w, 10, 1); }, "AXSubrole",
         Error::noValue},
        {"an attribute the item lacks is unsupported", nothing, [](auto& w) { return itemOf(w, 10, 0); }, "AXFocused",
         Error::attributeUnsupported},
        {"an application without status items has no extras bar", nothing, [](auto& w) { return app(w, 12); },
         "AXExtrasMenuBar", Error::noValue},
        {"an application's unnamed attribute is unsupported", nothing, [](auto& w) { return app(w, 10); }, "AXPosition",
         Error::attributeUnsupported},
        {"an unreadable position",
         [](auto& w) { w.mutableStatusItem(w.statusItemsOf(10)[0]->id)->spec.positionUnreadable = true; },
         [](auto& w) { return itemOf(w, 10, 0); }, "AXPosition", Error::noValue},
        {"an unreadable size",
         [](auto& w) { w.mutableStatusItem(w.statusItemsOf(10)[0]->id)->spec.sizeUnreadable = true; },
         [](auto& w) { return itemOf(w, 10, 0); }, "AXSize", Error::noValue},
        {"a scripted error for one attribute", [](auto& w) { w.behaviour(11).attributeErrors["AXTitle"] = -25200; },
         [](auto& w) { return itemOf(w, 11, 0); }, "AXTitle", Error::failure},
        {"a scripted error leaves other attributes alone",
         [](auto& w) { w.behaviour(11).attributeErrors["AXTitle"] = -25200; }, [](auto& w) { return itemOf(w, 11, 0); },
         "AXRole", Error::success},
        {"a scripted error for every attribute", [](auto& w) { w.behaviour(11).allAttributesError = -25205; },
         [](auto& w) { return itemOf(w, 11, 0); }, "AXRole", Error::attributeUnsupported},
        {"an item of an application that quit", [](auto& w) { w.quitApplication(11); },
         [](auto& w) { return itemOf(w, 11, 0); }, "AXRole", Error::invalidUIElement},
        {"the application element of an application that quit", [](auto& w) { w.quitApplication(11); },
         [](auto& w) { return app(w, 11); }, "AXRole", Error::invalidUIElement},
        {"an item its application removed", [](auto& w) { w.removeStatusItem(w.statusItemsOf(11)[0]->id); },
         [](auto& w) { return itemOf(w, 11, 0); }, "AXRole", Error::invalidUIElement},
        {"an application that never ran", nothing, [](auto& w) { return app(w, 999); }, "AXRole",
         Error::invalidUIElement},
        {"no trust", [](auto& w) { w.permissions().accessibility = false; }, [](auto& w) { return itemOf(w, 11, 0); },
         "AXRole", Error::apiDisabled},
        {"no trust comes before an invalid element", [](auto& w) { w.permissions().accessibility = false; },
         [](auto& w) { return app(w, 999); }, "AXRole", Error::apiDisabled},
        {"no element", nothing, [](auto&) { return ax::UIElementRef(); }, "AXRole", Error::illegalArgument},
        {"no attribute name", nothing, [](auto& w) { return itemOf(w, 11, 0); }, "", Error::illegalArgument},
    };
    world.reset();
    for (const auto& c : cases) {
        sim::World w(sim::parseScenario(twoApps, "two.json"));
        auto element = c.element(w);
        c.change(w);
        std::optional<cf::Value> value;
        EXPECT_EQ(ax::copyAttributeValue(element, c.attribute, value), c.expected) << c.name;
        EXPECT_EQ(value.has_value(), c.expected == Error::success) << c.name;
    }
}

TEST_F(AccessibilityTest, AnExtrasBarOutlivesTheItemsItsApplicationRemoved) {
    auto bar = extras(11);
    world->removeStatusItem(world->statusItemsOf(11)[0]->id);
    auto children = read(extras(11), ax::attribute::children);
    ASSERT_TRUE(children && children->asArray());
    EXPECT_TRUE(children->asArray()->empty());
    EXPECT_EQ(*extras(11), *bar);
}

TEST_F(AccessibilityTest, EachCallTakesTheApplicationsTimeAndAHungOneTimesOut) {
    auto item = child(extras(11), 0);
    world->behaviour(11).accessibilityCallCost = 40ms;
    auto start = loop.now();
    read(item, ax::attribute::title);
    read(item, ax::attribute::role);
    EXPECT_EQ(loop.now() - start, 80ms);

    world->behaviour(11).hung = true;
    start = loop.now();
    read(item, ax::attribute::title, Error::cannotComplete);
    EXPECT_EQ(loop.now() - start, 6s);
    EXPECT_EQ(ax::performAction(item, ax::action::press), Error::cannotComplete);
    EXPECT_EQ(loop.now() - start, 12s);
    EXPECT_FALSE(world->openMenuItem()) << "a hung application does nothing";

    world->setAccessibilityMessagingTimeout(1s);
    start = loop.now();
    read(ax::createApplication(11), ax::attribute::role, Error::cannotComplete);
    EXPECT_EQ(loop.now() - start, 1s);

    start = loop.now();
    read(child(extras(10), 0), ax::attribute::title);
    EXPECT_EQ(loop.now(), start) << "other applications still answer at once";
}

TEST_F(AccessibilityTest, CallsWorkOffTheMainExecutor) {
    runtime::SerialExecutor scanner("scanner");
    std::string title;
    bool onMain = true;
    scanner.enqueue(nullptr, [&] {
        onMain = runtime::isOnMainExecutor();
        title = text(child(extras(11), 0), ax::attribute::title);
    });
    loop.runUntilIdle();
    EXPECT_FALSE(onMain);
    EXPECT_EQ(title, "B1");
}

TEST_F(AccessibilityTest, PressAndShowMenuOpenTheItemsMenuWindowUnlessIgnored) {
    auto a1 = child(extras(10), 0);
    EXPECT_EQ(ax::performAction(a1, ax::action::press), Error::success);
    ASSERT_TRUE(world->openMenuWindow());
    const auto* window = world->windowServer().find(*world->openMenuWindow());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->layer, 101);
    EXPECT_EQ(window->owner, 10);
    EXPECT_EQ(world->openMenuItem(), world->statusItemsOf(10)[0]->id);

    auto b1 = child(extras(11), 0);
    EXPECT_EQ(ax::performAction(b1, ax::action::showMenu), Error::success);
    EXPECT_EQ(world->openMenuItem(), world->statusItemsOf(11)[0]->id);
    EXPECT_EQ(world->menuHistory().back().trigger, sim::World::MenuTrigger::showMenu);

    // The untitled item ignores show-menu: success, and nothing opens.
    world->closeMenus();
    auto ignoring = child(extras(10), 1);
    EXPECT_EQ(ax::performAction(ignoring, ax::action::showMenu), Error::success);
    EXPECT_FALSE(world->openMenuWindow());
    EXPECT_FALSE(world->menuHistory().back().opened);

    EXPECT_EQ(ax::performAction(ax::createApplication(10), ax::action::press), Error::actionUnsupported);
    EXPECT_EQ(ax::performAction(a1, "AXRaise"), Error::actionUnsupported);
    EXPECT_EQ(ax::performAction(a1, ""), Error::illegalArgument);
    world->permissions().accessibility = false;
    EXPECT_EQ(ax::performAction(a1, ax::action::press), Error::apiDisabled);
}

TEST_F(AccessibilityTest, PressingAMenuEntryChoosesItByItsPath) {
    auto menu = child(child(extras(10), 0), 0);
    auto deep = child(child(child(menu, 2), 0), 0);
    ax::performAction(child(extras(10), 0), ax::action::press);
    EXPECT_EQ(ax::performAction(deep, ax::action::press), Error::success);
    auto item = world->statusItemsOf(10)[0]->id;
    ASSERT_EQ(world->menuChoices().size(), 1u);
    EXPECT_EQ(world->menuChoices()[0], (sim::World::MenuChoice{item, {2, 0}}));
    EXPECT_FALSE(world->openMenuWindow()) << "choosing closes the menu";

    EXPECT_EQ(ax::performAction(child(menu, 1), ax::action::press), Error::cannotComplete) << "a separator";
    EXPECT_EQ(ax::performAction(child(menu, 3), ax::action::press), Error::cannotComplete) << "a disabled entry";
    EXPECT_EQ(ax::performAction(child(menu, 0), ax::action::showMenu), Error::actionUnsupported);
    EXPECT_EQ(world->menuChoices().size(), 1u);
}

TEST_F(AccessibilityTest, PressingAnEntryDoesWhatItsApplicationDoesAndTheMarksReadBackChanged) {
    world.reset();
    world = std::make_unique<sim::World>();
    // Barometer's Units submenu ("hPa" marked, "inHg"), Muffle's "Mute Microphone" (marked) and
    // Tides's "Quit Tides".
    auto menuOf = [](std::int32_t pid) { return child(child(extras(pid), 0), 0); };
    auto units = child(child(menuOf(410), 2), 0);
    ASSERT_NE(units, nullptr);
    EXPECT_EQ(ax::performAction(child(units, 1), ax::action::press), Error::success);
    EXPECT_EQ(text(child(units, 1), ax::attribute::menuItemMarkChar), "\u2713");
    read(child(units, 0), ax::attribute::menuItemMarkChar, Error::noValue);

    auto mute = child(menuOf(411), 0);
    EXPECT_EQ(ax::performAction(mute, ax::action::press), Error::success);
    EXPECT_EQ(text(mute, ax::attribute::menuItemMarkChar), "") << "switched off: an empty mark";
    EXPECT_EQ(ax::performAction(mute, ax::action::press), Error::success);
    EXPECT_EQ(text(mute, ax::attribute::menuItemMarkChar), "\u2713");

    auto tides = world->statusItemsOf(446)[0]->id;
    auto quit = child(menuOf(446), 1);
    EXPECT_EQ(text(quit, ax::attribute::title), "Quit Tides");
    EXPECT_EQ(ax::performAction(quit, ax::action::press), Error::success);
    EXPECT_FALSE(world->processes().find(446));
    EXPECT_EQ(world->statusItem(tides), nullptr);
    read(quit, ax::attribute::title, Error::invalidUIElement);
    EXPECT_EQ(world->menuChoices().size(), 4u);
}

TEST_F(AccessibilityTest, TrustFollowsThePermissionAndPromptsOnlyWhenAskedAndUntrusted) {
    EXPECT_TRUE(ax::isProcessTrusted());
    EXPECT_TRUE(ax::isProcessTrustedWithOptions({{ax::trustedCheckOptionPrompt, true}}));
    EXPECT_EQ(world->permissions().accessibilityPrompts, 0) << "a trusted process is never prompted";

    world->permissions().accessibility = false;
    EXPECT_FALSE(ax::isProcessTrusted());
    EXPECT_FALSE(ax::isProcessTrustedWithOptions({{ax::trustedCheckOptionPrompt, false}}));
    EXPECT_FALSE(ax::isProcessTrustedWithOptions({}));
    EXPECT_EQ(world->permissions().accessibilityPrompts, 0);
    EXPECT_FALSE(ax::isProcessTrustedWithOptions({{ax::trustedCheckOptionPrompt, true}}));
    EXPECT_EQ(world->permissions().accessibilityPrompts, 1);

    world->permissions().accessibility = true;
    EXPECT_TRUE(ax::isProcessTrusted());
}
