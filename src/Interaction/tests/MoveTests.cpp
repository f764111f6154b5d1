#include "EngineScene.hpp"

#include <algorithm>

using namespace std::chrono_literals;
using stashbay::ItemEventFailure;
using T = cg::EventType;
using F = cg::EventField;

namespace {

constexpr sim::ProcessID bell = 11;
constexpr sim::ProcessID hidden = 14;

class MoveTest : public EngineTest {
public:
    stashbay::WindowListBridge::CGWindowEntry entryOf(const std::string& title) {
        return *engine().windowEntry(byTitle(title).window);
    }
    // "moved" or the error's text.
    std::string move(const std::string& title, const std::string& target) {
        return run(attempt(byTitle(title).window, byTitle(title).owner, entryOf(target)));
    }
    runtime::Task<std::string> attempt(std::uint32_t window, sim::ProcessID pid,
                                       stashbay::WindowListBridge::CGWindowEntry target) {
        try {
            auto moving = engine().moveWithRetries(window, pid, target);
            co_await moving;
        } catch (const ItemEventFailure& failure) {
            co_return std::string(failure.what());
        }
        co_return std::string("moved");
    }
    // Command-drags and plain clicks that reached the process, each counted once (a relay
    // delivers every event twice).
    std::pair<std::size_t, std::size_t> gesturesAndWakeUps(sim::ProcessID pid) {
        std::size_t drags = 0, clicks = 0;
        for (const auto& d : world.events().deliveries(pid)) {
            if (cg::eventGetType(d.event) != T::leftMouseDown) continue;
            (cg::eventGetFlags(d.event) & cg::eventFlagMaskCommand ? drags : clicks) += 1;
        }
        return {drags / 2, clicks / 2};
    }
    void expectPointerBack(cg::Point where, const std::string& context) {
        EXPECT_EQ(world.events().pointerLocation(), where) << context;
        EXPECT_TRUE(world.events().cursorVisible()) << context;
        EXPECT_TRUE(world.events().mouseAssociated()) << context;
    }
    std::size_t indexOf(const std::string& title) { return *world.menuBar().indexOf(byTitle(title).id); }
};

}  // namespace

TEST_F(MoveTest, AnItemThatMovesAtOnceLandsLeftOfItsTargetOnTheFirstAttempt) {
    world.events().warpPointer({123, 456});
    EXPECT_EQ(move("Hidden", "Bell"), "moved");
    EXPECT_EQ(indexOf("Hidden"), indexOf("Bell") + 1);
    EXPECT_EQ(byTitle("Hidden").frame, (cg::Rect{500, 0, 100, 24}));
    EXPECT_EQ(texts(), std::vector<std::string>{"Move succeeded on attempt 1"});
    EXPECT_EQ(gesturesAndWakeUps(hidden), std::make_pair(std::size_t{1}, std::size_t{0}));
    expectPointerBack({123, 456}, "after a move");

    // The halves as they reached the application.
    cg::EventRef down, up;
    for (const auto& d : world.events().deliveries(hidden)) {
        if (cg::eventGetType(d.event) == T::leftMouseDown) down = d.event;
        if (cg::eventGetType(d.event) == T::leftMouseUp) up = d.event;
    }
    ASSERT_TRUE(down && up);
    EXPECT_EQ(cg::eventGetLocation(down), (cg::Point{20000, 20000}));
    EXPECT_EQ(cg::eventGetFlags(down), cg::eventFlagMaskCommand);
    EXPECT_EQ(cg::eventGetIntegerValueField(down, stashbay::MenuBarController::windowIDField),
              byTitle("Hidden").window);
    EXPECT_EQ(cg::eventGetFlags(up), 0u);
    EXPECT_EQ(cg::eventGetLocation(up), (cg::Point{600, 12}));
    EXPECT_EQ(cg::eventGetIntegerValueField(up, stashbay::MenuBarController::windowIDField), byTitle("Bell").window);
    EXPECT_EQ(cg::eventGetIntegerValueField(up, F::eventTargetUnixProcessID), hidden);
    EXPECT_TRUE(world.events().sources().back()->localEventsFilter(cg::EventSuppressionState::remoteMouseDrag) == 7u)
        << "the move's source lets the user's input through";
    settle();
}

TEST_F(MoveTest, AMoveTheWorldRefusesIsRetriedWithWakeUpClicksBetweenAttempts) {
    struct Case {
        const char* title;
        std::string result;
        std::size_t gestures;
        std::size_t wakeUps;
        std::vector<std::string> records;
    };
    const std::vector<Case> cases = {
        {"Sleepy", "moved", 2, 1, {"Move attempt 1 failed; nudging item awake", "Move succeeded on attempt 2"}},
        {"Stuck",
         "frameDidNotChange",
         5,
         4,
         {"Move attempt 1 failed; nudging item awake", "Move attempt 2 failed; nudging item awake",
          "Move attempt 3 failed; nudging item awake", "Move attempt 4 failed; nudging item awake"}},
    };
    for (const auto& c : cases) {
        capture->clear();
        world.events().warpPointer({50, 300});
        const auto pid = byTitle(c.title).owner;
        EXPECT_EQ(move(c.title, "Anchor"), c.result) << c.title;
        EXPECT_EQ(texts(), c.records) << c.title;
        EXPECT_EQ(gesturesAndWakeUps(pid), std::make_pair(c.gestures, c.wakeUps)) << c.title;
        expectPointerBack({50, 300}, c.title);
        settle();
    }
    EXPECT_EQ(indexOf("Sleepy"), indexOf("Anchor") + 1);
}

TEST_F(MoveTest, AMoveWhoseRelaysFailThrowsTheRelaysErrorWithThePointerBack) {
    struct Case {
        const char* name;
        const char* title;
        std::function<void(MoveTest&)> arrange;
    };
    const std::vector<Case> cases = {
        {"a hung application", "Bell", [](MoveTest& t) { t.world.behaviour(bell).hung = true; }},
        {"an application that quits between the halves", "Anchor",
         [](MoveTest& t) { t.world.schedule(20ms, [&t] { t.world.quitApplication(10); }); }},
    };
    for (const auto& c : cases) {
        capture->clear();
        world.events().warpPointer({50, 300});
        c.arrange(*this);
        EXPECT_EQ(move(c.title, "Stuck"), "deliveryTimeout") << c.name;
        EXPECT_EQ(capture->texts("menuBarController", os::LogLevel::debug).size(), 4u) << c.name;
        expectPointerBack({50, 300}, c.name);
        settle();
    }
    EXPECT_EQ(world.moveCount(), 0);
}

TEST_F(MoveTest, AWindowMissingFromTheListIsNotFoundAndNothingIsSent) {
    world.events().warpPointer({50, 300});
    EXPECT_EQ(run(attempt(99999, bell, entryOf("Anchor"))), "itemNotFound");
    EXPECT_TRUE(world.events().routes().empty());
    EXPECT_TRUE(world.events().sources().empty());
    EXPECT_TRUE(texts().empty());
    expectPointerBack({50, 300}, "untouched");
}

TEST_F(MoveTest, AFrameWaitReadsTheListOnlyWhenItHasAFrameAndStopsAtTheFirstChange) {
    const auto window = byTitle("Bell").window;
    auto reads = [&] { return world.windowServer().listQueryCount(); };
    struct Case {
        const char* name;
        std::optional<cg::Rect> start;
        runtime::Duration took;
        std::size_t reads;
    };
    const std::vector<Case> cases = {
        {"no start frame", std::nullopt, 50ms, 0},
        {"already changed", cg::Rect{1, 2, 3, 4}, 0ms, 1},
        {"never changes", byTitle("Bell").frame, 100ms, 10},
    };
    for (const auto& c : cases) {
        const auto before = reads();
        const auto start = loop.now();
        run(engine().waitForFrameChange(window, c.start, 100ms));
        EXPECT_EQ(loop.now() - start, c.took) << c.name;
        EXPECT_EQ(reads() - before, c.reads) << c.name;
    }
}

TEST_F(MoveTest, TheMoveBackWaitsForTheMenuToCloseThenGoesLeftOfTheLeftmostVisibleItem) {
    struct Case {
        const char* name;
        std::optional<runtime::Duration> menuClosesAfter;
        runtime::Duration from;
        runtime::Duration to;
    };
    const std::vector<Case> cases = {
        {"menu closed at the first check", 200ms, 1800ms, 1950ms},
        {"menu never closes", std::nullopt, 30800ms, 30950ms},
    };
    for (const auto& c : cases) {
        capture->clear();
        const auto& shown = byTitle("Hidden");
        world.mutableStatusItem(shown.id)->spec.behaviour.menuClosesAfter = c.menuClosesAfter;
        ASSERT_TRUE(world.requestMove(shown.id, byTitle("Bell").id));
        ASSERT_TRUE(world.openMenu(shown.id, sim::World::MenuTrigger::click));
        engine().scheduleMoveBack(itemOf(shown));
        const auto took = advanceUntil([&] { return !texts().empty(); });
        EXPECT_GE(took, c.from) << c.name;
        EXPECT_LE(took, c.to) << c.name;
        EXPECT_EQ(texts().back(), "Returned Hidden to the stashbay boundary") << c.name;
        EXPECT_EQ(indexOf("Hidden"), indexOf("Sleepy") + 1) << c.name;
        EXPECT_EQ(byTitle("Hidden").frame, (cg::Rect{400, 0, 100, 24})) << c.name;
        settle();
        world.closeMenus();
    }
}

TEST_F(MoveTest, TheMoveBackEndsSilentlyWithoutAVisibleWindowOrAnotherVisibleItem) {
    struct Case {
        const char* name;
        std::function<void(MoveTest&)> arrange;
    };
    const std::vector<Case> cases = {
        {"the item is off the bar", [](MoveTest&) {}},
        {"no other item is visible",
         [](MoveTest& t) {
             t.world.requestMove(t.byTitle("Hidden").id, t.byTitle("Bell").id);
             for (auto title : {"Anchor", "Bell", "Sleepy", "Stuck"}) t.world.removeStatusItem(t.byTitle(title).id);
         }},
        {"the item is gone", [](MoveTest& t) { t.world.removeStatusItem(t.byTitle("Hidden").id); }},
    };
    for (const auto& c : cases) {
        auto item = itemOf("Hidden");
        c.arrange(*this);
        const auto routes = world.events().routes().size();
        engine().scheduleMoveBack(item);
        settle();
        EXPECT_TRUE(texts().empty()) << c.name;
        EXPECT_EQ(world.events().routes().size(), routes) << c.name;
    }
}

TEST_F(MoveTest, TheCursorIsHiddenWhileTheMovesEventsArriveAndShownAfterwards) {
    std::vector<bool> visibleAtDelivery;
    world.events().setDeliveryObserver([&](sim::ProcessID pid, const cg::EventRef&) {
        if (pid == hidden) visibleAtDelivery.push_back(world.events().cursorVisible());
    });
    EXPECT_EQ(move("Hidden", "Bell"), "moved");
    world.events().setDeliveryObserver({});
    ASSERT_FALSE(visibleAtDelivery.empty());
    EXPECT_EQ(std::count(visibleAtDelivery.begin(), visibleAtDelivery.end(), true), 0)
        << "the person saw the pointer jump with the drag";
    EXPECT_TRUE(world.events().cursorVisible());
    settle();
}
