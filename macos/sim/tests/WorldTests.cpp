#include "macos/sim/SystemNotifications.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

sim::ScreenSpec screenSpec(double x, double width, std::optional<std::uint32_t> number) {
    sim::ScreenSpec spec;
    spec.localizedName = "External";
    spec.frame = cg::Rect(x, 0, width, 1000);
    spec.visibleFrame = cg::Rect(x, 0, width, 975);
    spec.displayNumber = number;
    return spec;
}

sim::Scenario twoScreens() {
    sim::Scenario scenario;
    scenario.name = "two";
    scenario.screens = {screenSpec(0, 1512, 1), screenSpec(1512, 2000, 2)};
    scenario.mainScreen = 0;
    return scenario;
}

// Counts what each centre delivers on the main queue.
class Deliveries {
public:
    Deliveries() {
        screens_ = ns::NotificationCenter::defaultCenter().addObserver(
            "", &ns::OperationQueue::main(), [this](const ns::Notification& n) { onDefault.push_back(n.name); });
        workspace_ = sim::workspaceNotificationCenter().addObserver(
            "", &ns::OperationQueue::main(), [this](const ns::Notification& n) {
                onWorkspace.push_back(n.name);
                auto app = n.userInfo.at(sim::notification::applicationKey).as<sim::Process>();
                pids.push_back(app ? app->pid() : -1);
            });
    }
    std::vector<std::string> onDefault;
    std::vector<std::string> onWorkspace;
    std::vector<sim::ProcessID> pids;

private:
    ns::NotificationObserverToken screens_;
    ns::NotificationObserverToken workspace_;
};

class WorldTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
};

}  // namespace

TEST_F(WorldTest, IsTheCurrentWorldWhileItExists) {
    EXPECT_EQ(sim::World::currentOrNull(), nullptr);
    {
        sim::World world;
        EXPECT_EQ(&sim::World::current(), &world);
    }
    EXPECT_EQ(sim::World::currentOrNull(), nullptr);
}

TEST(WorldDeathTest, OnlyOneExistsAtATimeAndOnlyAfterTheLoop) {
    EXPECT_DEATH(
        {
            runtime::ManualLoop loop;
            sim::World first;
            sim::World second;
        },
        "only one sim::World");
    EXPECT_DEATH({ sim::World world; }, "needs the runtime's loop");
    EXPECT_DEATH({ sim::World::current(); }, "no sim::World exists");
}

TEST_F(WorldTest, StashbayIsTheScenarioApplicationWithItsBundleIdentifier) {
    sim::World world;
    ASSERT_TRUE(world.processes().self());
    EXPECT_EQ(world.processes().selfPid(), 500);
    EXPECT_EQ(world.processes().self()->bundleIdentifier(), "app.stashbay.Stashbay");
}

TEST_F(WorldTest, AScenarioWithoutStashbayGetsItAddedAboveTheHighestPid) {
    auto scenario = twoScreens();
    scenario.applications = {sim::ProcessSpec{700, "com.example.a", "A", true, false, false},
                             sim::ProcessSpec{650, std::nullopt, std::nullopt, true, false, false}};
    sim::World world(scenario);
    EXPECT_EQ(world.processes().selfPid(), 701);
    ASSERT_EQ(world.processes().listed().size(), 3u);
    EXPECT_EQ(world.processes().listed().back(), world.processes().self());
    EXPECT_EQ(world.processes().self()->localizedName(), "Stashbay");
}

TEST_F(WorldTest, ObserversOfAnEarlierWorldAreGone) {
    int stale = 0;
    auto a =
        ns::NotificationCenter::defaultCenter().addObserver("", nullptr, [&](const ns::Notification&) { ++stale; });
    auto b = sim::workspaceNotificationCenter().addObserver("", nullptr, [&](const ns::Notification&) { ++stale; });
    {
        sim::World world(twoScreens());
        world.removeScreen(1);
        world.launchApplication({});
        loop.runUntilIdle();
        EXPECT_EQ(stale, 0);
        auto c = ns::NotificationCenter::defaultCenter().addObserver("", nullptr, [](const ns::Notification&) {});
    }
    EXPECT_EQ(ns::NotificationCenter::defaultCenter().observerCount(), 0u);
    EXPECT_EQ(sim::workspaceNotificationCenter().observerCount(), 0u);
}

struct ScreenChange {
    const char* what;
    std::function<void(sim::World&)> change;
    std::vector<cg::Rect> frames;
    std::optional<std::size_t> main;
};

void PrintTo(const ScreenChange& c, std::ostream* os) { *os << c.what; }

class ScreenChanges : public ::testing::TestWithParam<ScreenChange> {
protected:
    runtime::ManualLoop loop;
};

TEST_P(ScreenChanges, PostTheScreenParametersNotificationOnce) {
    sim::World world(twoScreens());
    Deliveries deliveries;
    GetParam().change(world);
    loop.runUntilIdle();
    EXPECT_EQ(deliveries.onDefault, std::vector<std::string>{"NSApplicationDidChangeScreenParametersNotification"});
    EXPECT_TRUE(deliveries.onWorkspace.empty());
    std::vector<cg::Rect> frames;
    for (const auto& s : world.screens().screens()) frames.push_back(s->spec().frame);
    EXPECT_EQ(frames, GetParam().frames);
    EXPECT_EQ(world.screens().mainIndex(), GetParam().main);
}

INSTANTIATE_TEST_SUITE_P(
    World, ScreenChanges,
    ::testing::Values(
        ScreenChange{"add",
                     [](sim::World& w) { w.addScreen(screenSpec(-800, 800, 3)); },
                     {cg::Rect(0, 0, 1512, 1000), cg::Rect(1512, 0, 2000, 1000), cg::Rect(-800, 0, 800, 1000)},
                     0},
        ScreenChange{"removeMain", [](sim::World& w) { w.removeScreen(0); }, {cg::Rect(0, 0, 2000, 1000)}, 0},
        ScreenChange{"removeOther", [](sim::World& w) { w.removeScreen(1); }, {cg::Rect(0, 0, 1512, 1000)}, 0},
        ScreenChange{"moveSecondary",
                     [](sim::World& w) {
                         w.moveScreen(1, {-2000, 100});
                     },
                     {cg::Rect(0, 0, 1512, 1000), cg::Rect(-2000, 100, 2000, 1000)},
                     0},
        // The primary screen stays at the origin: the others move the other way.
        ScreenChange{"movePrimary",
                     [](sim::World& w) {
                         w.moveScreen(0, {10, 20});
                     },
                     {cg::Rect(0, 0, 1512, 1000), cg::Rect(1502, -20, 2000, 1000)},
                     0},
        ScreenChange{"replace",
                     [](sim::World& w) { w.replaceScreen(1, screenSpec(1512, 1024, 9)); },
                     {cg::Rect(0, 0, 1512, 1000), cg::Rect(1512, 0, 1024, 1000)},
                     0},
        ScreenChange{"focusSecond",
                     [](sim::World& w) { w.setMainScreen(1); },
                     {cg::Rect(0, 0, 1512, 1000), cg::Rect(1512, 0, 2000, 1000)},
                     1},
        ScreenChange{"focusNone",
                     [](sim::World& w) { w.setMainScreen(std::nullopt); },
                     {cg::Rect(0, 0, 1512, 1000), cg::Rect(1512, 0, 2000, 1000)},
                     std::nullopt}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(WorldTest, TheFocusFollowsItsScreenWhenOthersComeAndGo) {
    sim::World world(twoScreens());
    world.setMainScreen(1);
    world.addScreen(screenSpec(-500, 500, 3), 0);
    EXPECT_EQ(world.screens().mainIndex(), 2u);
    EXPECT_EQ(world.screens().main()->spec().displayNumber, 2u);
    world.removeScreen(0);
    world.removeScreen(0);
    world.removeScreen(0);
    EXPECT_TRUE(world.screens().empty());
    EXPECT_EQ(world.screens().main(), nullptr);
    world.addScreen(screenSpec(0, 100, 4));
    EXPECT_EQ(world.screens().mainIndex(), 0u);
}

TEST_F(WorldTest, BadScreenChangesThrowAndPostNothing) {
    sim::World world(twoScreens());
    Deliveries deliveries;
    auto negative = screenSpec(0, 100, 5);
    negative.visibleFrame.size.height = -1;
    EXPECT_THROW(world.addScreen(negative), std::invalid_argument);
    EXPECT_THROW(world.addScreen(screenSpec(0, 100, 2)), std::invalid_argument);  // display number in use
    EXPECT_THROW(world.addScreen(screenSpec(0, 100, 5), 3), std::invalid_argument);
    EXPECT_THROW(world.removeScreen(2), std::invalid_argument);
    EXPECT_THROW(world.moveScreen(2, {0, 0}), std::invalid_argument);
    EXPECT_THROW(world.setMainScreen(2), std::invalid_argument);
    loop.runUntilIdle();
    EXPECT_TRUE(deliveries.onDefault.empty());
    EXPECT_EQ(world.screens().size(), 2u);
}

TEST_F(WorldTest, LaunchingAndQuittingPostOnTheWorkspaceCentreOnly) {
    sim::World world;
    Deliveries deliveries;
    auto launched = world.launchApplication({std::nullopt, "com.example.new", "New", true, false, false});
    auto slow = world.launchApplication({std::nullopt, "com.example.slow", "Slow", false, false, false});
    loop.runUntilIdle();
    EXPECT_EQ(deliveries.pids, std::vector<sim::ProcessID>{launched->pid()});
    EXPECT_TRUE(world.finishLaunching(slow->pid()));
    EXPECT_FALSE(world.finishLaunching(slow->pid()));
    EXPECT_TRUE(world.quitApplication(launched->pid()));
    EXPECT_FALSE(world.quitApplication(launched->pid()));
    loop.runUntilIdle();
    EXPECT_EQ(deliveries.onWorkspace, (std::vector<std::string>{"NSWorkspaceDidLaunchApplicationNotification",
                                                                "NSWorkspaceDidLaunchApplicationNotification",
                                                                "NSWorkspaceDidTerminateApplicationNotification"}));
    EXPECT_EQ(deliveries.pids, (std::vector<sim::ProcessID>{launched->pid(), slow->pid(), launched->pid()}));
    EXPECT_TRUE(deliveries.onDefault.empty());
    EXPECT_TRUE(launched->isTerminated());
    EXPECT_EQ(world.processes().find(launched->pid()), nullptr);
}

TEST_F(WorldTest, ProcessIdsAreNeverReused) {
    sim::World world;
    auto first = world.launchApplication({});
    EXPECT_EQ(first->pid(), 501);
    world.quitApplication(first->pid());
    EXPECT_EQ(world.launchApplication({})->pid(), 502);
    EXPECT_THROW(world.launchApplication({first->pid(), std::nullopt, std::nullopt, true, false, false}),
                 std::invalid_argument);
    EXPECT_THROW(world.launchApplication({301, std::nullopt, std::nullopt, true, false, false}), std::invalid_argument);
}

TEST_F(WorldTest, ProcessIdsGivenOutOfOrderStayUsedAfterTheirProcessesQuit) {
    sim::World world;
    auto launch = [&](std::optional<sim::ProcessID> pid) {
        return world.launchApplication({pid, std::nullopt, std::nullopt, true, false, false});
    };
    // Gaps filled from either side and between two runs.
    for (sim::ProcessID pid : {900, 902, 901, 899, 905, 903}) world.quitApplication(launch(pid)->pid());
    auto next = launch(std::nullopt);
    EXPECT_EQ(next->pid(), 906);
    world.quitApplication(next->pid());
    for (sim::ProcessID pid : {899, 900, 901, 902, 903, 905, 906})
        EXPECT_THROW(launch(pid), std::invalid_argument) << pid;
    EXPECT_EQ(launch(904)->pid(), 904);
    EXPECT_EQ(launch(898)->pid(), 898);
    EXPECT_THROW(launch(904), std::invalid_argument);
}

TEST_F(WorldTest, StashbayDoesNotQuitUnderTheTest) {
    sim::World world;
    EXPECT_FALSE(world.quitApplication(world.processes().selfPid()));
    EXPECT_FALSE(world.processes().self()->isTerminated());
}

TEST_F(WorldTest, ScenarioTerminatedEntriesAreListedButNotFound) {
    sim::World world;
    const auto& listed = world.processes().listed();
    auto vanish = std::find_if(listed.begin(), listed.end(), [](const auto& p) { return p->pid() == 431; });
    ASSERT_NE(vanish, listed.end());
    EXPECT_TRUE((*vanish)->isTerminated());
    EXPECT_EQ(world.processes().find(431), nullptr);
    EXPECT_FALSE(world.quitApplication(431));
}

TEST_F(WorldTest, ActivationsAndUnhidesAreRecordedInOrder) {
    sim::World world;
    auto finder = world.processes().find(301);
    world.setHidden(301, true);
    EXPECT_TRUE(finder->isHidden());
    EXPECT_TRUE(world.unhide(*finder));
    EXPECT_FALSE(finder->isHidden());
    EXPECT_TRUE(world.activate(*finder, 2));
    auto gone = world.processes().find(410);
    world.quitApplication(410);
    EXPECT_FALSE(world.activate(*gone, 0));
    using Kind = sim::ApplicationRequest::Kind;
    EXPECT_EQ(world.processes().requests(),
              (std::vector<sim::ApplicationRequest>{
                  {Kind::unhide, 301, 0, true}, {Kind::activate, 301, 2, true}, {Kind::activate, 410, 0, false}}));
    EXPECT_EQ(world.processes().frontmost(), 301);
}

TEST_F(WorldTest, FaultsComeFromTheScenarioAndCanBeFlipped) {
    auto scenario = twoScreens();
    scenario.faults.bitmapContextCreationFails = true;
    sim::World world(scenario);
    EXPECT_TRUE(world.faults().bitmapContextCreationFails);
    world.faults().bitmapContextCreationFails = false;
    EXPECT_EQ(world.faults(), sim::Faults{});
}

// A platform call that spends virtual time lets the world's actions due inside it happen there,
// at their instants and in order; the loop does not run them a second time.
TEST_F(WorldTest, ActionsDueInsideAPlatformCallHappenAtTheirInstants) {
    sim::World world;
    std::vector<std::pair<std::string, double>> seen;
    auto at = [&](const char* what) { seen.emplace_back(what, runtime::seconds(runtime::now() - runtime::Instant{})); };
    world.schedule(std::chrono::milliseconds(700), [&] { at("second"); });
    world.schedule(std::chrono::milliseconds(300), [&] { at("first"); });
    world.schedule(std::chrono::milliseconds(1500), [&] { at("after"); });
    world.spendTime(std::chrono::seconds(1));
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, double>>{{"first", 0.3}, {"second", 0.7}}));
    EXPECT_EQ(runtime::now(), runtime::Instant{} + std::chrono::seconds(1));
    loop.advance(std::chrono::seconds(1));
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen.back(), (std::pair<std::string, double>{"after", 1.5}));
}

// A scenario's script acts as the numbered accessibility call into an application begins.
TEST_F(WorldTest, ScriptedActionsHappenAtTheirAccessibilityCall) {
    sim::World world(sim::parseScenario(R"({"version": 1,
        "applications": [{"pid": 5, "statusItems": [{"title": "x"}, {"title": "y"}]}, {"pid": 6}],
        "script": [{"action": "removeStatusItem", "pid": 5, "statusItem": 0, "atAccessibilityCall": 2},
                   {"action": "hang", "pid": 5, "atAccessibilityCall": 3},
                   {"action": "quit", "pid": 5, "atAccessibilityCall": 1, "callsTo": 6}]})",
                                        "script.json"));
    world.noteAccessibilityCall(5);
    EXPECT_EQ(world.statusItemsOf(5).size(), 2u);
    world.noteAccessibilityCall(5);
    ASSERT_EQ(world.statusItemsOf(5).size(), 1u);
    EXPECT_EQ(world.statusItemsOf(5)[0]->spec.title, "y");
    EXPECT_FALSE(world.behaviour(5).hung);
    world.noteAccessibilityCall(5);
    EXPECT_TRUE(world.behaviour(5).hung);
    EXPECT_EQ(world.accessibilityCallCount(5), 3u);
    ASSERT_TRUE(world.processes().find(5));
    world.noteAccessibilityCall(6);
    EXPECT_FALSE(world.processes().find(5));
}
