#include "macos/CoreGraphics/EventSource.hpp"
#include "macos/sim/SystemNotifications.hpp"
#include "macos/sim/UserGesture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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
