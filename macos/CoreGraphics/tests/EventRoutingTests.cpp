#include "TapProbe.hpp"
#include "macos/AppKit/Cursor.hpp"
#include "macos/CoreGraphics/Event.hpp"
#include "macos/CoreGraphics/EventSource.hpp"
#include "macos/CoreGraphics/EventTap.hpp"
#include "macos/CoreGraphics/MouseCursor.hpp"
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
using Outcome = sim::EventRoute::Outcome;

namespace {

constexpr sim::ProcessID appA = 10;
constexpr sim::ProcessID appB = 11;
constexpr sim::ProcessID appW = 20;

// One 800 x 600 screen, two applications with a status item each, and one with a window at
// (100, 100, 300, 200) in window-server space.
sim::Scenario routingScenario() {
    return sim::parseScenario(R"({
      "version": 1,
      "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
                   "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 576}, "displayNumber": 1}],
      "applications": [
        {"pid": 10, "bundleIdentifier": "a", "statusItems": [{"title": "A"}]},
        {"pid": 11, "bundleIdentifier": "b", "statusItems": [{"title": "B"}]},
        {"pid": 20, "bundleIdentifier": "w", "windows": [{"bounds": {"x": 100, "y": 100, "width": 300, "height": 200}}]}
      ]})",
                              "routing.json");
}

class EventRoutingTest : public ::testing::Test {
protected:
    EventRoutingTest() { os::LogStore::shared().setEchoToStderr(false); }

    cg::EventRef mouse(T type, cg::Point at, std::int64_t targetPid = 0) {
        auto e = cg::eventCreateMouseEvent(nullptr, type, at, cg::MouseButton::left);
        if (targetPid) cg::eventSetIntegerValueField(e, cg::EventField::eventTargetUnixProcessID, targetPid);
        return e;
    }
    sim::EventSystem& events() { return world.events(); }
    const sim::EventRoute& lastRoute() { return events().routes().back(); }

    runtime::ManualLoop loop;
    sim::World world{routingScenario()};
    std::vector<std::string> log;
};

}  // namespace

TEST_F(EventRoutingTest, AnEventPostedAtTheHidPointPassesEveryPointInOrderThenTheTargetsTapsThenTheTarget) {
    TapProbe hidTail{"hid tail", &log}, hidHead{"hid head", &log}, session{"session", &log},
        annotated{"annotated", &log}, processA{"pid A", &log}, processB{"pid B", &log};
    auto t1 = tapAt(L::hid, hidTail);
    auto t2 = tapAt(L::session, session);
    auto t3 = tapAt(L::annotatedSession, annotated);
    auto t4 = tapOn(appA, processA);
    auto t5 = tapOn(appB, processB);
    auto t6 = tapAt(L::hid, hidHead, ~0ull, cg::EventTapOptions::listenOnly, cg::EventTapPlacement::headInsert);

    cg::eventPost(L::hid, mouse(T::leftMouseDown, {5, 5}, appA));
    EXPECT_TRUE(log.empty()) << "a poster never sees its event routed inside the call";
    EXPECT_TRUE(events().routes().empty());
    loop.runUntilIdle();

    EXPECT_EQ(log, (std::vector<std::string>{"hid head", "hid tail", "session", "annotated", "pid A"}));
    ASSERT_EQ(events().deliveries().size(), 1u);
    EXPECT_EQ(lastRoute().pid, appA);
    EXPECT_EQ(lastRoute().entry, sim::EventEntry::hid);
}

TEST_F(EventRoutingTest, EachEntryPointSkipsTheTapsBeforeIt) {
    struct Case {
        const char* name;
        std::function<void(const cg::EventRef&)> post;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"hid", [](const cg::EventRef& e) { cg::eventPost(L::hid, e); }, {"hid", "session", "annotated", "pid"}},
        {"session", [](const cg::EventRef& e) { cg::eventPost(L::session, e); }, {"session", "annotated", "pid"}},
        {"annotated", [](const cg::EventRef& e) { cg::eventPost(L::annotatedSession, e); }, {"annotated", "pid"}},
        {"process", [](const cg::EventRef& e) { cg::eventPostToPid(appA, e); }, {"pid"}},
    };
    TapProbe hid{"hid", &log}, session{"session", &log}, annotated{"annotated", &log}, process{"pid", &log};
    auto t1 = tapAt(L::hid, hid);
    auto t2 = tapAt(L::session, session);
    auto t3 = tapAt(L::annotatedSession, annotated);
    auto t4 = tapOn(appA, process);
    for (const auto& c : cases) {
        log.clear();
        c.post(mouse(T::leftMouseUp, {5, 5}, appA));
        loop.runUntilIdle();
        EXPECT_EQ(log, c.expected) << c.name;
        EXPECT_EQ(lastRoute().outcome, Outcome::delivered) << c.name;
        EXPECT_EQ(lastRoute().pid, appA) << c.name;
    }
}

TEST_F(EventRoutingTest, AnActiveTapDropsOrReplacesAndAListenOnlyTapCannot) {
    TapProbe dropper{"dropper", &log, [](T, const cg::EventRef&) { return cg::EventRef{}; }};
    TapProbe later{"later", &log};
    auto active = tapAt(L::session, dropper, ~0ull, cg::EventTapOptions::defaultTap);
    auto after = tapOn(appA, later);

    cg::eventPost(L::session, mouse(T::leftMouseDown, {5, 5}, appA));
    loop.runUntilIdle();
    EXPECT_EQ(log, std::vector<std::string>{"dropper"});
    EXPECT_EQ(lastRoute().outcome, Outcome::dropped);
    EXPECT_EQ(lastRoute().droppedBy, active.port->id());
    EXPECT_TRUE(events().deliveries().empty());

    // The same answer from a listen-only tap is ignored.
    active.remove();
    log.clear();
    TapProbe watcher{"watcher", &log, [](T, const cg::EventRef&) { return cg::EventRef{}; }};
    auto listenOnly = tapAt(L::session, watcher);
    cg::eventPost(L::session, mouse(T::leftMouseDown, {5, 5}, appA));
    loop.runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"watcher", "later"}));
    EXPECT_EQ(lastRoute().outcome, Outcome::delivered);
    listenOnly.remove();

    // An active tap's replacement travels on; a listen-only tap's edits of its copy do not.
    TapProbe scribbler{"scribbler", nullptr, [](T, const cg::EventRef& e) {
                           cg::eventSetFlags(e, cg::eventFlagMaskShift);
                           return e;
                       }};
    TapProbe replacer{"replacer", nullptr, [](T, const cg::EventRef& e) {
                          auto other = e->copy();
                          cg::eventSetIntegerValueField(other, cg::EventField::eventSourceUserData, 77);
                          return other;
                      }};
    auto s = tapAt(L::hid, scribbler);
    auto r = tapAt(L::session, replacer, ~0ull, cg::EventTapOptions::defaultTap);
    cg::eventPost(L::hid, mouse(T::leftMouseUp, {5, 5}, appA));
    loop.runUntilIdle();
    ASSERT_EQ(lastRoute().outcome, Outcome::delivered);
    EXPECT_EQ(cg::eventGetIntegerValueField(lastRoute().event, cg::EventField::eventSourceUserData), 77);
    EXPECT_EQ(cg::eventGetFlags(lastRoute().event), 0u);
}

TEST_F(EventRoutingTest, TapsSeeCopiesOfWhatWasPosted) {
    TapProbe watcher{"watcher"};
    auto tap = tapAt(L::session, watcher);
    auto posted = mouse(T::leftMouseDown, {5, 5}, appA);
    cg::eventPost(L::session, posted);
    // Changing the event after the post changes nothing in flight.
    cg::eventSetIntegerValueField(posted, cg::EventField::eventSourceUserData, 9);
    loop.runUntilIdle();
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_NE(watcher.seen[0], posted);
    EXPECT_EQ(cg::eventGetIntegerValueField(watcher.seen[0], cg::EventField::eventSourceUserData), 0);
    EXPECT_EQ(cg::eventGetLocation(watcher.seen[0]), (cg::Point{5, 5}));
}

TEST_F(EventRoutingTest, TapsSeeOnlyTheTypesOfTheirMaskAndNeverTypesFromSixtyFourUp) {
    EXPECT_EQ(cg::eventMaskBit(T::leftMouseDragged), 0x40u);
    EXPECT_EQ(cg::eventMaskBit(static_cast<T>(64)), 0u);
    EXPECT_EQ(cg::eventMaskBit(T::tapDisabledByTimeout), 0u);
    TapProbe drags{"drags"};
    auto tap = tapAt(L::session, drags, cg::eventMaskBit(T::leftMouseDragged));
    for (auto type : {T::leftMouseDown, T::leftMouseDragged, T::leftMouseUp, static_cast<T>(70)}) {
        cg::eventPost(L::session, mouse(type, {5, 5}, appA));
    }
    loop.runUntilIdle();
    EXPECT_EQ(drags.types, std::vector<T>{T::leftMouseDragged});
}

TEST_F(EventRoutingTest, TheTargetComesFromThePidFieldThenTheWindowFieldsThenAHitTest) {
    auto windowOf = [&](sim::ProcessID pid) { return world.statusItemsOf(pid).front()->window; };
    const auto* a = world.statusItemsOf(appA).front();
    struct Case {
        const char* name;
        std::int64_t pidField, field51, field91;
        cg::Point at;
        std::optional<sim::ProcessID> expected;
    };
    const std::vector<Case> cases = {
        {"pid field wins", appB, windowOf(appA), windowOf(appA), {150, 150}, appB},
        {"window field 51", 0, windowOf(appB), windowOf(appA), {150, 150}, appB},
        {"then 91", 0, 0, windowOf(appA), {150, 150}, appA},
        {"unknown window numbers fall through", 0, 999999, 999998, {150, 150}, appW},
        {"hit test on a window", 0, 0, 0, {150, 150}, appW},
        {"hit test on a status item", 0, 0, 0, {a->frame.midX(), a->frame.midY()}, appA},
        {"nothing under the pointer", 0, 0, 0, {700, 500}, std::nullopt},
    };
    for (const auto& c : cases) {
        auto e = mouse(T::mouseMoved, c.at, c.pidField);
        cg::eventSetIntegerValueField(e, static_cast<cg::EventField>(51), c.field51);
        cg::eventSetIntegerValueField(e, cg::EventField::mouseEventWindowUnderMousePointer, c.field91);
        cg::eventPost(L::session, e);
        loop.runUntilIdle();
        if (c.expected) {
            EXPECT_EQ(lastRoute().outcome, Outcome::delivered) << c.name;
            EXPECT_EQ(lastRoute().pid, *c.expected) << c.name;
        } else {
            EXPECT_EQ(lastRoute().outcome, Outcome::noTarget) << c.name;
        }
    }
}

TEST_F(EventRoutingTest, ADragAndItsReleaseGoToTheProcessThatTookThePress) {
    const auto* a = world.statusItemsOf(appA).front();
    events().injectUserMouse(T::leftMouseDown, {a->frame.midX(), a->frame.midY()});
    events().injectUserMouse(T::leftMouseDragged, {150, 150});
    events().injectUserMouse(T::leftMouseUp, {150, 150});
    events().injectUserMouse(T::mouseMoved, {150, 150});
    loop.runUntilIdle();
    auto d = events().deliveries();
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0].pid, appA);
    EXPECT_EQ(d[1].pid, appA);
    EXPECT_EQ(d[2].pid, appA);
    EXPECT_EQ(d[3].pid, appW) << "after the release the hit test decides again";
}

TEST_F(EventRoutingTest, ACallbackRunsOnlyWhileItsSourceIsOnTheMainRunLoopAndTheTapIsEnabled) {
    TapProbe probe{"probe"};
    auto port = cg::eventTapCreate(L::session, cg::EventTapPlacement::tailAppend, cg::EventTapOptions::listenOnly,
                                   ~0ull, &TapProbe::callback, &probe);
    ASSERT_TRUE(port);
    EXPECT_TRUE(cg::eventTapIsEnabled(port)) << "a new tap is enabled";
    auto source = cf::machPortCreateRunLoopSource(cf::allocatorDefault, port, 0);
    auto postOne = [&] {
        cg::eventPost(L::session, mouse(T::mouseMoved, {5, 5}, appA));
        loop.runUntilIdle();
        return probe.seen.size();
    };
    EXPECT_EQ(postOne(), 0u) << "no source on the run loop";
    cf::runLoopAddSource(cf::runLoopGetMain(), source, "someOtherMode");
    EXPECT_EQ(postOne(), 0u) << "the main loop does not run in that mode";
    cf::runLoopAddSource(cf::runLoopGetMain(), source, cf::runLoopCommonModes);
    EXPECT_EQ(postOne(), 1u);
    cg::eventTapEnable(port, false);
    EXPECT_EQ(postOne(), 1u);
    cg::eventTapEnable(port, true);
    EXPECT_EQ(postOne(), 2u);
    cf::runLoopRemoveSource(cf::runLoopGetMain(), source, cf::runLoopCommonModes);
    EXPECT_EQ(postOne(), 2u);
    cf::runLoopAddSource(cf::runLoopGetMain(), source, cf::runLoopDefaultMode);
    EXPECT_EQ(postOne(), 3u);
    cf::machPortInvalidate(port);
    EXPECT_EQ(postOne(), 3u);
    EXPECT_FALSE(cg::eventTapIsEnabled(port));
    EXPECT_FALSE(cf::runLoopContainsSource(cf::runLoopGetMain(), source, cf::runLoopDefaultMode))
        << "an invalidated port's sources leave the run loop";
    EXPECT_EQ(events().liveTapCount(), 0u);
}

TEST_F(EventRoutingTest, ReleasingTheLastReferenceToAPortRemovesItsTap) {
    TapProbe probe{"probe"};
    auto port = cg::eventTapCreate(L::session, cg::EventTapPlacement::tailAppend, cg::EventTapOptions::listenOnly,
                                   ~0ull, &TapProbe::callback, &probe);
    EXPECT_EQ(events().liveTapCount(), 1u);
    port.reset();
    EXPECT_EQ(events().liveTapCount(), 0u);
}

TEST_F(EventRoutingTest, TapCreationIsRefusedWithoutTrustByTheFaultSwitchOrWithoutACallback) {
    TapProbe probe;
    auto make = [&](cg::EventTapCallBack cb) {
        return cg::eventTapCreate(L::session, cg::EventTapPlacement::headInsert, cg::EventTapOptions::defaultTap, ~0ull,
                                  cb, &probe);
    };
    auto makeForPid = [&] {
        return cg::eventTapCreateForPid(appA, cg::EventTapPlacement::tailAppend, cg::EventTapOptions::listenOnly, ~0ull,
                                        &TapProbe::callback, &probe);
    };
    EXPECT_FALSE(make(nullptr));
    world.permissions().accessibility = false;
    EXPECT_FALSE(make(&TapProbe::callback));
    EXPECT_FALSE(makeForPid());
    world.permissions().accessibility = true;
    world.faults().eventTapCreationFails = true;
    EXPECT_FALSE(make(&TapProbe::callback));
    EXPECT_FALSE(makeForPid());
    world.faults().eventTapCreationFails = false;
    EXPECT_TRUE(make(&TapProbe::callback));
    EXPECT_TRUE(makeForPid());
}

TEST_F(EventRoutingTest, CallbacksMayPostCreateDisableAndInvalidateTaps) {
    // A session tap that, on the first event, creates a process tap, posts a second event and
    // switches itself off.
    TapProbe created{"created", &log};
    testing_support::LiveTap createdTap;
    testing_support::LiveTap self;
    TapProbe creator{"creator", &log, [&](T, const cg::EventRef& e) {
                         if (!createdTap.valid()) {
                             createdTap = tapOn(appA, created);
                             cg::eventPost(L::session, mouse(T::leftMouseUp, {5, 5}, appA));
                             cg::eventTapEnable(self.port, false);
                         }
                         return e;
                     }};
    self = tapAt(L::session, creator);
    cg::eventPost(L::session, mouse(T::leftMouseDown, {5, 5}, appA));
    loop.runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"creator", "created", "created"}))
        << "the new tap sees the event still on its way and the one posted from the callback";
    EXPECT_EQ(created.types, (std::vector<T>{T::leftMouseDown, T::leftMouseUp}));
    EXPECT_FALSE(cg::eventTapIsEnabled(self.port));
    EXPECT_EQ(events().deliveries(appA).size(), 2u);

    // A callback that invalidates its own tap and drops the last reference to it.
    TapProbe suicidal{"suicidal", &log};
    auto own = tapAt(L::session, suicidal);
    suicidal.action = [&](T, const cg::EventRef& e) {
        cf::machPortInvalidate(own.port);
        own = {};
        return e;
    };
    log.clear();
    cg::eventPost(L::session, mouse(T::leftMouseDown, {5, 5}, appA));
    cg::eventPost(L::session, mouse(T::leftMouseUp, {5, 5}, appA));
    loop.runUntilIdle();
    EXPECT_EQ(std::count(log.begin(), log.end(), "suicidal"), 1);
}

TEST_F(EventRoutingTest, TheDisabledNotificationsReachTheCallbackWithTheirRawTypes) {
    for (auto reason : {T::tapDisabledByTimeout, T::tapDisabledByUserInput}) {
        TapProbe probe{"probe"};
        auto tap = tapAt(L::hid, probe, cg::eventMaskBit(T::leftMouseDown));
        ASSERT_TRUE(events().disableTap(tap.port, reason));
        EXPECT_FALSE(cg::eventTapIsEnabled(tap.port)) << "off at once";
        EXPECT_TRUE(probe.types.empty()) << "told in a later job";
        loop.runUntilIdle();
        ASSERT_EQ(probe.types.size(), 1u);
        EXPECT_EQ(probe.types[0], reason);
        EXPECT_EQ(cg::rawValue(reason), reason == T::tapDisabledByTimeout ? 4294967294u : 4294967295u);
        tap.remove();
        EXPECT_FALSE(events().disableTap(tap.port, reason));
    }
}

TEST_F(EventRoutingTest, ACallbackThatTakesTooLongGetsItsTapSwitchedOffByTimeOut) {
    TapProbe slow{"slow", nullptr, [](T, const cg::EventRef& e) {
                      runtime::EventLoop::current().clock().consume(1500ms);
                      return e;
                  }};
    auto tap = tapAt(L::session, slow, cg::eventMaskBit(T::leftMouseDown));
    cg::eventPost(L::session, mouse(T::leftMouseDown, {5, 5}, appA));
    loop.runUntilIdle();
    EXPECT_EQ(slow.types, (std::vector<T>{T::leftMouseDown, T::tapDisabledByTimeout}));
    EXPECT_FALSE(cg::eventTapIsEnabled(tap.port));
}

TEST_F(EventRoutingTest, MouseEventsPostedIntoTheStreamMoveThePointerAndStayOnTheScreens) {
    EXPECT_EQ(events().pointerLocation(), (cg::Point{400, 300})) << "starts in the middle of the primary screen";
    EXPECT_EQ(cg::eventGetLocation(cg::eventCreate(nullptr)), (cg::Point{400, 300}));
    cg::eventPost(L::hid, mouse(T::mouseMoved, {10, 20}));
    loop.runUntilIdle();
    EXPECT_EQ(events().pointerLocation(), (cg::Point{10, 20}));
    cg::eventPost(L::session, mouse(T::leftMouseDown, {20000, 20000}, appA));
    loop.runUntilIdle();
    EXPECT_EQ(events().pointerLocation(), (cg::Point{799, 599}));
    cg::eventPostToPid(appA, mouse(T::leftMouseDown, {30, 30}));
    cg::eventPost(L::session, cg::eventCreate(nullptr));
    loop.runUntilIdle();
    EXPECT_EQ(events().pointerLocation(), (cg::Point{799, 599})) << "process posts and null events do not move it";
    EXPECT_EQ(cg::warpMouseCursorPosition({-50, 100}), cg::errorSuccess);
    EXPECT_EQ(events().pointerLocation(), (cg::Point{0, 100}));
}

TEST_F(EventRoutingTest, TheUsersMouseFreezesAfterAWarpUntilReassociatedAndNotAtAllWhileDissociated) {
    cg::warpMouseCursorPosition({50, 50});
    events().injectUserMouse(T::mouseMoved, {60, 60});
    loop.runUntilIdle();
    EXPECT_EQ(events().pointerLocation(), (cg::Point{50, 50}));
    EXPECT_EQ(cg::eventGetLocation(lastRoute().event), (cg::Point{50, 50})) << "the event happens where the pointer is";
    cg::associateMouseAndMouseCursorPosition(true);
    events().injectUserMouse(T::mouseMoved, {60, 60});
    loop.runUntilIdle();
    EXPECT_EQ(events().pointerLocation(), (cg::Point{60, 60}));

    cg::associateMouseAndMouseCursorPosition(false);
    events().injectUserMouse(T::mouseMoved, {70, 70});
    loop.advance(1s);
    EXPECT_EQ(events().pointerLocation(), (cg::Point{60, 60}));
    cg::associateMouseAndMouseCursorPosition(true);

    // Without reassociation the freeze lasts a quarter of a second.
    cg::warpMouseCursorPosition({50, 50});
    loop.advance(300ms);
    events().injectUserMouse(T::mouseMoved, {80, 80});
    loop.runUntilIdle();
    EXPECT_EQ(events().pointerLocation(), (cg::Point{80, 80}));
}

TEST_F(EventRoutingTest, TheCursorHidesAndShowsByCount) {
    EXPECT_TRUE(ns::Cursor::isVisible());
    ns::Cursor::unhide();
    EXPECT_EQ(events().cursorHideCount(), 0) << "an unhide without a hide does nothing";
    ns::Cursor::hide();
    ns::Cursor::hide();
    EXPECT_FALSE(ns::Cursor::isVisible());
    ns::Cursor::unhide();
    EXPECT_FALSE(ns::Cursor::isVisible());
    ns::Cursor::unhide();
    EXPECT_TRUE(ns::Cursor::isVisible());
}

TEST_F(EventRoutingTest, PostedEventsHoldBackTheUsersInputUnlessTheirSourcePermitsIt) {
    auto postFrom = [&](const cg::EventSourceRef& source) {
        auto e = cg::eventCreateMouseEvent(source, T::leftMouseDown, {5, 5}, cg::MouseButton::left);
        cg::eventSetIntegerValueField(e, cg::EventField::eventTargetUnixProcessID, appA);
        cg::eventPost(L::session, e);
        auto up = e->copy();
        cg::eventSetType(up, T::leftMouseUp);
        cg::eventPost(L::session, up);
        events().injectUserMouse(T::mouseMoved, {150, 150});
        loop.runUntilIdle();
        return lastRoute().outcome;
    };
    auto plain = cg::eventSourceCreate(cg::EventSourceStateID::hidSystemState);
    EXPECT_EQ(postFrom(plain), Outcome::suppressed);
    loop.advance(300ms);
    events().injectUserMouse(T::mouseMoved, {150, 150});
    loop.runUntilIdle();
    EXPECT_EQ(lastRoute().outcome, Outcome::delivered) << "the interval is a quarter of a second by default";

    auto permissive = cg::eventSourceCreate(cg::EventSourceStateID::hidSystemState);
    cg::eventSourceSetLocalEventsFilterDuringSuppressionState(permissive, cg::eventFilterMaskPermitAllEvents,
                                                              cg::EventSuppressionState::remoteMouseDrag);
    cg::eventSourceSetLocalEventsFilterDuringSuppressionState(permissive, cg::eventFilterMaskPermitAllEvents,
                                                              cg::EventSuppressionState::suppressionInterval);
    EXPECT_EQ(postFrom(permissive), Outcome::delivered);
    auto noInterval = cg::eventSourceCreate(cg::EventSourceStateID::hidSystemState);
    cg::eventSourceSetLocalEventsSuppressionInterval(noInterval, 0.0);
    EXPECT_EQ(postFrom(noInterval), Outcome::delivered);
    EXPECT_EQ(postFrom(nullptr), Outcome::delivered) << "events without a source hold nothing back";

    // While a posted button is down, the remote-drag filter applies.
    auto e = cg::eventCreateMouseEvent(noInterval, T::leftMouseDown, {5, 5}, cg::MouseButton::left);
    cg::eventPost(L::session, e);
    loop.advance(1s);
    events().injectUserMouse(T::mouseMoved, {150, 150});
    loop.runUntilIdle();
    EXPECT_EQ(lastRoute().outcome, Outcome::suppressed);
}

TEST_F(EventRoutingTest, WithoutAccessibilityPostedEventsGoNowhereButTheUsersInputStillDoes) {
    TapProbe session{"session", &log}, process{"pid", &log};
    auto t1 = tapAt(L::session, session);
    auto t2 = tapOn(appA, process);
    world.permissions().accessibility = false;
    cg::eventPost(L::session, mouse(T::leftMouseDown, {5, 5}, appA));
    cg::eventPost(L::hid, mouse(T::leftMouseUp, {5, 5}, appA));
    cg::eventPostToPid(appA, mouse(T::leftMouseDown, {5, 5}));
    loop.runUntilIdle();
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(events().routes().empty());

    events().injectUserMouse(T::leftMouseDown, {150, 150});
    loop.runUntilIdle();
    EXPECT_EQ(log, std::vector<std::string>{"session"});
    ASSERT_EQ(events().deliveries().size(), 1u);
    EXPECT_EQ(lastRoute().pid, appW);

    world.permissions().accessibility = true;
    cg::eventPostToPid(appA, mouse(T::leftMouseUp, {5, 5}));
    loop.runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"session", "pid"}));
}
