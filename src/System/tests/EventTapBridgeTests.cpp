#include "System/EventTapBridge.hpp"
#include "macos/CoreFoundation/RunLoop.hpp"
#include "macos/CoreGraphics/Event.hpp"
#include "macos/CoreGraphics/EventTap.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Task.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using stashbay::EventTapBridge;
using L = cg::EventTapLocation;
using T = cg::EventType;
using Stream = EventTapBridge::EventStream;

namespace {

constexpr cg::EventMask dragMask = 0x46;
constexpr const char* category = "eventTap";

// Reads up to `limit` events, or until the stream ends.
runtime::Task<std::vector<cg::EventRef>> read(Stream* stream, std::size_t limit) {
    std::vector<cg::EventRef> out;
    while (out.size() < limit) {
        auto reading = stream->next();
        auto next = co_await reading;
        if (!next) break;
        out.push_back(std::move(*next));
    }
    co_return out;
}

std::vector<double> xsOf(const std::vector<cg::EventRef>& events) {
    std::vector<double> out;
    for (const auto& e : events) out.push_back(cg::eventGetLocation(e).x);
    return out;
}

std::vector<double> range(int from, int to) {
    std::vector<double> out;
    for (int i = from; i <= to; ++i) out.push_back(i);
    return out;
}

class EventTapBridgeTest : public ::testing::Test {
protected:
    EventTapBridgeTest() { os::LogStore::shared().setEchoToStderr(false); }

    // The user's mouse at x, in the strip below the menu bar where no window is.
    void userDrag(int x, T type = T::leftMouseDragged) { world.events().injectUserMouse(type, {double(x), 500}); }
    std::vector<cg::EventRef> readAll(Stream& stream, std::size_t limit = 1000) {
        return loop.run(read(&stream, limit));
    }

    runtime::ManualLoop loop;
    sim::World world;
    os::LogCapture logs;
};

}  // namespace

TEST_F(EventTapBridgeTest, UserMouseEventsStreamThroughTheTapAcrossADisabledNotificationAndTheNewest64AreKept) {
    auto installed = EventTapBridge::install(dragMask, L::hid);
    ASSERT_TRUE(installed);
    auto& [handle, stream] = *installed;
    EXPECT_TRUE(logs.contains(category, os::LogLevel::info, "Event tap installed successfully."));
    EXPECT_TRUE(cg::eventTapIsEnabled(handle.machPort));
    EXPECT_TRUE(cf::runLoopContainsSource(cf::runLoopGetMain(), handle.runLoopSource, cf::runLoopCommonModes));

    userDrag(1, T::leftMouseDown);
    for (int x = 2; x <= 40; ++x) userDrag(x);
    world.events().injectUserMouse(T::mouseMoved, {41, 500});  // not in the mask
    loop.runUntilIdle();

    // The system switches the tap off; an event already on its way arrives while it is off.
    userDrag(1000);
    ASSERT_TRUE(world.events().disableTap(handle.machPort, T::tapDisabledByTimeout));
    EXPECT_FALSE(cg::eventTapIsEnabled(handle.machPort));
    loop.runUntilIdle();
    EXPECT_TRUE(cg::eventTapIsEnabled(handle.machPort)) << "the callback switched it on again";
    EXPECT_EQ(logs.count(category, "Event tap disabled by system (type=4294967294). Re-enabling."), 1u);

    for (int x = 41; x <= 79; ++x) userDrag(x);
    userDrag(80, T::leftMouseUp);
    loop.runUntilIdle();

    auto events = readAll(stream, 64);
    EXPECT_EQ(xsOf(events), range(17, 80)) << "80 events seen, the newest 64 kept, none while off";
    EXPECT_EQ(cg::eventGetType(events.back()), T::leftMouseUp);
    // The tap only watched: every event went on to the desktop, the missed one too.
    EXPECT_EQ(world.events().routes().size(), 82u);
    for (const auto& r : world.events().routes()) EXPECT_NE(r.outcome, sim::EventRoute::Outcome::dropped);
    EventTapBridge::uninstall(std::move(handle));
}

TEST_F(EventTapBridgeTest, EachDisabledNotificationIsLoggedWithItsRawTypeAndNeverStreamed) {
    struct Case {
        T reason;
        // Whether Accessibility is still granted when the notice comes: only then is the tap
        // switched on again, since without it the system would hold the input back once more.
        bool granted;
        const char* text;
    };
    const std::vector<Case> cases = {
        {T::tapDisabledByTimeout, true, "Event tap disabled by system (type=4294967294). Re-enabling."},
        {T::tapDisabledByUserInput, true, "Event tap disabled by system (type=4294967295). Re-enabling."},
        {T::tapDisabledByTimeout, false,
         "Event tap disabled by system (type=4294967294). Accessibility permission is missing; leaving it disabled."},
        {T::tapDisabledByUserInput, false,
         "Event tap disabled by system (type=4294967295). Accessibility permission is missing; leaving it disabled."},
    };
    for (const auto& c : cases) {
        logs.clear();
        world.permissions().accessibility = true;
        auto installed = EventTapBridge::install(dragMask, L::hid);
        ASSERT_TRUE(installed);
        auto& [handle, stream] = *installed;
        world.permissions().accessibility = c.granted;
        world.events().disableTap(handle.machPort, c.reason);
        loop.runUntilIdle();
        EXPECT_EQ(logs.texts(category, os::LogLevel::error), std::vector<std::string>{c.text});
        EXPECT_EQ(cg::eventTapIsEnabled(handle.machPort), c.granted) << c.text;
        EventTapBridge::uninstall(std::move(handle));
        EXPECT_TRUE(readAll(stream).empty()) << c.text;
    }
}

TEST_F(EventTapBridgeTest, TheCallbackReturnsWhatItWasHandedAndStreamsASeparateCopy) {
    auto event = cg::eventCreateMouseEvent(nullptr, T::leftMouseDown, {3, 4}, cg::MouseButton::left);
    EXPECT_EQ(EventTapBridge::tapCallback({}, T::leftMouseDown, event, nullptr), event)
        << "without user information the event just passes";
    EXPECT_EQ(EventTapBridge::tapCallback({}, T::tapDisabledByTimeout, event, nullptr), event);
    EXPECT_TRUE(logs.records(category).empty());

    auto installed = EventTapBridge::install(dragMask, L::hid);
    ASSERT_TRUE(installed);
    auto& [handle, stream] = *installed;
    EXPECT_EQ(EventTapBridge::tapCallback({}, T::leftMouseDown, event, handle.context.get()), event);
    world.faults().eventCopyFails = true;
    EXPECT_EQ(EventTapBridge::tapCallback({}, T::leftMouseDown, event, handle.context.get()), event)
        << "an event that cannot be copied still passes";
    world.faults().eventCopyFails = false;
    EventTapBridge::uninstall(std::move(handle));
    auto events = readAll(stream);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0], event);
    EXPECT_EQ(cg::eventGetLocation(events[0]), (cg::Point{3, 4}));
    EXPECT_EQ(cg::eventGetType(events[0]), T::leftMouseDown);
}

TEST_F(EventTapBridgeTest, AfterUninstallTheConsumerDrainsWhatWasBufferedThenEnds) {
    auto installed = EventTapBridge::install(dragMask, L::hid);
    ASSERT_TRUE(installed);
    auto& [handle, stream] = *installed;
    for (int x = 1; x <= 65; ++x) userDrag(x);
    loop.runUntilIdle();
    auto port = handle.machPort;
    auto source = handle.runLoopSource;
    std::weak_ptr<stashbay::EventTapContext> context = handle.context;
    EventTapBridge::uninstall(std::move(handle));
    EXPECT_EQ(logs.texts(category, os::LogLevel::info),
              (std::vector<std::string>{"Event tap installed successfully.",
                                        "Event tap uninstalled and resources released."}));
    EXPECT_FALSE(cf::machPortIsValid(port));
    EXPECT_FALSE(cf::runLoopContainsSource(cf::runLoopGetMain(), source, cf::runLoopCommonModes));
    EXPECT_TRUE(context.expired()) << "the context is freed once nothing refers to it";
    EXPECT_EQ(world.events().liveTapCount(), 0u);

    userDrag(100);
    loop.runUntilIdle();
    EXPECT_EQ(xsOf(readAll(stream)), range(2, 65));
}

TEST_F(EventTapBridgeTest, AFailedInstallWritesOneErrorRecordAndLeavesNothingBehind) {
    struct Case {
        const char* name;
        std::function<void(sim::World&)> arrange;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"no accessibility trust", [](sim::World& w) { w.permissions().accessibility = false; },
         "CGEvent.tapCreate failed. Accessibility permission may not be granted."},
        {"tap refused", [](sim::World& w) { w.faults().eventTapCreationFails = true; },
         "CGEvent.tapCreate failed. Accessibility permission may not be granted."},
        {"no run-loop source", [](sim::World& w) { w.faults().runLoopSourceCreationFails = true; },
         "Failed to create run loop source for event tap."},
    };
    for (const auto& c : cases) {
        world.permissions().accessibility = true;
        world.faults() = sim::Faults{};
        c.arrange(world);
        logs.clear();
        EXPECT_FALSE(EventTapBridge::install(dragMask, L::hid)) << c.name;
        auto records = logs.records(category);
        ASSERT_EQ(records.size(), 1u) << c.name;
        EXPECT_EQ(records[0].level, os::LogLevel::error) << c.name;
        EXPECT_EQ(records[0].text, c.text) << c.name;
        EXPECT_EQ(world.events().liveTapCount(), 0u) << c.name;
        EXPECT_EQ(cf::runLoopGetMain()->sourceCount(), 0u) << c.name;
    }
}

TEST_F(EventTapBridgeTest, SwitchingTheTapOffStopsDeliveriesUntilItIsSwitchedOn) {
    auto installed = EventTapBridge::install(dragMask, L::hid);
    ASSERT_TRUE(installed);
    auto& [handle, stream] = *installed;
    userDrag(1);
    loop.runUntilIdle();
    EventTapBridge::setEnabled(handle, false);
    userDrag(2);
    loop.runUntilIdle();
    EventTapBridge::setEnabled(handle, true);
    userDrag(3);
    loop.runUntilIdle();
    EXPECT_EQ(logs.texts(category, os::LogLevel::debug),
              (std::vector<std::string>{"Event tap disabled.", "Event tap enabled."}));
    EventTapBridge::uninstall(std::move(handle));
    EXPECT_EQ(xsOf(readAll(stream)), (std::vector<double>{1, 3}));
}

TEST_F(EventTapBridgeTest, SeveralTapsEachHaveTheirOwnStream) {
    auto first = EventTapBridge::install(dragMask, L::hid);
    auto second = EventTapBridge::install(cg::eventMaskBit(T::leftMouseUp), L::session);
    ASSERT_TRUE(first && second);
    userDrag(1, T::leftMouseDown);
    userDrag(2, T::leftMouseUp);
    loop.runUntilIdle();
    EventTapBridge::uninstall(std::move(first->first));
    EventTapBridge::uninstall(std::move(second->first));
    EXPECT_EQ(xsOf(readAll(first->second)), (std::vector<double>{1, 2}));
    EXPECT_EQ(xsOf(readAll(second->second)), (std::vector<double>{2}));
}

namespace {

// A tap ahead of the bridge's that uninstalls the bridge's tap while the same event is routed.
struct Uninstaller {
    std::optional<EventTapBridge::TapHandle> handle;
    static cg::EventRef callback(cg::EventTapProxy, cg::EventType, const cg::EventRef& event, void* info) {
        auto* self = static_cast<Uninstaller*>(info);
        if (self->handle) {
            EventTapBridge::uninstall(std::move(*self->handle));
            self->handle.reset();
        }
        return event;
    }
};

}  // namespace

TEST_F(EventTapBridgeTest, UninstallingFromInsideAnotherTapsCallbackEndsTheStreamAtOnce) {
    auto installed = EventTapBridge::install(dragMask, L::hid);
    ASSERT_TRUE(installed);
    Uninstaller uninstaller;
    uninstaller.handle.emplace(std::move(installed->first));
    auto port = cg::eventTapCreate(L::hid, cg::EventTapPlacement::headInsert, cg::EventTapOptions::listenOnly, ~0ull,
                                   &Uninstaller::callback, &uninstaller);
    auto source = cf::machPortCreateRunLoopSource(cf::allocatorDefault, port, 0);
    cf::runLoopAddSource(cf::runLoopGetMain(), source, cf::runLoopCommonModes);
    userDrag(1);
    userDrag(2);
    loop.runUntilIdle();
    EXPECT_FALSE(uninstaller.handle);
    EXPECT_TRUE(readAll(installed->second).empty());
    EXPECT_EQ(world.events().liveTapCount(), 1u);
}

TEST_F(EventTapBridgeTest, AHandleDroppedWithoutUninstallTakesItsTapAlong) {
    auto installed = EventTapBridge::install(dragMask, L::hid);
    ASSERT_TRUE(installed);
    auto port = installed->first.machPort;
    { auto dropped = std::move(installed->first); }
    EXPECT_FALSE(cf::machPortIsValid(port));
    EXPECT_EQ(world.events().liveTapCount(), 0u);
    userDrag(1);
    loop.runUntilIdle();
    EXPECT_TRUE(readAll(installed->second).empty());
    EXPECT_EQ(logs.count(category, "Event tap uninstalled and resources released."), 0u);
}
