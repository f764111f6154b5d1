#include "Interaction/EventTapManager.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace stashbay;
using T = cg::EventType;

namespace {

MenuBarItem makeItem(const std::string& name, double x, double y, double width, double height) {
    return MenuBarItem(MenuBarItemID(std::string("test.") + name, 0), 1000, std::string("test.") + name, name, name,
                       cg::Point{x, y}, cg::Size{width, height}, 0, true, true, true, nullptr, runtime::Date{});
}

// What the three callbacks saw, in order.
struct Calls {
    std::vector<std::string> log;
    // Weak: the tracker keeps the callbacks, which keep this.
    std::weak_ptr<EventTapManager> reenter;
    std::optional<std::int64_t> indexDuringDrop;
};

std::string pointText(cg::Point p) { return cg::describe(p); }

runtime::Task<void> recordStarted(std::shared_ptr<Calls> calls, MenuBarItem item) {
    calls->log.push_back("started " + item.displayName());
    co_return;
}
runtime::Task<void> recordMoved(std::shared_ptr<Calls> calls, cg::Point p) {
    calls->log.push_back("moved " + pointText(p));
    co_return;
}
runtime::Task<void> recordEnded(std::shared_ptr<Calls> calls, MenuBarItem item, cg::Point p) {
    calls->log.push_back("ended " + item.displayName() + " " + pointText(p));
    if (auto tracker = calls->reenter.lock()) {
        // Back into the tracker while it awaits this very callback, from the main executor.
        co_await runtime::hopTo(runtime::mainExecutor());
        std::vector<MenuBarItem> items{makeItem("R", 200, 0, 20, 20), makeItem("L", 100, 0, 20, 20)};
        auto index = tracker->computeInsertionIndex(p.x, items);
        calls->indexDuringDrop = co_await index;
    }
}

class EventTapManagerTest : public ::testing::Test {
protected:
    void SetUp() override { os::LogStore::shared().setEchoToStderr(false); }

    void setCallbacks() {
        auto c = calls;
        loop.run(tracker->setOnDragStarted([c](MenuBarItem item) { return recordStarted(c, std::move(item)); }));
        loop.run(tracker->setOnDragMoved([c](cg::Point p) { return recordMoved(c, p); }));
        loop.run(
            tracker->setOnDragEnded([c](MenuBarItem item, cg::Point p) { return recordEnded(c, std::move(item), p); }));
    }
    void installWith(std::vector<MenuBarItem> items) {
        loop.run(tracker->install());
        loop.run(tracker->updateMenuBarItems(std::move(items)));
    }
    void user(T type, double x, double y) {
        world->events().injectUserMouse(type, cg::Point{x, y});
        loop.runUntilIdle();
    }
    // The tracked or dragged item's name, "dropped" or "idle".
    std::string state() {
        auto s = loop.run(tracker->dragState());
        if (auto* t = std::get_if<EventTapManager::Tracking>(&s)) return "tracking " + t->item.displayName();
        if (auto* d = std::get_if<EventTapManager::Dragging>(&s)) return "dragging " + d->item.displayName();
        if (std::holds_alternative<EventTapManager::Dropped>(s)) return "dropped";
        return "idle";
    }
    std::vector<std::string> eventTapTexts() { return capture.texts("eventTap"); }

    runtime::ManualLoop loop;
    std::unique_ptr<sim::World> world = std::make_unique<sim::World>();
    os::LogCapture capture;
    std::shared_ptr<EventTapManager> tracker = EventTapManager::create();
    std::shared_ptr<Calls> calls = std::make_shared<Calls>();
};

TEST_F(EventTapManagerTest, InstallsOnceUninstallsAlwaysAndLeavesARefusedTapUninstalled) {
    loop.run(tracker->uninstall());
    EXPECT_EQ(state(), "idle");
    loop.run(tracker->install());
    loop.run(tracker->install());
    EXPECT_TRUE(loop.run(tracker->isInstalled()));
    EXPECT_EQ(world->events().liveTapCount(), 1u);
    loop.run(tracker->uninstall());
    EXPECT_FALSE(loop.run(tracker->isInstalled()));
    EXPECT_EQ(world->events().liveTapCount(), 0u);

    world->permissions().accessibility = false;
    loop.run(tracker->install());
    EXPECT_FALSE(loop.run(tracker->isInstalled()));
    world->permissions().accessibility = true;
    loop.run(tracker->install());
    EXPECT_TRUE(loop.run(tracker->isInstalled()));

    EXPECT_EQ(capture.texts("eventTap"),
              (std::vector<std::string>{
                  "Event tap uninstalled",
                  "Event tap installed successfully.",
                  "Event tap installed successfully",
                  "Event tap already installed",
                  "Event tap uninstalled and resources released.",
                  "Event tap uninstalled",
                  "CGEvent.tapCreate failed. Accessibility permission may not be granted.",
                  "Failed to install event tap \u2014 Accessibility permission may be missing",
                  "Event tap installed successfully.",
                  "Event tap installed successfully",
              }));
    EXPECT_TRUE(capture.contains("eventTap", os::LogLevel::error, "Event tap already installed"));
}

TEST_F(EventTapManagerTest, APressTracksTheFirstItemWhoseBoundsHoldItInsideTheStrip) {
    struct Case {
        const char* what;
        cg::Point press;
        const char* expected;
    };
    // A spans x 100..130, y 10..38.95; B overlaps A's right half and comes later in the list.
    const Case cases[] = {
        {"just inside the strip", {110, 38.9}, "tracking A"},
        {"on the strip's lower edge", {110, 39.0}, "idle"},
        {"where two items overlap", {125, 20}, "tracking A"},
        {"on the left edge", {100, 20}, "tracking A"},
        {"on the top edge", {110, 10}, "tracking A"},
        {"on the right edge of the later item", {150, 20}, "idle"},
        {"in the later item only", {140, 20}, "tracking B"},
        {"beside every item", {300, 20}, "idle"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tracker = EventTapManager::create();
        installWith({makeItem("A", 100, 10, 30, 28.95), makeItem("B", 120, 10, 30, 20)});
        user(T::leftMouseDown, c.press.x, c.press.y);
        EXPECT_EQ(state(), c.expected);
        loop.run(tracker->uninstall());
    }
    EXPECT_TRUE(capture.contains("eventTap", os::LogLevel::debug, "Tracking started on A at (110.000000, 38.900000)"));
}

TEST_F(EventTapManagerTest, APressBecomesADragOnlyBeyondThreeFromWhereItStarted) {
    struct Case {
        cg::Point to;
        const char* expected;
    };
    const Case cases[] = {{{103, 20}, "tracking A"}, {{103, 20.1}, "dragging A"}, {{97, 20}, "tracking A"}};
    for (const auto& c : cases) {
        tracker = EventTapManager::create();
        installWith({makeItem("A", 90, 10, 30, 20)});
        user(T::leftMouseDown, 100, 20);
        user(T::leftMouseDragged, c.to.x, c.to.y);
        EXPECT_EQ(state(), c.expected) << cg::describe(c.to);
        loop.run(tracker->uninstall());
    }
}

TEST_F(EventTapManagerTest, AFullDragReportsStartEveryMoveAndTheDropOfTheItemPressed) {
    setCallbacks();
    installWith({makeItem("A", 100, 0, 30, 24), makeItem("B", 200, 0, 30, 24)});
    user(T::leftMouseDown, 110, 10);
    user(T::leftMouseDragged, 120, 10);
    // A new list during the drag does not change the dragged item.
    loop.run(tracker->updateMenuBarItems({makeItem("C", 100, 0, 30, 24)}));
    user(T::leftMouseDragged, 150, 12);
    user(T::leftMouseDragged, 180, 14);
    user(T::leftMouseUp, 190, 15);
    EXPECT_EQ(calls->log, (std::vector<std::string>{"started A", "moved (150.0, 12.0)", "moved (180.0, 14.0)",
                                                    "ended A (190.0, 15.0)"}));
    EXPECT_EQ(state(), "idle");
    EXPECT_TRUE(capture.contains("eventTap", os::LogLevel::info, "Drag started for A"));
    EXPECT_TRUE(capture.contains("eventTap", os::LogLevel::info, "Drag ended for A at (190.000000, 15.000000)"));
}

TEST_F(EventTapManagerTest, PressesWithoutADragAndStrayEventsCallNothing) {
    setCallbacks();
    installWith({makeItem("A", 100, 0, 30, 24), makeItem("B", 200, 0, 30, 24)});
    // Stray events while idle.
    user(T::leftMouseDragged, 120, 10);
    user(T::leftMouseUp, 120, 10);
    EXPECT_EQ(state(), "idle");
    // A click.
    user(T::leftMouseDown, 110, 10);
    user(T::leftMouseUp, 110, 10);
    EXPECT_EQ(state(), "idle");
    // A press on another item abandons a drag without a drop; a press outside the strip does not.
    user(T::leftMouseDown, 110, 10);
    user(T::leftMouseDragged, 130, 10);
    user(T::leftMouseDown, 110, 300);
    EXPECT_EQ(state(), "dragging A");
    user(T::leftMouseDown, 210, 10);
    EXPECT_EQ(state(), "tracking B");
    user(T::leftMouseUp, 210, 10);
    EXPECT_EQ(calls->log, std::vector<std::string>{"started A"});
    EXPECT_EQ(state(), "idle");
}

TEST_F(EventTapManagerTest, ADragBeforeTheCallbacksAreSetStillRunsAndLogs) {
    installWith({makeItem("A", 100, 0, 30, 24)});
    user(T::leftMouseDown, 110, 10);
    user(T::leftMouseDragged, 130, 10);
    user(T::leftMouseUp, 140, 10);
    EXPECT_EQ(state(), "idle");
    EXPECT_EQ(capture.count("eventTap", "Drag started for A"), 1u);
    EXPECT_EQ(capture.count("eventTap", "Drag ended for A at (140.000000, 10.000000)"), 1u);
}

TEST_F(EventTapManagerTest, TheDropCallbackCanCallBackIntoTheTrackerItAwaits) {
    calls->reenter = tracker;
    setCallbacks();
    installWith({makeItem("A", 100, 0, 30, 24)});
    user(T::leftMouseDown, 110, 10);
    user(T::leftMouseDragged, 150, 10);
    user(T::leftMouseUp, 150, 10);
    EXPECT_EQ(calls->indexDuringDrop, 1);
    EXPECT_EQ(state(), "idle");
    // The tracker goes on with the next event.
    user(T::leftMouseDown, 110, 10);
    EXPECT_EQ(state(), "tracking A");
}

TEST_F(EventTapManagerTest, InsertionIndexIsTheFirstItemWhoseMiddleLiesLeftOfTheDrop) {
    // Right to left, as the bar lists them: middles at 215, 115, 15.
    std::vector<MenuBarItem> items{makeItem("C", 200, 0, 30, 24), makeItem("B", 100, 0, 30, 24),
                                   makeItem("A", 0, 0, 30, 24)};
    struct Case {
        double x;
        std::vector<MenuBarItem> items;
        std::int64_t expected;
    };
    const Case cases[] = {{50, {}, 0}, {10, items, 3}, {300, items, 0}, {115, items, 2}, {116, items, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(loop.run(tracker->computeInsertionIndex(c.x, c.items)), c.expected) << c.x;
    }
}

}  // namespace
