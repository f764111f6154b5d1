#include "Interaction/IconInteractor.hpp"
#include "Services/MenuBarScanner.hpp"
#include "System/tests/SceneTest.hpp"
#include "macos/sim/Scenario.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace stashbay {
namespace {

using Kind = sim::ApplicationRequest::Kind;
using Button = cg::MouseButton;

// The default desktop; its hidden items Postcard, Shelf, Tally, Whisper and Ferry each take
// another road of the activation chain.
class ActivationTest : public SceneTest {
protected:
    ActivationTest() : SceneTest(std::string(*sim::embeddedScenarioText("default.json")), "default.json") {}

    // The item as a scan sees it now.
    MenuBarItem scanned(const std::string& name) {
        auto scanner = MenuBarScanner::create();
        auto items = loop.run(scanner->scanOnce());
        for (auto& item : items)
            if (item.displayName() == name) return item;
        ADD_FAILURE() << "no item " << name;
        return items.front();
    }
    const sim::StatusItem& live(const std::string& title) const {
        for (const auto* item : world->statusItems())
            if (item->spec.title == title) return *item;
        throw std::runtime_error("no item " + title);
    }
    bool activate(const MenuBarItem& item, Button button) {
        start = loop.now();
        if (button == Button::right) return loop.run(IconInteractor::shared().rightClickItem(item));
        return loop.run(IconInteractor::shared().clickItem(item));
    }
    runtime::Duration elapsed() const { return loop.now() - start; }
    std::vector<std::string> failures() const { return capture->texts("interaction", os::LogLevel::error); }
    static std::string lastResort(const std::string& name, const std::string& tried) {
        return "All AX activation strategies failed for hidden item " + name +
               "; opened its app as a last resort (tried " + tried + ")";
    }
    std::vector<Kind> requestsFor(sim::ProcessID pid) const {
        std::vector<Kind> out;
        for (const auto& r : world->processes().requests())
            if (r.pid == pid) out.push_back(r.kind);
        return out;
    }

    runtime::Instant start;
};

TEST_F(ActivationTest, APopoverItemOpensOnTheFirstPressOrItsMenuOnTheRight) {
    auto postcard = scanned("Postcard");
    ASSERT_FALSE(postcard.isOnScreen());
    EXPECT_TRUE(activate(postcard, Button::left));
    EXPECT_EQ(elapsed(), 300ms) << "one press and its wait";
    EXPECT_EQ(world->popoverOpenings(), std::vector<sim::StatusItemID>{live("Postcard").id});
    EXPECT_TRUE(world->menuHistory().empty());
    EXPECT_TRUE(requestsFor(450).empty());
    EXPECT_TRUE(failures().empty());

    reload();
    postcard = scanned("Postcard");
    EXPECT_TRUE(activate(postcard, Button::right));
    EXPECT_EQ(elapsed(), 0ms) << "the right chain begins at the show-menu action, without waits";
    EXPECT_TRUE(world->popoverOpenings().empty()) << "never pressed";
    EXPECT_EQ(world->openMenuItem(), live("Postcard").id);
    EXPECT_EQ(world->menuHistory().back().trigger, sim::World::MenuTrigger::showMenu);
}

TEST_F(ActivationTest, AnItemThatOnlyShowsItsMenuIsPressedTwiceThenOpened) {
    auto shelf = scanned("Shelf");
    EXPECT_TRUE(activate(shelf, Button::left));
    EXPECT_EQ(elapsed(), 750ms) << "300 ms, then 150 ms and 300 ms around the second press";
    EXPECT_EQ(requestsFor(451), std::vector<Kind>{Kind::activate});
    EXPECT_EQ(world->processes().frontmost(), 451);
    ASSERT_EQ(world->menuHistory().size(), 3u);
    EXPECT_EQ(world->menuHistory()[0].trigger, sim::World::MenuTrigger::press);
    EXPECT_EQ(world->menuHistory()[1].trigger, sim::World::MenuTrigger::press);
    EXPECT_EQ(world->menuHistory()[2].trigger, sim::World::MenuTrigger::showMenu);
    EXPECT_EQ(world->openMenuItem(), live("Shelf").id);
    EXPECT_TRUE(failures().empty());

    reload();
    shelf = scanned("Shelf");
    EXPECT_TRUE(activate(shelf, Button::right));
    EXPECT_EQ(elapsed(), 0ms);
    EXPECT_TRUE(requestsFor(451).empty());
    EXPECT_EQ(world->menuHistory().size(), 1u);
    EXPECT_EQ(world->openMenuItem(), live("Shelf").id);
}

TEST_F(ActivationTest, WithoutAStatusWindowTheChainEndsByOpeningTheApplication) {
    struct Case {
        Button button;
        const char* tried;
        std::vector<Kind> requests;
    } cases[] = {
        {Button::left,
         "axPress, activate+axPress, axShowMenu, openApp",
         {Kind::activate, Kind::unhide, Kind::activate}},
        {Button::right, "axShowMenu, openApp", {Kind::unhide, Kind::activate}},
    };
    for (const auto& c : cases) {
        reload();
        auto whisper = scanned("Whisper");
        ASSERT_EQ(whisper.windowID(), 0u);
        ASSERT_TRUE(world->processes().find(453)->isHidden());
        EXPECT_FALSE(activate(whisper, c.button));
        EXPECT_EQ(failures(), std::vector<std::string>{lastResort("Whisper", c.tried)});
        EXPECT_EQ(requestsFor(453), c.requests);
        EXPECT_FALSE(world->processes().find(453)->isHidden());
        EXPECT_EQ(world->processes().frontmost(), 453);
        EXPECT_EQ(capture->texts("accessibility", os::LogLevel::error).back(), "AXShowMenu failed with error: -25200");
    }
}

TEST_F(ActivationTest, AnItemOfAnApplicationThatQuitOpensNothingAndSaysSo) {
    struct Case {
        Button button;
        const char* tried;
    } cases[] = {
        {Button::left, "axPress, axShowMenu, tempShowAndClick, openApp"},
        {Button::right, "axShowMenu, tempShowAndClick, openApp"},
    };
    for (const auto& c : cases) {
        reload();
        auto ferry = scanned("Ferry");
        ASSERT_NE(ferry.windowID(), 0u);
        world->quitApplication(454);
        EXPECT_FALSE(activate(ferry, c.button));
        EXPECT_EQ(failures(), std::vector<std::string>{lastResort("Ferry", c.tried)});
        EXPECT_TRUE(requestsFor(454).empty()) << "no application to activate";
        EXPECT_TRUE(world->menuHistory().empty());
    }
}

TEST_F(ActivationTest, AnItemThatAnswersNoActionIsShownForAMomentAndClicked) {
    auto tally = scanned("Tally");
    ASSERT_FALSE(tally.isOnScreen());
    EXPECT_TRUE(activate(tally, Button::left));
    EXPECT_TRUE(failures().empty());
    EXPECT_EQ(capture->texts("accessibility", os::LogLevel::error),
              std::vector<std::string>{"AXShowMenu failed with error: -25206"});
    EXPECT_EQ(requestsFor(452), std::vector<Kind>{Kind::activate});
    EXPECT_EQ(world->popoverOpenings(), std::vector<sim::StatusItemID>{live("Tally").id}) << "opened by the click";
    EXPECT_EQ(world->moveCount(), 1);
    EXPECT_TRUE(live("Tally").onBar) << "moved into view";
    // Once its window has closed the engine moves it back out of view.
    world->closePopover();
    loop.advance(40s);
    EXPECT_EQ(world->moveCount(), 2);
    EXPECT_FALSE(scanned("Tally").isOnScreen());

    reload();
    tally = scanned("Tally");
    EXPECT_TRUE(activate(tally, Button::right));
    EXPECT_TRUE(failures().empty());
    EXPECT_TRUE(requestsFor(452).empty());
    EXPECT_TRUE(world->popoverOpenings().empty());
    EXPECT_EQ(world->openMenuItem(), live("Tally").id) << "the right click opened its menu";
    EXPECT_EQ(world->menuHistory().back().trigger, sim::World::MenuTrigger::click);
    loop.advance(40s);
}

TEST_F(ActivationTest, AnItemThatCannotBeMovedEndsTheLeftChainWithEveryStrategyTried) {
    auto tally = scanned("Tally");
    world->mutableStatusItem(live("Tally").id)->spec.behaviour.move = sim::StatusItemBehaviour::Move::never;
    EXPECT_FALSE(activate(tally, Button::left));
    EXPECT_EQ(failures(), std::vector<std::string>{
                              lastResort("Tally", "axPress, activate+axPress, axShowMenu, tempShowAndClick, openApp")});
    EXPECT_EQ(requestsFor(452), (std::vector<Kind>{Kind::activate, Kind::unhide, Kind::activate}));
    loop.advance(40s);
}

TEST_F(ActivationTest, ABlockingItemStretchesTheChainByEachHeldCall) {
    // Shelf answers presses with its menu now, and holds each caller while the menu is open.
    auto& behaviour = world->mutableStatusItem(live("Shelf").id)->spec.behaviour;
    behaviour.ignoresPress = false;
    behaviour.blocksWhileMenuOpen = true;
    auto shelf = scanned("Shelf");
    EXPECT_TRUE(activate(shelf, Button::left));
    EXPECT_EQ(elapsed(), 6300ms) << "the press held for the 6 s timeout; its open menu is the new window";
    EXPECT_EQ(capture->texts("accessibility", os::LogLevel::error),
              std::vector<std::string>{"AXPress failed with error: -25204"});
    EXPECT_TRUE(failures().empty());

    // A menu that closes after 2 s holds each call 2 s, then the call succeeds, as the platform
    // answers once the menu is gone. The presses leave no new window behind, so the chain goes on
    // to the show-menu action, whose success ends it.
    reload();
    auto& closing = world->mutableStatusItem(live("Shelf").id)->spec.behaviour;
    closing.ignoresPress = false;
    closing.blocksWhileMenuOpen = true;
    closing.menuClosesAfter = 2s;
    shelf = scanned("Shelf");
    EXPECT_TRUE(activate(shelf, Button::left));
    EXPECT_EQ(elapsed(), 6750ms) << "2 s, 300 ms, activation, 150 ms, 2 s, 300 ms, then 2 s of show-menu";
    EXPECT_TRUE(capture->texts("accessibility", os::LogLevel::error).empty()) << "every held call succeeded";
    std::vector<sim::World::MenuTrigger> triggers;
    for (const auto& event : world->menuHistory()) triggers.push_back(event.trigger);
    using Trigger = sim::World::MenuTrigger;
    EXPECT_EQ(triggers, (std::vector<Trigger>{Trigger::press, Trigger::press, Trigger::showMenu}))
        << "never moved for a temporary show";
    loop.advance(40s);
}

TEST_F(ActivationTest, AVisibleItemIsActivatedInPlaceAndAlwaysReportsSuccess) {
    auto battery = scanned("Battery");
    ASSERT_TRUE(battery.isOnScreen());
    EXPECT_TRUE(activate(battery, Button::left));
    ASSERT_EQ(world->menuHistory().size(), 1u) << "the show-menu action succeeded, so no press";
    EXPECT_EQ(world->menuHistory()[0].trigger, sim::World::MenuTrigger::showMenu);
    EXPECT_EQ(elapsed(), 0ms);

    reload();
    battery = scanned("Battery");
    EXPECT_TRUE(activate(battery, Button::right));
    ASSERT_EQ(world->menuHistory().size(), 1u) << "the confirmed right click succeeded, so no show-menu";
    EXPECT_EQ(world->menuHistory()[0].trigger, sim::World::MenuTrigger::click);

    // Without Accessibility nothing can act on it; the last attempt is a plain click at its centre.
    reload();
    battery = scanned("Battery");
    world->permissions().accessibility = false;
    EXPECT_TRUE(activate(battery, Button::left));
    auto centre = battery.bounds();
    EXPECT_EQ(capture->texts("interaction", os::LogLevel::debug),
              std::vector<std::string>{
                  fmt::format("Synthetic left click posted at ({:.6f}, {:.6f})", centre.midX(), centre.midY())});
}

}  // namespace
}  // namespace stashbay
