#include "macos/AppKit/MenuTracking.hpp"
#include "macos/sim/SystemNotifications.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using K = ns::MenuTracking;
using Marks = std::vector<std::optional<std::string>>;

// How a person chooses an entry of an application's own menu, opened by a right click on its item:
// by clicks down the levels (a click on an entry with a submenu opens it), by the keys, or as the
// accessibility press of the entry does.
enum class How { clicks, keys, press };

// The default world, made again for each case since a case may quit an application.
class WorldMenuEntryTest : public ::testing::Test {
protected:
    void SetUp() override { remake(); }
    void remake() {
        world.reset();
        world = std::make_unique<sim::World>();
        world->activate(*world->processes().find(301), 0);
        terminated.clear();
        observer = sim::workspaceNotificationCenter().addObserver(
            sim::notification::didTerminateApplication, &ns::OperationQueue::main(), [this](const ns::Notification& n) {
                terminated.push_back(n.userInfo.at(sim::notification::applicationKey).as<sim::Process>()->pid());
            });
    }
    const sim::StatusItem* item(const std::string& title) const {
        for (const auto* item : world->statusItems())
            if (item->spec.title == title) return item;
        return nullptr;
    }
    void click(cg::Point at, bool right = false) {
        world->events().injectUserMouse(right ? cg::EventType::rightMouseDown : cg::EventType::leftMouseDown, at);
        world->events().injectUserMouse(right ? cg::EventType::rightMouseUp : cg::EventType::leftMouseUp, at);
        loop.runUntilIdle();
    }
    void key(std::uint16_t code) {
        world->events().injectUserKey(cg::EventType::keyDown, code);
        world->events().injectUserKey(cg::EventType::keyUp, code);
        loop.runUntilIdle();
    }
    // The middle of an entry of an open level.
    cg::Point entry(std::size_t level, std::size_t index) const {
        const auto r = world->windowServer().find(world->openMenuLevels().at(level).window)->bounds;
        return {r.minX() + 40,
                r.minY() + sim::World::menuPadding + sim::World::menuRowHeight * (static_cast<double>(index) + 0.5)};
    }
    void choose(const sim::StatusItem& chosen, const std::vector<std::size_t>& path, How how) {
        if (how == How::press) {
            world->chooseMenuEntry(chosen.id, path);
            return;
        }
        click({chosen.frame.midX(), chosen.frame.midY()}, true);
        ASSERT_EQ(world->openMenuItem(), chosen.id);
        for (std::size_t level = 0; level < path.size(); ++level) {
            if (how == How::clicks) {
                click(entry(level, path[level]));
                continue;
            }
            // Down lights the first enabled entry of the top level, then each next one; Right
            // opens a submenu at its first enabled entry.
            const auto& entries = *world->openMenuLevels().at(level).entries;
            int downs = level == 0 ? 1 : 0;
            for (std::size_t i = 0; i < path[level]; ++i)
                if (entries[i].enabled && !entries[i].separator) ++downs;
            for (int i = 0; i < downs; ++i) key(K::downArrow);
            key(level + 1 < path.size() ? K::rightArrow : K::returnKey);
        }
    }
    // The marks of one level of an item's menu, by the path of its entry (empty: the top level).
    static Marks marks(const sim::StatusItem& of, const std::vector<std::size_t>& level) {
        const auto* entries = &of.spec.menu;
        for (auto index : level) entries = &(*entries)[index].submenu;
        Marks out;
        for (const auto& e : *entries) out.push_back(e.markChar);
        return out;
    }

    runtime::ManualLoop loop;
    std::unique_ptr<sim::World> world;
    std::vector<sim::ProcessID> terminated;
    ns::NotificationObserverToken observer;
};

}  // namespace

TEST_F(WorldMenuEntryTest, AnApplicationAnswersTheEntryChosenInItsMenuHoweverItIsChosen) {
    using Path = std::vector<std::size_t>;
    struct Row {
        const char* what;
        std::string item;
        // The entries chosen one after another.
        std::vector<Path> paths;
        How how;
        // The application that quits, and whether the workspace tells of it (not for an agent).
        std::optional<sim::ProcessID> quits = std::nullopt;
        bool notified = false;
        // The marks of the last chosen entry's level afterwards; none: as they were.
        std::optional<Marks> marks = std::nullopt;
        // A separator or a disabled entry: nothing is chosen and the menu stays open.
        bool chosen = true;
    };
    const std::string check = "\u2713";
    const auto none = std::nullopt;
    const Row rows[] = {
        {"Quit Barometer by clicks", "1013 hPa", {{3}}, How::clicks, 410},
        {"Quit Barometer by the keys", "1013 hPa", {{3}}, How::keys, 410},
        {"Quit Tides, off the bar, by a press", "Tides", {{1}}, How::press, 446},
        {"Quit Ferry by a press, a regular application", "Ferry", {{1}}, How::press, 454, true},
        {"Quit Muffle takes both its items", "Muffle", {{1}}, How::clicks, 411},
        {"inHg in Units by clicks", "1013 hPa", {{2, 1}}, How::clicks, none, false, Marks{none, check}},
        {"inHg in Units by the keys", "1013 hPa", {{2, 1}}, How::keys, none, false, Marks{none, check}},
        {"inHg in Units by a press", "1013 hPa", {{2, 1}}, How::press, none, false, Marks{none, check}},
        {"the marked hPa stays the choice", "1013 hPa", {{2, 0}}, How::keys, none, false, Marks{check, none}},
        {"inHg, then hPa again", "1013 hPa", {{2, 1}, {2, 0}}, How::clicks, none, false, Marks{check, none}},
        {"Lighthouse takes Harbour's mark", "Wi-Fi", {{3, 1}}, How::clicks, none, false, Marks{none, check}},
        {"Mute Microphone switched off", "Muffle", {{0}}, How::clicks, none, false, Marks{"", none}},
        {"Mute Microphone switched off and on", "Muffle", {{0}, {0}}, How::keys, none, false, Marks{check, none}},
        {"an entry without a mark changes nothing", "Wi-Fi", {{1}}, How::clicks},
        {"nor does Reset", "Stopwatch", {{1}}, How::keys},
        {"a disabled entry is not chosen", "1013 hPa", {{0}}, How::clicks, none, false, none, false},
        {"nor is a separator", "1013 hPa", {{1}}, How::clicks, none, false, none, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        remake();
        const auto* chosen = item(row.item);
        ASSERT_NE(chosen, nullptr);
        const auto id = chosen->id;
        const auto owner = chosen->owner;
        const Path level(row.paths.back().begin(), row.paths.back().end() - 1);
        const auto before = marks(*chosen, level);
        const auto items = world->statusItems().size();
        const auto owned = world->statusItemsOf(owner).size();
        for (const auto& path : row.paths) choose(*world->statusItem(id), path, row.how);
        loop.runUntilIdle();

        EXPECT_EQ(world->openMenuItem().has_value(), !row.chosen) << "a choice closes the menu";
        EXPECT_EQ(world->menuChoices().size(), row.chosen ? row.paths.size() : 0u);
        if (row.quits) {
            EXPECT_EQ(owner, *row.quits);
            EXPECT_FALSE(world->processes().find(owner));
            EXPECT_EQ(world->statusItem(id), nullptr);
            EXPECT_TRUE(world->statusItemsOf(owner).empty());
            EXPECT_EQ(world->statusItems().size(), items - owned) << "its items leave the bar";
            for (const auto* w : world->windowServer().ordered()) EXPECT_NE(w->owner, owner);
            EXPECT_EQ(terminated, row.notified ? std::vector<sim::ProcessID>{owner} : std::vector<sim::ProcessID>{});
            continue;
        }
        EXPECT_TRUE(world->processes().find(owner));
        EXPECT_EQ(world->statusItems().size(), items);
        EXPECT_TRUE(terminated.empty());
        ASSERT_NE(world->statusItem(id), nullptr);
        EXPECT_EQ(marks(*world->statusItem(id), level), row.marks.value_or(before));
    }
}
