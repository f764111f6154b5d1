#include "TapProbe.hpp"
#include "macos/CoreGraphics/Event.hpp"
#include "macos/CoreGraphics/EventSource.hpp"
#include "macos/CoreGraphics/EventTap.hpp"
#include "macos/os/Logger.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::tapAt;
using testing_support::tapOn;
using testing_support::TapProbe;
using L = cg::EventTapLocation;
using T = cg::EventType;

namespace {

constexpr sim::ProcessID appA = 10;
constexpr sim::ProcessID appB = 11;
constexpr sim::ProcessID sleepy = 12;
constexpr auto windowField = static_cast<cg::EventField>(51);

// Right to left: A, B, Sleepy. Sleepy ignores moves until a click wakes it.
sim::Scenario barScenario() {
    return sim::parseScenario(R"({
      "version": 1,
      "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
                   "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 576}, "displayNumber": 1}],
      "applications": [
        {"pid": 10, "bundleIdentifier": "a", "statusItems": [{"title": "A", "menu": [{"title": "One"}]}]},
        {"pid": 11, "bundleIdentifier": "b", "statusItems": [{"title": "B"}]},
        {"pid": 12, "bundleIdentifier": "s", "statusItems": [{"title": "Sleepy", "behaviour": {"move": "ignoresUntilClick"}}]},
        {"pid": 20, "bundleIdentifier": "o", "windows": [{"bounds": {"x": 100, "y": 100, "width": 300, "height": 200}}]}
      ]})",
                              "bar.json");
}

class ApplicationEventTest : public ::testing::Test {
public:
    ApplicationEventTest() { os::LogStore::shared().setEchoToStderr(false); }

    const sim::StatusItem& item(sim::ProcessID pid) { return *world.statusItemsOf(pid).front(); }
    cg::Point centre(sim::ProcessID pid) { return {item(pid).frame.midX(), item(pid).frame.midY()}; }

    // A mouse event stamped as the engine stamps the events it sends to a status window.
    cg::EventRef stamped(T type, cg::Point at, sim::WindowNumber window, sim::ProcessID pid, cg::EventFlags flags = 0) {
        auto e = cg::eventCreateMouseEvent(nullptr, type, at, cg::MouseButton::left);
        cg::eventSetFlags(e, flags);
        cg::eventSetIntegerValueField(e, cg::EventField::eventTargetUnixProcessID, pid);
        cg::eventSetIntegerValueField(e, cg::EventField::mouseEventWindowUnderMousePointer, window);
        cg::eventSetIntegerValueField(e, cg::EventField::mouseEventWindowUnderMousePointerThatCanHandleThisEvent,
                                      window);
        cg::eventSetIntegerValueField(e, windowField, window);
        return e;
    }
    void commandDrag(sim::ProcessID pid, sim::ProcessID onto) {
        auto down = stamped(T::leftMouseDown, {20000, 20000}, item(pid).window, pid, cg::eventFlagMaskCommand);
        auto up = stamped(T::leftMouseUp, {item(onto).frame.minX(), item(onto).frame.midY()}, item(onto).window, pid);
        // Every half arrives twice, once through the session and once straight, as a relay sends it.
        cg::eventPost(L::session, down);
        cg::eventPostToPid(pid, down);
        loop.runUntilIdle();
        cg::eventPost(L::session, up);
        cg::eventPostToPid(pid, up);
        loop.runUntilIdle();
    }
    std::size_t indexOf(sim::ProcessID pid) { return *world.menuBar().indexOf(item(pid).id); }

    runtime::ManualLoop loop;
    sim::World world{barScenario()};
};

}  // namespace

TEST_F(ApplicationEventTest, AClickOnAStatusWindowOpensThatItemsMenuWindow) {
    struct Case {
        const char* name;
        std::function<void(ApplicationEventTest&)> click;
    };
    const std::vector<Case> cases = {
        {"stamped and posted at the session point",
         [](ApplicationEventTest& t) {
             auto w = t.item(appA).window;
             cg::eventPost(L::session, t.stamped(T::leftMouseDown, t.centre(appA), w, appA));
             cg::eventPost(L::session, t.stamped(T::leftMouseUp, t.centre(appA), w, appA));
         }},
        {"the user's own mouse",
         [](ApplicationEventTest& t) {
             t.world.events().injectUserMouse(T::leftMouseDown, t.centre(appA));
             t.world.events().injectUserMouse(T::leftMouseUp, t.centre(appA));
         }},
        {"posted to the process, twice over",
         [](ApplicationEventTest& t) {
             auto w = t.item(appA).window;
             auto down = t.stamped(T::leftMouseDown, t.centre(appA), w, appA);
             auto up = t.stamped(T::leftMouseUp, t.centre(appA), w, appA);
             for (const auto& e : {down, down, up, up}) cg::eventPostToPid(appA, e);
         }},
    };
    for (const auto& c : cases) {
        world.closeMenus();
        auto before = world.menuHistory().size();
        c.click(*this);
        EXPECT_FALSE(world.openMenuItem()) << c.name << ": nothing happens inside the post";
        loop.runUntilIdle();
        ASSERT_EQ(world.openMenuItem(), item(appA).id) << c.name;
        const auto* menu = world.windowServer().find(*world.openMenuWindow());
        ASSERT_NE(menu, nullptr) << c.name;
        EXPECT_EQ(menu->owner, appA) << c.name;
        EXPECT_EQ(menu->layer, sim::WindowLevel::popUpMenu) << c.name;
        ASSERT_EQ(world.menuHistory().size(), before + 1) << c.name << ": one menu per click, however often sent";
        EXPECT_EQ(world.menuHistory().back().trigger, sim::World::MenuTrigger::click) << c.name;
    }
}

TEST_F(ApplicationEventTest, AMouseDownElsewhereClosesTheOpenMenuButOneOnTheMenuDoesNot) {
    world.openMenu(item(appA).id, sim::World::MenuTrigger::press);
    auto menu = world.windowServer().find(*world.openMenuWindow())->bounds;
    world.events().injectUserMouse(T::leftMouseDown, {menu.midX(), menu.midY()});
    loop.runUntilIdle();
    EXPECT_TRUE(world.openMenuItem());
    world.events().injectUserMouse(T::leftMouseDown, {150, 150});
    loop.runUntilIdle();
    EXPECT_FALSE(world.openMenuItem());
}

TEST_F(ApplicationEventTest, ACommandDragOntoAnotherStatusWindowMovesTheItemJustLeftOfIt) {
    ASSERT_LT(indexOf(appA), indexOf(appB));
    auto before = item(appA).frame;
    commandDrag(appA, appB);
    EXPECT_EQ(world.moveCount(), 1) << "the second delivery of each half does nothing";
    EXPECT_EQ(indexOf(appA), indexOf(appB) + 1);
    EXPECT_NE(item(appA).frame, before);
    EXPECT_TRUE(world.statusItemsOf(appA).front()->onBar);

    // Without the command key, or onto no status window, nothing moves.
    auto w = item(appA).window;
    cg::eventPostToPid(appA, stamped(T::leftMouseDown, {20000, 20000}, w, appA));
    cg::eventPostToPid(appA, stamped(T::leftMouseUp, {0, 0}, item(sleepy).window, appA));
    cg::eventPostToPid(appA, stamped(T::leftMouseDown, {20000, 20000}, w, appA, cg::eventFlagMaskCommand));
    cg::eventPostToPid(appA, stamped(T::leftMouseUp, {150, 150}, 0, appA));
    loop.runUntilIdle();
    EXPECT_EQ(world.moveCount(), 1);
}

TEST_F(ApplicationEventTest, TheUsersOwnCommandDragMovesAnItemToo) {
    world.events().injectUserMouse(T::leftMouseDown, centre(appA), cg::eventFlagMaskCommand);
    world.events().injectUserMouse(T::leftMouseDragged, centre(sleepy), cg::eventFlagMaskCommand);
    world.events().injectUserMouse(T::leftMouseUp, centre(sleepy));
    loop.runUntilIdle();
    EXPECT_EQ(indexOf(appA), indexOf(sleepy) + 1);
}

TEST_F(ApplicationEventTest, AnItemThatIgnoresMovesTakesThemOnceAClickWokeIt) {
    commandDrag(sleepy, appA);
    EXPECT_EQ(world.moveCount(), 0);
    auto w = item(sleepy).window;
    cg::eventPostToPid(sleepy, stamped(T::leftMouseDown, centre(sleepy), w, sleepy));
    cg::eventPostToPid(sleepy, stamped(T::leftMouseUp, centre(sleepy), w, sleepy));
    loop.runUntilIdle();
    EXPECT_TRUE(item(sleepy).awake);
    commandDrag(sleepy, appA);
    EXPECT_EQ(world.moveCount(), 1);
    EXPECT_EQ(indexOf(sleepy), indexOf(appA) + 1);
}

TEST_F(ApplicationEventTest, AHungApplicationNeverDrainsItsQueueThoughItsTapsSeeEverything) {
    world.behaviour(appA).hung = true;
    TapProbe watcher;
    auto tap = tapOn(appA, watcher);
    auto w = item(appA).window;
    cg::eventPost(L::session, stamped(T::leftMouseDown, centre(appA), w, appA));
    cg::eventPost(L::session, stamped(T::leftMouseUp, centre(appA), w, appA));
    loop.advance(10s);
    EXPECT_EQ(watcher.seen.size(), 2u);
    EXPECT_EQ(world.events().deliveries(appA).size(), 2u);
    EXPECT_EQ(world.events().pendingEvents(appA).size(), 2u);
    EXPECT_FALSE(world.openMenuItem());
    commandDrag(appA, appB);
    EXPECT_EQ(world.moveCount(), 0);

    // Once it answers again, the next delivery lets it work through the backlog in order.
    world.behaviour(appA).hung = false;
    cg::eventPostToPid(appA, cg::eventCreate(nullptr));
    loop.runUntilIdle();
    EXPECT_TRUE(world.events().pendingEvents(appA).empty());
    EXPECT_EQ(world.moveCount(), 1);
}

TEST_F(ApplicationEventTest, AnEventRelayedThroughTheProcessWithASentinelReachesItTwiceAndActsOnce) {
    // The engine's relay: a sentinel posted to the process is dropped by an active tap there,
    // which posts the real event into the session; a session tap sees it and posts it straight
    // to the process. Both taps are made, enabled and used from callbacks.
    struct Relay {
        std::int64_t sentinelTag = 0;
        std::int64_t eventTag = 0;
        cg::EventRef event;
        sim::ProcessID pid = 0;
        bool confirmed = false;
    } relay;
    auto tagOf = [](const cg::EventRef& e) {
        return cg::eventGetIntegerValueField(e, cg::EventField::eventSourceUserData);
    };
    TapProbe sentinelTap("A", nullptr, [&](T, const cg::EventRef& seen) -> cg::EventRef {
        if (tagOf(seen) != relay.sentinelTag) return seen;
        cg::eventPost(L::session, relay.event);
        return nullptr;
    });
    TapProbe sessionTap("B", nullptr, [&](T, const cg::EventRef& seen) {
        if (tagOf(seen) == relay.eventTag) {
            cg::eventPostToPid(relay.pid, relay.event);
            relay.confirmed = true;
        }
        return seen;
    });
    auto send = [&](const cg::EventRef& e) {
        relay.event = e;
        relay.pid = appA;
        relay.eventTag = reinterpret_cast<std::intptr_t>(e.get());
        cg::eventSetIntegerValueField(e, cg::EventField::eventSourceUserData, relay.eventTag);
        auto sentinel = cg::eventCreate(nullptr);
        relay.sentinelTag = reinterpret_cast<std::intptr_t>(sentinel.get());
        cg::eventSetIntegerValueField(sentinel, cg::EventField::eventSourceUserData, relay.sentinelTag);
        auto a = tapOn(appA, sentinelTap, cg::eventMaskBit(T::null), cg::EventTapOptions::defaultTap);
        auto b = tapAt(L::session, sessionTap, cg::eventMaskBit(cg::eventGetType(e)));
        relay.confirmed = false;
        cg::eventPostToPid(appA, sentinel);
        loop.runUntilIdle();
        a.remove();
        b.remove();
        return relay.confirmed;
    };
    auto down = stamped(T::leftMouseDown, {20000, 20000}, item(appA).window, appA, cg::eventFlagMaskCommand);
    auto up = stamped(T::leftMouseUp, {item(appB).frame.minX(), item(appB).frame.midY()}, item(appB).window, appA);
    EXPECT_TRUE(send(down));
    EXPECT_TRUE(send(up));
    EXPECT_EQ(world.events().deliveries(appA).size(), 4u) << "each half twice; the sentinel never";
    for (const auto& d : world.events().deliveries(appA)) EXPECT_NE(cg::eventGetType(d.event), T::null);
    EXPECT_EQ(world.moveCount(), 1);
    EXPECT_EQ(indexOf(appA), indexOf(appB) + 1);
    EXPECT_EQ(world.events().liveTapCount(), 0u);
}

TEST_F(ApplicationEventTest, ALeftClickOnAPopoverItemOpensItsWindowAndARightClickItsMenu) {
    world.mutableStatusItem(item(appA).id)->spec.behaviour.opens = sim::StatusItemBehaviour::Opens::window;
    auto click = [&](T down, T up) {
        cg::eventPostToPid(appA, stamped(down, centre(appA), item(appA).window, appA));
        cg::eventPostToPid(appA, stamped(up, centre(appA), item(appA).window, appA));
        loop.runUntilIdle();
    };
    click(T::leftMouseDown, T::leftMouseUp);
    EXPECT_EQ(world.openPopoverItem(), item(appA).id);
    EXPECT_FALSE(world.openMenuItem());

    click(T::rightMouseDown, T::rightMouseUp);
    EXPECT_FALSE(world.openPopoverItem()) << "the right click's mouse-down outside it closed the popover";
    EXPECT_EQ(world.openMenuItem(), item(appA).id);
    EXPECT_EQ(world.popoverOpenings().size(), 1u);
}

TEST_F(ApplicationEventTest, WhatIsPostedToAProcessMeetsItsTapsOnlyWhenItReadsItsQueue) {
    // A sentinel posted to a hung application sits in its queue, unseen by its taps; the
    // session-routed click reaches the same taps at once. When it answers again, the tap sees the
    // sentinel and may still drop it then.
    world.behaviour(appA).hung = true;
    TapProbe dropper("dropper", nullptr,
                     [](T type, const cg::EventRef& e) { return type == T::null ? cg::EventRef{} : e; });
    auto tap = tapOn(appA, dropper, ~cg::EventMask{0}, cg::EventTapOptions::defaultTap);
    cg::eventPostToPid(appA, cg::eventCreate(nullptr));
    cg::eventPost(L::session, stamped(T::leftMouseDown, centre(appA), item(appA).window, appA));
    loop.advance(10s);
    ASSERT_EQ(dropper.types, std::vector<T>{T::leftMouseDown});
    EXPECT_EQ(world.events().deliveries(appA).size(), 1u) << "the sentinel is not delivered while unread";
    EXPECT_EQ(world.events().pendingEvents(appA).size(), 2u);

    world.behaviour(appA).hung = false;
    cg::eventPostToPid(appA, stamped(T::leftMouseUp, centre(appA), item(appA).window, appA));
    loop.runUntilIdle();
    EXPECT_EQ(dropper.types, (std::vector<T>{T::leftMouseDown, T::null, T::leftMouseUp}));
    EXPECT_EQ(world.events().routes().back().outcome, sim::EventRoute::Outcome::delivered);
    EXPECT_EQ(world.events().deliveries(appA).size(), 2u) << "the sentinel was dropped, not delivered";
    EXPECT_EQ(world.openMenuItem(), item(appA).id);
}

TEST_F(ApplicationEventTest, AnApplicationThatQuitsBetweenTheHalvesOfADragMovesNothing) {
    auto down = stamped(T::leftMouseDown, {20000, 20000}, item(appA).window, appA, cg::eventFlagMaskCommand);
    auto up = stamped(T::leftMouseUp, {item(appB).frame.minX(), item(appB).frame.midY()}, item(appB).window, appA);
    cg::eventPostToPid(appA, down);
    loop.runUntilIdle();
    ASSERT_TRUE(world.quitApplication(appA));
    cg::eventPost(L::session, up);
    cg::eventPostToPid(appA, up);
    loop.runUntilIdle();
    EXPECT_EQ(world.moveCount(), 0);
    EXPECT_TRUE(world.statusItemsOf(appA).empty());
    EXPECT_EQ(world.events().routes().back().outcome, sim::EventRoute::Outcome::noTarget);
}
