#include "EngineScene.hpp"
#include "Interaction/ResumeGuard.hpp"
#include "Interaction/TransientTap.hpp"
#include "macos/CoreGraphics/EventSource.hpp"

#include <set>

using namespace std::chrono_literals;
using stashbay::ItemEventError;
using stashbay::ItemEventFailure;
using stashbay::MenuBarController;
using stashbay::TapPoint;
using T = cg::EventType;
using F = cg::EventField;

namespace {

constexpr sim::ProcessID anchor = 10;

std::int64_t tagOf(const cg::EventRef& e) { return cg::eventGetIntegerValueField(e, F::eventSourceUserData); }

// What a delivery ended in: "success" or the error's text.
runtime::Task<std::string> outcome(runtime::Task<void> delivery) {
    try {
        co_await delivery;
    } catch (const ItemEventFailure& failure) {
        co_return std::string(failure.what());
    }
    co_return std::string("success");
}

// Another application's active tap at the head of the session: it swallows every event of one
// type and keeps it, to let a copy go on later.
struct Swallower {
    std::vector<cg::EventRef> kept;
    cf::MachPortRef port;
    cf::RunLoopSourceRef source;

    static cg::EventRef callback(cg::EventTapProxy, cg::EventType, const cg::EventRef& event, void* info) {
        static_cast<Swallower*>(info)->kept.push_back(event);
        return nullptr;
    }
    void install(T type) {
        port = cg::eventTapCreate(cg::EventTapLocation::session, cg::EventTapPlacement::headInsert,
                                  cg::EventTapOptions::defaultTap, cg::eventMaskBit(type), &Swallower::callback, this);
        source = cf::machPortCreateRunLoopSource(cf::allocatorDefault, port, 0);
        cf::runLoopAddSource(cf::runLoopGetMain(), source, cf::runLoopCommonModes);
    }
    void remove() { cf::machPortInvalidate(port); }
};

class DeliveryTest : public EngineTest {
public:
    cg::EventRef clickOn(const sim::StatusItem& item, T type, bool isClick = true) {
        auto source = cg::eventSourceCreate(cg::EventSourceStateID::hidSystemState);
        return MenuBarController::makeItemEvent(type, cg::MouseButton::left, 0, {item.frame.midX(), item.frame.midY()},
                                                item.window, item.owner, source, isClick);
    }
};

}  // namespace

TEST_F(DeliveryTest, AnItemEventIsAimedAtItsWindowAndProcessAndCarriesAFreshTag) {
    const auto& bell = byTitle("Bell");
    std::set<std::int64_t> tags;
    for (bool isClick : {false, true}) {
        auto e = MenuBarController::makeItemEvent(T::leftMouseDown, cg::MouseButton::left, cg::eventFlagMaskCommand,
                                                  {20000, 20000}, bell.window, bell.owner, nullptr, isClick);
        ASSERT_TRUE(e);
        EXPECT_EQ(cg::eventGetFlags(e), cg::eventFlagMaskCommand);
        EXPECT_EQ(cg::eventGetLocation(e), (cg::Point{20000, 20000}));
        EXPECT_EQ(cg::eventGetIntegerValueField(e, F::eventTargetUnixProcessID), bell.owner);
        for (auto field :
             {F::mouseEventWindowUnderMousePointer, F::mouseEventWindowUnderMousePointerThatCanHandleThisEvent,
              MenuBarController::windowIDField})
            EXPECT_EQ(cg::eventGetIntegerValueField(e, field), bell.window);
        EXPECT_EQ(cg::eventGetIntegerValueField(e, F::mouseEventClickState), isClick ? 1 : 0)
            << "without the click flag the created value stays";
        EXPECT_NE(tagOf(e), 0);
        tags.insert(tagOf(e));
    }
    EXPECT_EQ(tags.size(), 2u);
    world.faults().eventCreationFails = true;
    EXPECT_FALSE(MenuBarController::makeItemEvent(T::leftMouseUp, cg::MouseButton::left, 0, {}, 1, 1, nullptr, false));
}

TEST_F(DeliveryTest, PermittingAllEventsLetsTheUsersInputThroughAtOnce) {
    auto source = cg::eventSourceCreate(cg::EventSourceStateID::hidSystemState);
    MenuBarController::permitAllEvents(source);
    using S = cg::EventSuppressionState;
    EXPECT_EQ(cg::eventSourceGetLocalEventsFilterDuringSuppressionState(source, S::remoteMouseDrag), 7u);
    EXPECT_EQ(cg::eventSourceGetLocalEventsFilterDuringSuppressionState(source, S::suppressionInterval), 7u);
    EXPECT_EQ(cg::eventSourceGetLocalEventsSuppressionInterval(source), 0.0);
}

TEST_F(DeliveryTest, AConfirmedPostContinuesAtOnceAndLeavesNoTapBehind) {
    const auto& anchorItem = byTitle("Anchor");
    const auto start = loop.now();
    EXPECT_EQ(run(outcome(engine().postAndConfirm(clickOn(anchorItem, T::leftMouseDown), TapPoint::session()))),
              "success");
    EXPECT_EQ(run(outcome(engine().postAndConfirm(clickOn(anchorItem, T::leftMouseUp), TapPoint::session()))),
              "success");
    EXPECT_LT(loop.now() - start, 50ms);
    EXPECT_EQ(world.events().liveTapCount(), 0u);
    EXPECT_EQ(cf::runLoopGetMain()->sourceCount(), 0u);
    settle();
    EXPECT_EQ(world.openMenuItem(), anchorItem.id) << "the click reached the application";
    EXPECT_EQ(delivered(anchor, T::leftMouseDown), 1u);
}

TEST_F(DeliveryTest, AFailedDeliveryEndsInItsErrorWithTheTapsGone) {
    struct Case {
        const char* name;
        std::function<void(DeliveryTest&, Swallower&)> arrange;
        const char* expected;
        runtime::Duration after;
        bool posted;
    };
    const std::vector<Case> cases = {
        {"another tap swallows the event", [](DeliveryTest&, Swallower& s) { s.install(T::leftMouseDown); },
         "deliveryTimeout", 50ms, true},
        {"the tap is refused", [](DeliveryTest& t, Swallower&) { t.world.faults().eventTapCreationFails = true; },
         "tapCreationFailed", 0ms, false},
        {"no Accessibility", [](DeliveryTest& t, Swallower&) { t.world.permissions().accessibility = false; },
         "tapCreationFailed", 0ms, false},
    };
    for (const auto& c : cases) {
        world.faults() = {};
        world.permissions().accessibility = true;
        Swallower swallower;
        c.arrange(*this, swallower);
        const auto routesBefore = world.events().routes().size();
        const auto start = loop.now();
        EXPECT_EQ(
            run(outcome(engine().postAndConfirm(clickOn(byTitle("Anchor"), T::leftMouseDown), TapPoint::session()))),
            c.expected)
            << c.name;
        EXPECT_EQ(loop.now() - start, c.after) << c.name;
        EXPECT_EQ(world.events().routes().size() > routesBefore, c.posted) << c.name;
        if (swallower.port) swallower.remove();
        EXPECT_EQ(world.events().liveTapCount(), 0u) << c.name;
        EXPECT_EQ(cf::runLoopGetMain()->sourceCount(), 0u) << c.name;
        settle();
    }
}

TEST_F(DeliveryTest, ALateCopyOfAnEarlierEventConfirmsNothing) {
    // The first click is held up by another tap and times out. Its copy goes on while the next
    // click waits for its own confirmation: the copy carries the first tag, which confirms
    // nothing, however the events were allocated.
    Swallower swallower;
    swallower.install(T::leftMouseDown);
    const auto& anchorItem = byTitle("Anchor");
    auto first = clickOn(anchorItem, T::leftMouseDown);
    EXPECT_EQ(run(outcome(engine().postAndConfirm(first, TapPoint::session()))), "deliveryTimeout");
    ASSERT_EQ(swallower.kept.size(), 1u);
    auto lateCopy = swallower.kept.front();
    swallower.kept.clear();

    auto second = clickOn(anchorItem, T::leftMouseDown);
    EXPECT_NE(tagOf(second), tagOf(first));
    auto handle =
        runtime::spawn(runtime::mainExecutor(), outcome(engine().postAndConfirm(second, TapPoint::session())));
    loop.runUntilIdle();
    swallower.remove();
    cg::eventPost(cg::EventTapLocation::session, lateCopy);
    loop.advance(50ms);
    ASSERT_TRUE(handle.isFinished());
    EXPECT_EQ(handle.result(), "deliveryTimeout");
    EXPECT_EQ(delivered(anchor, T::leftMouseDown), 1u) << "the late copy did arrive";
    settle();
}

TEST_F(DeliveryTest, ARelayWaitsForTheProcessToReadItsQueueAndDropsOnlyItsSentinel) {
    world.behaviour(anchor).hung = true;
    auto down = clickOn(byTitle("Anchor"), T::leftMouseDown, false);
    auto handle = runtime::spawn(runtime::mainExecutor(), outcome(engine().relayEvent(down, anchor)));
    loop.runUntilIdle();
    EXPECT_FALSE(handle.isFinished()) << "the sentinel waits in the hung application's queue";

    // Events of the watched types with other tags pass both taps unchanged.
    auto otherNull = cg::eventCreate(nullptr);
    cg::eventSetIntegerValueField(otherNull, F::eventTargetUnixProcessID, anchor);
    cg::eventSetIntegerValueField(otherNull, F::eventSourceUserData, 999999);
    cg::eventPost(cg::EventTapLocation::session, otherNull);
    loop.advance(20ms);
    EXPECT_EQ(delivered(anchor, T::null), 1u);
    EXPECT_EQ(delivered(anchor, T::leftMouseDown), 0u);

    // It answers again: the next delivery makes it read its queue, and the relay goes through.
    world.behaviour(anchor).hung = false;
    cg::eventPostToPid(anchor, otherNull);
    loop.runUntilIdle();
    ASSERT_TRUE(handle.isFinished());
    EXPECT_EQ(handle.result(), "success");
    EXPECT_EQ(delivered(anchor, T::leftMouseDown), 2u) << "once through the session, once straight";
    EXPECT_EQ(delivered(anchor, T::null), 2u) << "the unrelated events, never the sentinel";
    std::size_t dropped = 0;
    for (const auto& r : world.events().routes())
        if (r.outcome == sim::EventRoute::Outcome::dropped) ++dropped;
    EXPECT_EQ(dropped, 1u);
    EXPECT_EQ(world.events().liveTapCount(), 0u);
    settle();
}

TEST_F(DeliveryTest, ARelayToAHungApplicationTimesOutAndARefusedTapSendsNothing) {
    world.behaviour(anchor).hung = true;
    const auto start = loop.now();
    EXPECT_EQ(run(outcome(engine().relayEvent(clickOn(byTitle("Anchor"), T::leftMouseDown), anchor))),
              "deliveryTimeout");
    EXPECT_EQ(loop.now() - start, 50ms);
    EXPECT_EQ(world.events().liveTapCount(), 0u);

    world.behaviour(anchor).hung = false;
    const auto routes = world.events().routes().size();
    world.faults().eventTapCreationFails = true;
    EXPECT_EQ(run(outcome(engine().relayEvent(clickOn(byTitle("Anchor"), T::leftMouseDown), anchor))),
              "tapCreationFailed");
    world.faults() = {};
    world.faults().eventCreationFails = true;
    EXPECT_EQ(run(outcome(engine().relayEvent(cg::EventRef{}, anchor))), "eventCreationFailed");
    settle();
    EXPECT_EQ(world.events().routes().size(), routes);
}

namespace {

runtime::Task<std::string> waitOnGuard(std::shared_ptr<stashbay::ResumeGuard>* out) {
    auto suspension = runtime::withContinuation<void>(
        [out](runtime::Continuation<void> c) { *out = std::make_shared<stashbay::ResumeGuard>(std::move(c)); });
    try {
        co_await suspension;
    } catch (const ItemEventFailure& failure) {
        co_return std::string(failure.what());
    }
    co_return std::string("success");
}

}  // namespace

TEST_F(DeliveryTest, AGuardResumesOnceAndRunsItsCleanUpOnce) {
    for (auto first : {std::optional<ItemEventError>{}, std::optional(ItemEventError::deliveryTimeout)}) {
        std::shared_ptr<stashbay::ResumeGuard> guard;
        auto handle = runtime::spawn(runtime::mainExecutor(), waitOnGuard(&guard));
        loop.runUntilIdle();
        ASSERT_TRUE(guard);
        int cleanUps = 0;
        guard->onResume = [&] { ++cleanUps; };
        guard->resume(first);
        guard->resume();
        guard->resume(ItemEventError::tapCreationFailed);
        loop.runUntilIdle();
        EXPECT_EQ(cleanUps, 1);
        EXPECT_EQ(handle.result(), first ? "deliveryTimeout" : "success");
    }
}

TEST_F(DeliveryTest, ATransientTapSeesNothingUntilEnabledAndIsGoneAfterOneDisable) {
    std::vector<T> seen;
    auto make = [&] {
        return stashbay::TransientTap::make(TapPoint::session(), true, {T::leftMouseDown}, [&](const cg::EventRef& e) {
            seen.push_back(cg::eventGetType(e));
            return e;
        });
    };
    auto postDown = [&] {
        cg::eventPost(cg::EventTapLocation::session, clickOn(byTitle("Bell"), T::leftMouseDown));
        cg::eventPost(cg::EventTapLocation::session, clickOn(byTitle("Bell"), T::leftMouseUp));
        loop.runUntilIdle();
    };
    auto tap = make();
    ASSERT_TRUE(tap);
    postDown();
    EXPECT_TRUE(seen.empty()) << "not on the run loop yet";
    tap->enable();
    postDown();
    EXPECT_EQ(seen, std::vector<T>{T::leftMouseDown});
    auto port = tap->machPort;
    std::weak_ptr<stashbay::TransientTap::Context> context = tap->context;
    tap->disable();
    EXPECT_FALSE(cf::machPortIsValid(port));
    EXPECT_TRUE(context.expired());
    EXPECT_FALSE(tap->machPort || tap->runLoopSource || tap->context);
    tap->disable();
    tap->enable();
    postDown();
    EXPECT_EQ(seen.size(), 1u);

    // Never enabled: disabling still invalidates the port and releases the context.
    auto idle = make();
    port = idle->machPort;
    context = idle->context;
    idle->disable();
    EXPECT_FALSE(cf::machPortIsValid(port));
    EXPECT_TRUE(context.expired());
    EXPECT_EQ(world.events().liveTapCount(), 0u);
}
