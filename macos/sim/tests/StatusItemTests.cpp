#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

using namespace std::chrono_literals;

namespace {

class StatusItemTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
};

const sim::StatusItem* byTitle(const sim::World& world, const std::string& title) {
    for (const auto* item : world.statusItems())
        if (item->spec.title == title) return item;
    return nullptr;
}

std::vector<std::string> titlesRightToLeft(const sim::World& world) {
    std::vector<std::string> out;
    for (const auto* item : world.statusItems()) out.push_back(item->spec.title.value_or("-"));
    return out;
}

// A bar 400 points wide with no housing; the left limit is set so that three 100-point items fit.
sim::Scenario smallBar() {
    return sim::parseScenario(R"({
      "version": 1,
      "screens": [{"frame": {"x": 0, "y": 0, "width": 400, "height": 300},
                   "visibleFrame": {"x": 0, "y": 0, "width": 400, "height": 276}, "displayNumber": 7}],
      "menuBar": {"leftLimit": 100},
      "applications": [
        {"pid": 10, "bundleIdentifier": "a", "statusItems": [{"title": "A", "width": 100}]},
        {"pid": 11, "bundleIdentifier": "b", "statusItems": [{"title": "B", "width": 100, "behaviour": {"moveLatencyMs": 250}}]},
        {"pid": 12, "bundleIdentifier": "c", "statusItems": [{"title": "C", "width": 100,
          "menu": [{"title": "One"}], "behaviour": {"ignoresShowMenu": true, "menuClosesAfterMs": 2000}}]},
        {"pid": 13, "bundleIdentifier": "d", "statusItems": [{"title": "D", "width": 100, "behaviour": {"move": "never"}}]}
      ]})",
                              "small.json");
}

}  // namespace

TEST_F(StatusItemTest, DefaultBarHasItemsUnderTheHousingAndItemsOffTheBar) {
    sim::World world;
    auto items = world.statusItems();
    ASSERT_GE(items.size(), 20u);
    EXPECT_EQ(world.menuBarHeight(), 37.0);
    cg::Rect housing{662, 0, 188, 37};
    int under = 0, off = 0, windowless = 0;
    std::set<sim::WindowNumber> windows;
    for (const auto* item : items) {
        // The scenario has one item drawn without a status window.
        if (item->window == 0) {
            ++windowless;
            continue;
        }
        const auto* window = world.windowServer().find(item->window);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->layer, sim::WindowLevel::statusItem);
        EXPECT_EQ(window->owner, item->owner);
        EXPECT_EQ(window->bounds, item->frame);
        EXPECT_EQ(window->onScreen, item->onBar);
        windows.insert(item->window);
        if (item->onBar && item->frame.intersects(housing)) ++under;
        if (!item->onBar) {
            ++off;
            EXPECT_LT(item->frame.maxX(), 0.1);
        }
        EXPECT_EQ(item->frame.minY(), 0);
        EXPECT_EQ(item->frame.height(), 37.0);
    }
    EXPECT_GE(under, 3);
    EXPECT_GE(off, 2);
    EXPECT_EQ(windowless, 1);
    EXPECT_EQ(windows.size() + 1, items.size()) << "every other item has a window of its own";
    EXPECT_EQ(items.front()->spec.title, "Clock");
    EXPECT_EQ(items.front()->frame.maxX(), 1512.0) << "the bar starts at the right edge";
    auto* own = byTitle(world, "Stashbay");
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->owner, world.processes().selfPid());
    ASSERT_NE(byTitle(world, "Clock"), nullptr);
    EXPECT_EQ(world.processes().find(byTitle(world, "Clock")->owner)->bundleIdentifier(), "com.apple.controlcenter");
}

TEST_F(StatusItemTest, NewItemsEnterAtTheLeftEndAndDoNotFitOffTheBar) {
    sim::World world{smallBar()};
    EXPECT_EQ(titlesRightToLeft(world), (std::vector<std::string>{"A", "B", "C", "D"}));
    EXPECT_EQ(byTitle(world, "A")->frame, (cg::Rect{300, 0, 100, 24}));
    EXPECT_EQ(byTitle(world, "C")->frame, (cg::Rect{100, 0, 100, 24}));
    EXPECT_FALSE(byTitle(world, "D")->onBar);
    EXPECT_EQ(byTitle(world, "D")->frame, (cg::Rect{-100, 0, 100, 24}));
    sim::StatusItemSpec e;
    e.title = "E";
    e.width = 50;
    world.addStatusItem(10, e);
    EXPECT_EQ(titlesRightToLeft(world).back(), "E");
    EXPECT_EQ(byTitle(world, "E")->frame, (cg::Rect{-150, 0, 50, 24}));
}

TEST_F(StatusItemTest, QuittingRemovesItemsAndWindowsAndNumbersAreNeverReused) {
    sim::World world{smallBar()};
    auto oldWindow = byTitle(world, "B")->window;
    auto last = world.windowServer().lastNumber();
    ASSERT_TRUE(world.hasExtrasMenuBar(11));
    world.quitApplication(11);
    EXPECT_EQ(byTitle(world, "B"), nullptr);
    EXPECT_EQ(world.windowServer().find(oldWindow), nullptr);
    EXPECT_FALSE(world.hasExtrasMenuBar(11)) << "a quit application's id is not kept";
    EXPECT_EQ(titlesRightToLeft(world), (std::vector<std::string>{"A", "C", "D"}));
    EXPECT_TRUE(byTitle(world, "D")->onBar) << "the bar is laid out again";
    sim::ProcessSpec again{std::nullopt, "b", "B"};
    sim::StatusItemSpec b;
    b.title = "B";
    b.width = 100;
    again.statusItems.push_back(b);
    world.launchApplication(again);
    EXPECT_EQ(titlesRightToLeft(world).back(), "B");
    EXPECT_GT(byTitle(world, "B")->window, last);
}

TEST_F(StatusItemTest, MovesFollowEachItemsBehaviour) {
    sim::World world{smallBar()};
    auto id = [&](const char* t) { return byTitle(world, t)->id; };
    EXPECT_TRUE(world.requestMove(id("A"), id("C")));
    EXPECT_EQ(titlesRightToLeft(world), (std::vector<std::string>{"B", "C", "A", "D"}));
    EXPECT_EQ(byTitle(world, "A")->frame.minX(), 100.0);

    auto before = byTitle(world, "B")->frame;
    EXPECT_TRUE(world.requestMove(id("B"), id("A")));
    EXPECT_EQ(byTitle(world, "B")->frame, before) << "the frame shows only after the latency";
    loop.advance(250ms);
    EXPECT_NE(byTitle(world, "B")->frame, before);

    EXPECT_FALSE(world.requestMove(id("D"), id("A")));
    EXPECT_EQ(world.moveCount(), 2);
}

TEST_F(StatusItemTest, SleepyItemsMoveOnlyAfterAClickAndSpringyOnesReturn) {
    auto scenario = smallBar();
    scenario.applications[0].statusItems[0].behaviour.move = sim::StatusItemBehaviour::Move::ignoresUntilClick;
    scenario.applications[1].statusItems[0].behaviour.move = sim::StatusItemBehaviour::Move::springsBack;
    scenario.applications[1].statusItems[0].behaviour.moveLatency = {};
    sim::World world{scenario};
    auto id = [&](const char* t) { return byTitle(world, t)->id; };
    EXPECT_FALSE(world.requestMove(id("A"), id("C")));
    world.wake(id("A"));
    EXPECT_TRUE(world.requestMove(id("A"), id("C")));
    EXPECT_EQ(titlesRightToLeft(world), (std::vector<std::string>{"B", "C", "A", "D"}));

    EXPECT_TRUE(world.requestMove(id("B"), id("A")));
    EXPECT_EQ(titlesRightToLeft(world), (std::vector<std::string>{"C", "A", "B", "D"}));
    loop.advance(500ms);
    EXPECT_EQ(titlesRightToLeft(world), (std::vector<std::string>{"B", "C", "A", "D"}));
}

TEST_F(StatusItemTest, MenusOpenAsPopUpWindowsAndCloseOnAClickElsewhereOrLater) {
    sim::World world{smallBar()};
    auto c = byTitle(world, "C")->id;
    EXPECT_FALSE(world.openMenu(c, sim::World::MenuTrigger::showMenu)) << "this item ignores the show-menu action";
    EXPECT_TRUE(world.openMenu(c, sim::World::MenuTrigger::press));
    auto window = world.openMenuWindow();
    ASSERT_TRUE(window);
    const auto* w = world.windowServer().find(*window);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->layer, sim::WindowLevel::popUpMenu);
    EXPECT_EQ(w->owner, 12);
    EXPECT_TRUE(w->onScreen);
    world.noteMouseDown(cg::Point{w->bounds.midX(), w->bounds.midY()});
    EXPECT_TRUE(world.openMenuItem()) << "a click on the menu keeps it open";
    world.noteMouseDown(cg::Point{5, 200});
    EXPECT_FALSE(world.openMenuItem());
    EXPECT_EQ(world.windowServer().find(*window), nullptr);

    EXPECT_TRUE(world.openMenu(c, sim::World::MenuTrigger::click));
    loop.advance(1999ms);
    EXPECT_TRUE(world.openMenuItem());
    loop.advance(1ms);
    EXPECT_FALSE(world.openMenuItem());
    ASSERT_EQ(world.menuHistory().size(), 3u);
    EXPECT_FALSE(world.menuHistory()[0].opened);
}

TEST_F(StatusItemTest, RemovingTheScreenPutsEveryItemOffTheBar) {
    sim::World world{smallBar()};
    world.removeScreen(0);
    for (const auto* item : world.statusItems()) {
        EXPECT_FALSE(item->onBar);
        EXPECT_LT(item->frame.minX(), 0);
    }
}

TEST_F(StatusItemTest, BadStatusItemFieldsAreNamed) {
    struct Case {
        const char* item;
        const char* message;
    } cases[] = {
        {R"({"width": -3})", "applications[0].statusItems[0].width"},
        {R"({"icon": "red"})", "applications[0].statusItems[0].icon: expected a colour"},
        {R"({"behaviour": {"move": "sideways"}})", "applications[0].statusItems[0].behaviour.move"},
        {R"({"menu": [{"title": 3}]})", "applications[0].statusItems[0].menu[0].title"},
        {R"({"colour": "#000000FF"})", "applications[0].statusItems[0]"},
        {R"({"behaviour": {"opens": "door"}})", "applications[0].statusItems[0].behaviour.opens"},
        {R"({"behaviour": {"showMenuError": 0}})", "applications[0].statusItems[0].behaviour.showMenuError"},
        {R"({"statusWindow": "no"})", "applications[0].statusItems[0].statusWindow"},
    };
    for (const auto& c : cases) {
        std::string text =
            std::string(R"({"version": 1, "applications": [{"pid": 5, "statusItems": [)") + c.item + "]}]}";
        try {
            sim::parseScenario(text, "bad.json");
            ADD_FAILURE() << "accepted " << c.item;
        } catch (const sim::ScenarioError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST_F(StatusItemTest, AnItemWithoutAStatusWindowIsLaidOutAndListedByNoWindow) {
    auto scenario = smallBar();
    scenario.applications[1].statusItems[0].statusWindow = false;
    sim::World world{scenario};
    const auto* b = byTitle(world, "B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->window, 0u);
    EXPECT_EQ(world.statusItemForWindow(0), nullptr);
    EXPECT_TRUE(b->onBar);
    EXPECT_EQ(b->frame.minX(), 200) << "it keeps its slot between A and C";
    EXPECT_EQ(world.windowServer().find(0), nullptr);
    for (const auto* w : world.windowServer().ordered()) EXPECT_NE(w->owner, 11) << "no window of B's application";
    EXPECT_TRUE(world.hasExtrasMenuBar(11));

    auto others = world.windowServer().count();
    EXPECT_TRUE(world.quitApplication(11));
    EXPECT_EQ(world.windowServer().count(), others) << "quitting takes no window of another application";
    EXPECT_EQ(titlesRightToLeft(world), (std::vector<std::string>{"A", "C", "D"}));
}
