#include "macos/CoreGraphics/EventSource.hpp"
#include "macos/sim/SystemNotifications.hpp"
#include "macos/sim/UserGesture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

class UserGestureTest : public ::testing::Test {
protected:
    // Two items of different applications on the bar, the first right of the second.
    std::pair<sim::StatusItemID, sim::StatusItemID> twoItemsOnTheBar() const {
        std::vector<const sim::StatusItem*> found;
        for (const auto* item : world.statusItems()) {
            if (!item->onBar || item->owner == world.processes().selfPid()) continue;
            if (!found.empty() && found.back()->owner == item->owner) continue;
            found.push_back(item);
            if (found.size() == 2) break;
        }
        return {found.at(0)->id, found.at(1)->id};
    }
    std::size_t barIndex(sim::StatusItemID id) const {
        auto items = world.statusItems();
        return static_cast<std::size_t>(
            std::find_if(items.begin(), items.end(), [id](const auto* i) { return i->id == id; }) - items.begin());
    }
    bool leftButtonDown() const {
        return cg::eventSourceButtonState(cg::EventSourceStateID::combinedSessionState, cg::MouseButton::left);
    }

    runtime::ManualLoop loop;
    sim::World world;
};

TEST_F(UserGestureTest, ACommandDragMovesThePressedItemWhereItIsReleasedAndAPlainDragDoesNot) {
    for (bool command : {false, true}) {
        SCOPED_TRACE(command ? "command" : "plain");
        auto [a, b] = twoItemsOnTheBar();
        auto from = sim::centreOf(*world.statusItem(a));
        auto to = sim::centreOf(*world.statusItem(b));
        auto duration = sim::performDrag(world, {from, to, 5, 20ms, command});
        EXPECT_EQ(duration, 120ms);
        loop.advance(60ms);
        EXPECT_TRUE(leftButtonDown());
        EXPECT_EQ(world.events().pointerLocation().x, from.x + (to.x - from.x) * 0.6);
        loop.advance(60ms);
        EXPECT_FALSE(leftButtonDown());
        EXPECT_EQ(world.moveCount(), command ? 1 : 0);
        if (command) {
            EXPECT_EQ(barIndex(a), barIndex(b) + 1);
        }
        world.closeMenus();
    }
}

// What the bar draws during a Command-drag: the item whose application took the press, from the
// press until the release, with the other item under the pointer.
TEST_F(UserGestureTest, ACommandPressOfAnItemIsADragInProgressUntilItsRelease) {
    const auto pair = twoItemsOnTheBar();
    const sim::StatusItemID a = pair.first;
    const sim::StatusItemID b = pair.second;
    const auto from = sim::centreOf(*world.statusItem(a));
    const auto to = sim::centreOf(*world.statusItem(b));
    const cg::Point wallpaper{5, 900};
    const cg::Point aside{from.x - 3, from.y};
    const auto command = cg::eventFlagMaskCommand;
    using T = cg::EventType;
    struct Step {
        const char* what;
        std::function<void()> input;
        // The item being dragged after the step.
        std::optional<sim::StatusItemID> dragged = std::nullopt;
        std::optional<sim::StatusItemID> over = std::nullopt;
    };
    cg::Point pressedAt;
    // The user's mouse at a point, or at an item's middle as the bar lays it out then.
    using Where = std::function<cg::Point()>;
    auto at = [](cg::Point p) { return Where([p] { return p; }); };
    auto middleOf = [this](sim::StatusItemID id) {
        return Where([this, id] { return sim::centreOf(*world.statusItem(id)); });
    };
    auto mouse = [&](T type, Where where, cg::EventFlags flags) {
        return [this, &pressedAt, type, where, flags] {
            const auto point = where();
            if (type == T::leftMouseDown) pressedAt = point;
            world.events().injectUserMouse(type, point, flags);
        };
    };
    const std::vector<Step> steps = {
        {"a plain press", mouse(T::leftMouseDown, at(from), 0)},
        {"its drag", mouse(T::leftMouseDragged, at(to), 0)},
        {"its release", mouse(T::leftMouseUp, at(to), 0)},
        {"a Command right-press", mouse(T::rightMouseDown, at(from), command)},
        {"its release", mouse(T::rightMouseUp, at(from), command)},
        {"a Command-press on the wallpaper", mouse(T::leftMouseDown, at(wallpaper), command)},
        {"its release", mouse(T::leftMouseUp, at(wallpaper), command)},
        {"a Command-press of the item", mouse(T::leftMouseDown, at(from), command), a},
        {"dragged a little, still over itself", mouse(T::leftMouseDragged, at(aside), command), a},
        {"dragged over the other item", mouse(T::leftMouseDragged, at(to), command), a, b},
        {"dragged back over itself", mouse(T::leftMouseDragged, at(from), command), a},
        {"over the other item again", mouse(T::leftMouseDragged, at(to), command), a, b},
        {"released there", mouse(T::leftMouseUp, at(to), command)},
        {"a Command-press of the other item", mouse(T::leftMouseDown, middleOf(b), command), b},
        {"which goes away", [&] { world.removeStatusItem(b); }},
        {"its release", mouse(T::leftMouseUp, at(to), command)},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.input();
        loop.runUntilIdle();
        const auto drag = world.events().itemDrag();
        ASSERT_EQ(drag.has_value(), step.dragged.has_value());
        if (!drag) continue;
        EXPECT_EQ(drag->item, *step.dragged);
        EXPECT_EQ(drag->pressedAt.x, pressedAt.x);
        EXPECT_EQ(drag->pressedAt.y, pressedAt.y);
        EXPECT_EQ(drag->pointer.x, world.events().pointerLocation().x);
        EXPECT_EQ(drag->pointer.y, world.events().pointerLocation().y);
        EXPECT_EQ(drag->over, step.over);
    }
    EXPECT_EQ(world.moveCount(), 1) << "the one release over the other item moved it";
}

TEST_F(UserGestureTest, ARelaunchAtAScriptedMomentGivesTheSameApplicationANewProcess) {
    std::vector<std::string> posted;
    auto observer = sim::workspaceNotificationCenter().addObserver(
        "", &ns::OperationQueue::main(), [&](const ns::Notification& n) { posted.push_back(n.name); });
    // Ferry is a regular application; agents are relaunched without notifications.
    const sim::ProcessID oldPid = 454;
    ASSERT_FALSE(world.processes().find(oldPid)->isAgent());
    const auto bundle = world.processes().find(oldPid)->bundleIdentifier();
    const auto itemCount = world.statusItemsOf(oldPid).size();

    std::shared_ptr<const sim::Process> relaunched;
    world.schedule(3s, [&] { relaunched = world.relaunchApplication(oldPid); });
    loop.advance(2s);
    EXPECT_TRUE(world.processes().find(oldPid));
    loop.advance(1s);
    ASSERT_TRUE(relaunched);
    EXPECT_NE(relaunched->pid(), oldPid);
    EXPECT_EQ(relaunched->bundleIdentifier(), bundle);
    EXPECT_FALSE(world.processes().find(oldPid));
    EXPECT_EQ(world.statusItemsOf(relaunched->pid()).size(), itemCount);
    EXPECT_EQ(posted, (std::vector<std::string>{sim::notification::didTerminateApplication,
                                                sim::notification::didLaunchApplication}));
    EXPECT_FALSE(world.relaunchApplication(oldPid));
    EXPECT_FALSE(world.relaunchApplication(world.processes().selfPid()));
}

}  // namespace
