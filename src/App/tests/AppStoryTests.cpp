#include "AppStateFixture.hpp"

#include "macos/Observation/Observation.hpp"

#include <algorithm>
#include <set>

using namespace stashbay;
using namespace std::chrono_literals;
using SectionType = MenuBarSection::SectionType;
using T = cg::EventType;

namespace {

// Whole-state stories on the default scenario: the world's own mouse, applications and screens.
class AppStoryTest : public AppStateTest {
protected:
    std::string nameOf(const sim::StatusItem& item) const {
        auto owner = world->processes().find(item.owner);
        return owner->localizedName().value_or("") + "/" + item.spec.title.value_or("");
    }
    std::optional<MenuBarItem> snapshotItem(const sim::StatusItem& item) const {
        for (const auto& i : state->menuBarItems())
            if (i.windowID() == item.window) return i;
        return std::nullopt;
    }
    void user(T type, cg::Point p) {
        world->events().injectUserMouse(type, p);
        loop.runUntilIdle();
    }
    IconArrangement fileArrangement() const { return IconArrangement::decodeDocument(readArrangementFile()); }
    // Calls `onChange` after every announced change of what `read` reads, for as long as it lives.
    struct Watch {
        std::function<void()> read;
        std::function<void()> onChange;
        std::shared_ptr<bool> alive = std::make_shared<bool>(true);
        void arm() {
            std::weak_ptr<bool> weak = alive;
            observation::withObservationTracking(read, [this, weak] {
                if (weak.expired()) return;
                onChange();
                arm();
            });
        }
    };
};

TEST_F(AppStoryTest, ANormalStartShowsTheHiddenItemsOfOtherApplicationsInArrangementOrder) {
    // What the world put under the camera housing (x 662 to 850) or off the bar.
    std::vector<std::string> expected;
    for (const auto* item : world->statusItems()) {
        auto bundle = world->processes().find(item->owner)->bundleIdentifier();
        if (bundle && AppState::excludedBundleIDs().count(*bundle)) continue;
        bool hidden = !item->onBar || (item->frame.maxX() > 662 && item->frame.minX() < 850);
        if (hidden) expected.push_back(nameOf(*item));
    }
    ASSERT_GE(expected.size(), 2u);

    startAndSettle();
    EXPECT_FALSE(state->isScanning());
    auto shown = sectionNames();
    EXPECT_EQ(std::multiset<std::string>(shown.begin(), shown.end()),
              std::multiset<std::string>(expected.begin(), expected.end()));
    for (const auto* text : {"AppState starting...", "Loaded arrangement with 0 items",
                             "Beginning display monitoring and scanning", "AppState started"})
        EXPECT_TRUE(capture.contains("appState", os::LogLevel::info, text)) << text;
    EXPECT_TRUE(capture.contains("scanning", os::LogLevel::info, "Menu bar scanning started"));

    // Restarted with an arrangement that orders them the other way round.
    IconArrangement arrangement = IconArrangement::empty();
    for (auto it = state->sections().front().items().rbegin(); it != state->sections().front().items().rend(); ++it)
        arrangement.assign(it->id(), MenuBarItemVisibility::hiddenByNotch);
    writeArrangementFile(arrangement.encodedDocument());
    std::reverse(shown.begin(), shown.end());
    reload();
    writeArrangementFile(arrangement.encodedDocument());
    startAndSettle();
    EXPECT_EQ(sectionNames(), shown);
}

TEST_F(AppStoryTest, ACommandDragInTheMenuBarIsMirroredThenSavedAsVisibleAtItsDropIndex) {
    startAndSettle();
    auto items = visibleUserItems();
    ASSERT_GE(items.size(), 2u);
    const MenuBarItemID id = snapshotItem(*items[0])->id();
    // Kept in the stashbay section by the arrangement, so the drop visibly changes the sections.
    IconArrangement arrangement = IconArrangement::empty();
    arrangement.assign(id, MenuBarItemVisibility::stashbay);
    reload();
    writeArrangementFile(arrangement.encodedDocument());
    startAndSettle();
    ASSERT_EQ(state->sections().back().id(), SectionType::stashbay);

    bool clearedBeforeSave = false;
    Watch dragWatch{[&] { state->draggingItem(); },
                    [&] {
                        if (!state->draggingItem()) clearedBeforeSave = !capture.first("persistence", "Saved");
                    }};
    dragWatch.arm();
    items = visibleUserItems();
    const auto from = sim::centreOf(*items[0]);
    const auto to = sim::centreOf(*items[1]);
    const auto expectedIndex = EventTapManager::insertionIndex(to.x, state->menuBarItems());
    auto duration = sim::performDrag(*world, {from, to, 10, 16ms, /*command=*/true});
    loop.advance(duration - 16ms);
    ASSERT_TRUE(state->draggingItem());
    EXPECT_EQ(state->draggingItem()->id(), id);
    ASSERT_TRUE(state->dragPosition());
    loop.advance(16ms);
    EXPECT_FALSE(state->draggingItem());
    EXPECT_FALSE(state->dragPosition());
    EXPECT_TRUE(clearedBeforeSave);

    EXPECT_EQ(world->moveCount(), 1);
    auto saved = fileArrangement();
    EXPECT_EQ(saved.assignments().at(id), MenuBarItemVisibility::visible);
    EXPECT_EQ(saved.order(SectionType::visible), std::vector<MenuBarItemID>{id});
    EXPECT_TRUE(saved.order(SectionType::stashbay).empty());
    EXPECT_EQ(state->currentArrangement(), saved);
    EXPECT_TRUE(state->sections().empty() || state->sections().back().id() != SectionType::stashbay);
    EXPECT_TRUE(capture.contains("appState", os::LogLevel::info,
                                 "Moved " + *id.bundleID() + " to Visible at index " + std::to_string(expectedIndex)));
}

TEST_F(AppStoryTest, ASaveOnAFullDiskKeepsTheMoveInMemoryUntilTheNextSaveWritesIt) {
    startAndSettle();
    auto items = visibleUserItems();
    ASSERT_GE(items.size(), 3u);
    const auto first = snapshotItem(*items[0])->id();
    const auto second = snapshotItem(*items[2])->id();
    ns::FileFaults full;
    full.writeFailsAfterBytes = 0;
    ns::FileManager::defaultManager().setFaults(full);

    auto drag = [&](const sim::StatusItem& from, const sim::StatusItem& to) {
        loop.advance(sim::performDrag(*world, {sim::centreOf(from), sim::centreOf(to), 5, 16ms, true}));
    };
    drag(*items[0], *items[1]);
    auto failure = capture.first("appState", "Failed to save arrangement after move: ");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->level, os::LogLevel::error);
    EXPECT_FALSE(std::filesystem::exists(arrangementFile()));
    EXPECT_EQ(state->currentArrangement().assignments().at(first), MenuBarItemVisibility::visible);
    EXPECT_TRUE(capture.first("appState", "Moved " + *first.bundleID() + " to Visible at index "));
    EXPECT_FALSE(state->draggingItem());

    ns::FileManager::defaultManager().setFaults({});
    loop.advance(3s);
    items = visibleUserItems();
    auto secondNow =
        std::find_if(items.begin(), items.end(), [&](const auto* i) { return snapshotItem(*i)->id() == second; });
    ASSERT_NE(secondNow, items.end());
    drag(**secondNow, *items[secondNow == items.begin() ? 1 : 0]);
    auto saved = fileArrangement();
    EXPECT_EQ(saved.assignments().at(first), MenuBarItemVisibility::visible);
    EXPECT_EQ(saved.assignments().at(second), MenuBarItemVisibility::visible);
}

TEST_F(AppStoryTest, WithoutAccessibilityTheTapIsRefusedAndScanningGoesOn) {
    world->permissions().accessibility = false;
    startAndSettle();
    EXPECT_TRUE(capture.contains("eventTap", os::LogLevel::error,
                                 "Failed to install event tap \u2014 Accessibility permission may be missing"));
    EXPECT_EQ(world->events().liveTapCount(), 0u);
    const auto before = scans();
    loop.advance(4s);
    EXPECT_FALSE(state->isScanning());
    EXPECT_GE(scans(), before + 2);
    EXPECT_TRUE(capture.contains("appState", os::LogLevel::info, "AppState started"));
}

TEST_F(AppStoryTest, ALaunchAQuitAndAnUnpluggedScreenEachBringAnImmediateRescan) {
    sim::ScreenSpec external;
    external.localizedName = "External";
    external.frame = cg::Rect(1512, 0, 1920, 1080);
    external.visibleFrame = cg::Rect(1512, 0, 1920, 1055);
    external.displayNumber = 7;
    world->addScreen(external);
    startAndSettle();
    loop.advance(1s);

    sim::ProcessSpec late(std::nullopt, "org.example.Late", "Late");
    late.statusItems.push_back(sim::StatusItemSpec{});
    late.statusItems.back().title = "Late";
    late.statusItems.back().width = 30;
    std::shared_ptr<const sim::Process> launched;
    const std::function<void()> events[] = {
        [&] { launched = world->launchApplication(late); },
        [&] { world->quitApplication(launched->pid()); },
        [&] { world->removeScreen(1); },
    };
    for (const auto& event : events) {
        // Mid-sleep: the pass after the sleep is followed at once by another.
        loop.advance(1s);
        const auto before = scans();
        event();
        loop.advance(2s);
        EXPECT_EQ(scans(), before + 2);
    }
    EXPECT_TRUE(capture.first("scanning", "Debouncing Late: absent "));
    EXPECT_TRUE(capture.contains("appState", os::LogLevel::debug, "Display update: 1 screen(s)"));
    bool lateSeen = false;
    for (const auto& r : capture.records("scanning"))
        if (r.text.find("Late") != std::string::npos) lateSeen = true;
    EXPECT_TRUE(lateSeen);
}

TEST_F(AppStoryTest, ARelaunchWithinTheDebounceReachesTheSectionsWithItsNewProcessAndWindow) {
    startAndSettle();
    ASSERT_FALSE(state->sections().empty());
    const MenuBarItem before = state->sections().front().items().front();
    ASSERT_TRUE(before.ownerBundleID());
    auto announced = std::make_shared<bool>(false);
    observation::withObservationTracking([&] { state->sections(); }, [announced] { *announced = true; });
    auto relaunched = world->relaunchApplication(before.ownerPID());
    ASSERT_TRUE(relaunched);
    loop.advance(2s);
    EXPECT_TRUE(*announced);
    std::optional<MenuBarItem> after;
    for (const auto& section : state->sections())
        for (const auto& i : section.items())
            if (i.id() == before.id()) after = i;
    ASSERT_TRUE(after);
    EXPECT_EQ(after->ownerPID(), relaunched->pid());
    EXPECT_NE(after->windowID(), before.windowID());
    EXPECT_EQ(world->statusItemForWindow(after->windowID())->owner, relaunched->pid());
}

TEST_F(AppStoryTest, ANewIconIsAnnouncedAndAnUnchangedSnapshotIsNot) {
    startAndSettle();
    ASSERT_FALSE(state->sections().empty());
    const MenuBarItem before = state->sections().front().items().front();
    auto announced = std::make_shared<bool>(false);
    observation::withObservationTracking([&] { state->sections(); }, [announced] { *announced = true; });
    loop.advance(10s);
    EXPECT_FALSE(*announced);

    world->windowServer().find(before.windowID())->color = 0x123456FF;
    // The icon cache keeps an image for 30 s.
    loop.advance(30s);
    EXPECT_TRUE(*announced);
    const auto& image = state->sections().front().items().front().capturedImage();
    ASSERT_TRUE(image);
    EXPECT_NE(image->pixels(), before.capturedImage()->pixels());
}

TEST_F(AppStoryTest, AnAbandonedDragLeavesThePublishedStateAndSavesNothing) {
    startAndSettle();
    auto items = visibleUserItems();
    ASSERT_GE(items.size(), 2u);
    const auto a = sim::centreOf(*items[0]);
    const auto b = sim::centreOf(*items[1]);

    // A new press on another item while dragging: the tracker gives the drag up silently.
    user(T::leftMouseDown, a);
    user(T::leftMouseDragged, {a.x - 20, a.y});
    ASSERT_TRUE(state->draggingItem());
    user(T::leftMouseDown, b);
    loop.advance(AppState::dragWatchInterval);
    EXPECT_FALSE(state->draggingItem());
    EXPECT_FALSE(state->dragPosition());
    user(T::leftMouseUp, b);

    // The release lost while the system had switched the tap off: the tracker still drags, the
    // button is up. A later drag elsewhere must not drop the old item.
    user(T::leftMouseDown, a);
    user(T::leftMouseDragged, {a.x - 20, a.y});
    ASSERT_TRUE(state->draggingItem());
    world->events().injectUserMouse(T::leftMouseUp, {a.x - 20, a.y});
    world->events().disableTaps(sim::TapPoint::at(cg::EventTapLocation::hid), T::tapDisabledByUserInput);
    loop.runUntilIdle();
    // A release on its way to the tracker gets one more check before the drag counts as lost.
    loop.advance(AppState::dragWatchInterval);
    EXPECT_TRUE(state->draggingItem()) << "given up at the first check that saw the button up";
    loop.advance(AppState::dragWatchInterval);
    EXPECT_FALSE(state->draggingItem());
    EXPECT_EQ(capture.count("eventTap", "Event tap disabled by system (type=4294967295). Re-enabling."), 1u);
    user(T::leftMouseDown, {400, 400});
    user(T::leftMouseDragged, {420, 400});
    EXPECT_FALSE(state->dragPosition());
    user(T::leftMouseUp, {420, 400});
    loop.advance(1s);
    EXPECT_FALSE(std::filesystem::exists(arrangementFile()));
    EXPECT_FALSE(capture.first("appState", "Moved "));

    // The next real drag is recorded as usual.
    user(T::leftMouseDown, a);
    user(T::leftMouseDragged, {a.x - 20, a.y});
    user(T::leftMouseUp, {a.x - 20, a.y});
    EXPECT_TRUE(capture.first("appState", "Moved "));
    EXPECT_TRUE(std::filesystem::exists(arrangementFile()));

    // A drag in progress when the state stops.
    user(T::leftMouseDown, a);
    user(T::leftMouseDragged, {a.x - 20, a.y});
    ASSERT_TRUE(state->draggingItem());
    state->stop();
    loop.runUntilIdle();
    EXPECT_FALSE(state->draggingItem());
    started = false;
}

}  // namespace

// Agent applications (most status-item owners) launch and quit without a workspace
// notification, so no immediate rescan comes; the periodic scan still finds and drops them.
TEST_F(AppStoryTest, AnAgentApplicationIsFoundAndDroppedByThePeriodicScanAlone) {
    startAndSettle();
    loop.advance(1s);
    sim::ProcessSpec agent(std::nullopt, "org.example.Weather", "Weather");
    agent.agent = true;
    agent.statusItems.push_back(sim::StatusItemSpec{});
    agent.statusItems.back().title = "12\u00b0";
    agent.statusItems.back().width = 30;
    auto listed = [&] {
        for (const auto& item : state->menuBarItems())
            if (item.ownerBundleID() == "org.example.Weather") return true;
        return false;
    };
    auto before = scans();
    const auto launched = world->launchApplication(agent);
    loop.advance(100ms);
    EXPECT_EQ(scans(), before) << "no launch notification, no immediate rescan";
    loop.advance(2s);
    EXPECT_EQ(scans(), before + 1);
    EXPECT_TRUE(listed()) << "the next periodic scan found it";

    before = scans();
    world->quitApplication(launched->pid());
    loop.advance(100ms);
    EXPECT_EQ(scans(), before) << "no termination notification either";
    loop.advance(10s);
    EXPECT_FALSE(listed()) << "dropped once the debounce let it go";
}
