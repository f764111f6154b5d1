#include "AppStateFixture.hpp"

#include "macos/AppKit/Workspace.hpp"
#include "macos/Observation/Observation.hpp"

#include <unordered_set>

using namespace stashbay;
using namespace std::chrono_literals;
using SectionType = MenuBarSection::SectionType;
using PanelMode = AppState::PanelMode;

namespace {

MenuBarItem item(const std::string& bundle, std::int64_t index, bool onScreen, std::int32_t pid = 100,
                 std::uint32_t window = 0, cg::ImageRef image = nullptr) {
    return MenuBarItem(MenuBarItemID(bundle, index), pid, bundle, bundle, bundle + "#" + std::to_string(index),
                       cg::Point{100.0 * static_cast<double>(index), 0}, cg::Size{30, 24}, window, true, true, onScreen,
                       std::move(image), runtime::Date{});
}

std::vector<std::string> ids(const std::vector<MenuBarItem>& items) {
    std::vector<std::string> out;
    for (const auto& i : items) out.push_back(i.id().stringValue());
    return out;
}

// Whether `change` announces a change of what `read` reads.
template <class Read, class Change>
bool announces(Read read, Change change) {
    // Shared: a tracking that never fires outlives this frame.
    auto announced = std::make_shared<bool>(false);
    observation::withObservationTracking(read, [announced] { *announced = true; });
    change();
    return *announced;
}

TEST_F(AppStateTest, AConstructedStateHasItsServicesAndStartsNothing) {
    make();
    loop.advance(10s);
    EXPECT_FALSE(state->isScanning());
    EXPECT_EQ(state->panelMode(), PanelMode::normal);
    EXPECT_TRUE(state->menuBarItems().empty());
    EXPECT_TRUE(state->sections().empty());
    EXPECT_FALSE(state->currentDisplay());
    EXPECT_TRUE(state->allDisplays().empty());
    EXPECT_EQ(state->currentArrangement(), IconArrangement::empty());
    EXPECT_FALSE(state->draggingItem());
    EXPECT_FALSE(state->dragPosition());
    EXPECT_FALSE(state->preferences());
    EXPECT_TRUE(state->scanner() && state->displayManager() && state->arrangementStore() && state->eventTapManager());
    ASSERT_TRUE(state->permissions());
    EXPECT_TRUE(state->permissions()->accessibilityGranted());
    EXPECT_EQ(world->events().liveTapCount(), 0u);
    EXPECT_EQ(ns::Workspace::shared().notificationCenter().observerCount(), 0u);
    EXPECT_EQ(ns::NotificationCenter::defaultCenter().observerCount(), 0u);
    EXPECT_EQ(scans(), 0u);
    EXPECT_TRUE(capture.texts("appState").empty());
}

TEST_F(AppStateTest, BeforeTheOnboardingStartOnlyPollsPermissionsFast) {
    make();
    auto preferences = std::make_shared<UserPreferences>();
    state->setPreferences(preferences);
    started = true;
    loop.run(state->start());
    loop.advance(5s);
    EXPECT_EQ(state->panelMode(), PanelMode::onboarding);
    EXPECT_TRUE(capture.contains("permissions", os::LogLevel::debug,
                                 "Starting permission polling (interval=2.000000s, fast=true)."));
    EXPECT_EQ(state->currentArrangement(), IconArrangement::empty());
    EXPECT_FALSE(state->isScanning());
    EXPECT_EQ(scans(), 0u);
    EXPECT_EQ(world->events().liveTapCount(), 0u);
    EXPECT_EQ(ns::Workspace::shared().notificationCenter().observerCount(), 0u);
    EXPECT_EQ(capture.texts("appState"), std::vector<std::string>{"AppState starting..."});

    // Finishing the onboarding starts everything, whatever the flag says, and keeps the mode.
    state->setPanelMode(PanelMode::settings);
    loop.run(state->startAfterOnboarding());
    loop.advance(10ms);
    EXPECT_EQ(state->panelMode(), PanelMode::settings);
    EXPECT_FALSE(state->isScanning());
    EXPECT_FALSE(state->sections().empty());
    EXPECT_EQ(world->events().liveTapCount(), 1u);
    EXPECT_TRUE(capture.contains("permissions", os::LogLevel::debug,
                                 "Starting permission polling (interval=30.000000s, fast=false)."));
    auto texts = capture.texts("appState");
    std::erase(texts, "Display update: 1 screen(s)");
    EXPECT_EQ(texts,
              (std::vector<std::string>{"AppState starting...", "AppState starting after onboarding...",
                                        "Loaded arrangement with 0 items", "Beginning display monitoring and scanning",
                                        "AppState started after onboarding"}));
    EXPECT_TRUE(capture.contains("appState", os::LogLevel::debug, "Display update: 1 screen(s)"));
}

TEST_F(AppStateTest, WithoutPreferencesOrAfterTheOnboardingStartRunsInFull) {
    for (bool withPreferences : {false, true}) {
        SCOPED_TRACE(withPreferences);
        reload();
        make();
        if (withPreferences) {
            auto preferences = std::make_shared<UserPreferences>();
            preferences->setHasCompletedOnboarding(true);
            state->setPreferences(preferences);
        }
        state->setPanelMode(PanelMode::settings);
        startAndSettle();
        EXPECT_EQ(state->panelMode(), PanelMode::normal);
        EXPECT_FALSE(state->isScanning());
        EXPECT_EQ(world->events().liveTapCount(), 1u);
        EXPECT_EQ(ns::Workspace::shared().notificationCenter().observerCount(), 2u);
        EXPECT_TRUE(capture.contains("appState", os::LogLevel::info, "AppState started"));
    }
}

TEST_F(AppStateTest, SectionsGroupOrderAndLeaveOutTheSystemsAndOurOwnItems) {
    const std::vector<MenuBarItem> items{
        item("com.apple.controlcenter", 0, false),
        item("com.apple.Spotlight", 0, true),
        item("com.apple.Siri", 0, false),
        item("app.stashbay.Stashbay", 0, false),
        item("com.apple.siri", 0, false),
        item("a", 1, true),
        item("b", 2, true),
        item("c", 3, true),
        item("d", 4, false),
        item("e", 5, true),
    };
    IconArrangement arrangement = IconArrangement::empty();
    arrangement.assign(items[5].id(), MenuBarItemVisibility::stashbay);
    arrangement.assign(items[6].id(), MenuBarItemVisibility::hiddenByNotch);
    arrangement.assign(items[7].id(), MenuBarItemVisibility::pinned);
    arrangement.assign(items[8].id(), MenuBarItemVisibility::visible);
    arrangement.assign(items[1].id(), MenuBarItemVisibility::stashbay);
    // Stored order: d before b, and an identity that matches nothing.
    arrangement.assign(MenuBarItemID("x", 9), MenuBarItemVisibility::hiddenByNotch);
    arrangement.reorder(items[8].id(), SectionType::hiddenByNotch, 0);

    auto sections = AppState::computeSections(items, std::nullopt, arrangement);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].id(), SectionType::hiddenByNotch);
    EXPECT_EQ(ids(sections[0].items()), (std::vector<std::string>{"d#4", "b#2", "com.apple.siri#0"}));
    EXPECT_EQ(sections[1].id(), SectionType::stashbay);
    EXPECT_EQ(ids(sections[1].items()), std::vector<std::string>{"a#1"});

    // Only stashbay items: one section; nothing hidden or assigned: none.
    EXPECT_EQ(AppState::computeSections({items[5]}, std::nullopt, arrangement).size(), 1u);
    EXPECT_TRUE(AppState::computeSections({items[7], items[9]}, std::nullopt, arrangement).empty());
}

TEST_F(AppStateTest, ApplyOrderPutsTheStoredOrderFirstAndTheRestInScanOrder) {
    std::vector<MenuBarItem> abc{item("a", 0, true), item("b", 0, true), item("c", 0, true)};
    IconArrangement arrangement = IconArrangement::empty();
    EXPECT_EQ(ids(AppState::applyOrder(abc, SectionType::stashbay, arrangement)), ids(abc));
    for (const char* id : {"c", "x", "a"}) arrangement.assign(MenuBarItemID(id, 0), MenuBarItemVisibility::stashbay);
    EXPECT_EQ(ids(AppState::applyOrder(abc, SectionType::stashbay, arrangement)),
              (std::vector<std::string>{"c#0", "a#0", "b#0"}));
    // Two items of one identity: the stored identity takes the first; the second keeps its place
    // among the rest. Identities that differ only in their index are not confused.
    std::vector<MenuBarItem> twice{item("b", 0, true), item("a", 1, true), item("a", 0, true, 7),
                                   item("a", 0, true, 8)};
    auto ordered = AppState::applyOrder(twice, SectionType::stashbay, arrangement);
    EXPECT_EQ(ids(ordered), (std::vector<std::string>{"a#0", "b#0", "a#1", "a#0"}));
    EXPECT_EQ(ordered[0].ownerPID(), 7);
    EXPECT_EQ(ordered[3].ownerPID(), 8);
}

TEST_F(AppStateTest, TheChangeCheckSeesEveryFieldThePanelShowsOrActsOn) {
    auto image = cg::Image::filled(2, 2, 0xFF0000FF);
    auto same = cg::Image::filled(2, 2, 0xFF0000FF);
    auto other = cg::Image::filled(2, 2, 0x00FF00FF);
    auto base = item("a", 1, false, 100, 7, image);
    auto with = [&](MenuBarItem changed) {
        return AppState::sectionsShowTheSame({MenuBarSection(SectionType::hiddenByNotch, {base})},
                                             {MenuBarSection(SectionType::hiddenByNotch, {std::move(changed)})});
    };
    EXPECT_TRUE(with(base));
    EXPECT_TRUE(with(base.withCapturedImage(same)));
    EXPECT_FALSE(with(base.withCapturedImage(other)));
    EXPECT_FALSE(with(base.withCapturedImage(nullptr)));
    EXPECT_FALSE(with(item("a", 1, false, 101, 7, image)));  // a new process
    EXPECT_FALSE(with(item("a", 1, false, 100, 8, image)));  // a new window
    EXPECT_FALSE(with(MenuBarItem(base.id(), 100, "a", "a", "new title", base.position(), base.size(), 7, true, true,
                                  false, image, runtime::Date{})));
    EXPECT_FALSE(with(MenuBarItem(base.id(), 100, "a", "a", base.title(), base.position(), base.size(), 7, false, true,
                                  false, image, runtime::Date{})));
    EXPECT_FALSE(with(MenuBarItem(base.id(), 100, "a", "a", base.title(), {5, 0}, base.size(), 7, true, true, false,
                                  image, runtime::Date{})));
    // The time it was seen is not shown.
    EXPECT_TRUE(with(MenuBarItem(base.id(), 100, "a", "a", base.title(), base.position(), base.size(), 7, true, true,
                                 false, image, runtime::Date{5})));
}

TEST_F(AppStateTest, FieldsAnnounceByTheirAssignmentRule) {
    make();
    EXPECT_FALSE(announces([&] { state->panelMode(); }, [&] { state->setPanelMode(PanelMode::normal); }));
    EXPECT_TRUE(announces([&] { state->panelMode(); }, [&] { state->setPanelMode(PanelMode::settings); }));
    auto preferences = std::make_shared<UserPreferences>();
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(announces([&] { state->preferences(); }, [&] { state->setPreferences(preferences); }));
}

TEST_F(AppStateTest, EveryDisplayListIsAnnouncedEvenWhenNothingChanged) {
    startAndSettle();
    ASSERT_TRUE(state->currentDisplay());
    EXPECT_TRUE(state->currentDisplay()->isMain());
    EXPECT_EQ(state->allDisplays().size(), 1u);
    auto all = std::make_shared<bool>(false);
    auto current = std::make_shared<bool>(false);
    observation::withObservationTracking([&] { state->allDisplays(); }, [all] { *all = true; });
    observation::withObservationTracking([&] { state->currentDisplay(); }, [current] { *current = true; });
    world->setMainScreen(0);
    loop.advance(600ms);
    EXPECT_TRUE(*all);
    EXPECT_TRUE(*current);
    EXPECT_EQ(capture.count("appState", "Display update: 1 screen(s)"), 2u);
}

TEST_F(AppStateTest, AMoveRecordsTheIndexAsGivenAndClampsItInTheOrder) {
    make();
    const MenuBarItemID first("org.example.First", 0);
    const MenuBarItemID anonymous(std::nullopt, 2);
    loop.run(state->moveItem(first, SectionType::visible, 7));
    loop.run(state->moveItem(anonymous, SectionType::visible, 9));
    loop.run(state->moveItem(MenuBarItemID("org.example.Third", 0), SectionType::visible, 1));
    const auto& arrangement = state->currentArrangement();
    EXPECT_EQ(arrangement.order(SectionType::visible),
              (std::vector<MenuBarItemID>{first, MenuBarItemID("org.example.Third", 0), anonymous}));
    EXPECT_EQ(arrangement.assignments().at(anonymous), MenuBarItemVisibility::visible);
    EXPECT_EQ(capture.texts("appState"), (std::vector<std::string>{"Moved org.example.First to Visible at index 7",
                                                                   "Moved unknown to Visible at index 9",
                                                                   "Moved org.example.Third to Visible at index 1"}));
    EXPECT_EQ(IconArrangement::decodeDocument(readArrangementFile()), arrangement);
}

TEST_F(AppStateTest, ACorruptArrangementFileIsReportedAndLeftAsItIsWhileEverythingStarts) {
    writeArrangementFile("{ not json");
    startAndSettle();
    EXPECT_EQ(state->currentArrangement(), IconArrangement::empty());
    auto failure = capture.first("appState", "Failed to load arrangement: ");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->level, os::LogLevel::error);
    EXPECT_FALSE(state->isScanning());
    EXPECT_GE(scans(), 1u);
    EXPECT_EQ(world->events().liveTapCount(), 1u);
    EXPECT_EQ(ns::Workspace::shared().notificationCenter().observerCount(), 2u);
    EXPECT_TRUE(capture.contains("appState", os::LogLevel::info, "AppState started"));
    EXPECT_EQ(readArrangementFile(), "{ not json");
}

TEST_F(AppStateTest, StopEndsBothLoopsTheTriggersThePollingAndTheTap) {
    startAndSettle();
    state->stop();
    loop.advance(1s);
    const std::size_t scansAtStop = scans();
    loop.advance(60s);
    EXPECT_EQ(scans(), scansAtStop);
    EXPECT_EQ(capture.count("appState", "Display stream ended unexpectedly"), 1u);
    EXPECT_EQ(capture.count("appState", "Scan stream ended unexpectedly"), 1u);
    EXPECT_EQ(ns::Workspace::shared().notificationCenter().observerCount(), 0u);
    EXPECT_EQ(ns::NotificationCenter::defaultCenter().observerCount(), 0u);
    EXPECT_EQ(world->events().liveTapCount(), 0u);
    EXPECT_EQ(capture.count("permissions", "Accessibility permission changed: denied"), 0u);
    world->permissions().accessibility = false;
    loop.advance(60s);
    EXPECT_EQ(capture.count("permissions", "Accessibility permission changed: denied"), 0u);
    EXPECT_TRUE(capture.contains("appState", os::LogLevel::info, "AppState stopped"));
    EXPECT_TRUE(capture.contains("eventTap", os::LogLevel::info, "Event tap uninstalled"));
    started = false;
}

TEST_F(AppStateTest, EachTriggerAsksForOneImmediateRescanAlsoAfterASecondStart) {
    startAndSettle();
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        if (start == 1) {
            loop.run(state->startAfterOnboarding());
            loop.advance(10ms);
            EXPECT_EQ(capture.count("appState", "Scan stream ended unexpectedly"), 1u);
            EXPECT_EQ(capture.count("appState", "Display stream ended unexpectedly"), 1u);
            EXPECT_EQ(ns::Workspace::shared().notificationCenter().observerCount(), 2u);
        }
        // Quiet: one scan per 2 s. With a request during the sleep, one more right after it.
        std::size_t before = scans();
        loop.advance(2s);
        EXPECT_EQ(scans(), before + 1);
        before = scans();
        world->launchApplication(sim::ProcessSpec(std::nullopt, "org.example.Late", "Late"));
        loop.advance(2s);
        EXPECT_EQ(scans(), before + 2);
    }
}

}  // namespace

TEST_F(AppStateTest, AFailedLoadReplacesAnArrangementLoadedBeforeWithTheEmptyOne) {
    IconArrangement stored = IconArrangement::empty();
    stored.assign(MenuBarItemID(std::string("com.example.Clock"), 0), MenuBarItemVisibility::hiddenByNotch);
    writeArrangementFile(stored.encodedDocument());
    startAndSettle();
    ASSERT_EQ(state->currentArrangement().assignments().size(), 1u);
    state->stop();
    loop.advance(1s);

    writeArrangementFile("[1, 2");
    loop.run(state->arrangementStore()->invalidateCache());
    loop.run(state->start());
    loop.advance(10ms);
    EXPECT_TRUE(capture.first("appState", "Failed to load arrangement: "));
    EXPECT_EQ(state->currentArrangement(), IconArrangement::empty());
    EXPECT_TRUE(state->currentArrangement().assignments().empty());
}

TEST_F(AppStateTest, AnArrangementFileMendedAfterAFailedLoadIsTakenAndTheMoveAppliedToIt) {
    const MenuBarItemID clock(std::string("com.example.Clock"), 0);
    const MenuBarItemID battery(std::string("com.example.Battery"), 0);
    const MenuBarItemID first(std::string("org.example.First"), 0);
    const MenuBarItemID second(std::string("org.example.Second"), 0);
    IconArrangement mended = IconArrangement::empty();
    mended.assign(clock, MenuBarItemVisibility::hiddenByNotch);
    mended.assign(battery, MenuBarItemVisibility::stashbay);
    struct Case {
        const char* what;
        bool firstSaveFails;
        bool mend;
        std::vector<MenuBarItemID> saved;
        bool keptAside;
    } cases[] = {
        {"mended before the first move", false, true, {clock, battery, first}, false},
        {"still unreadable", false, false, {first}, true},
        {"mended after a first save that failed", true, true, {clock, battery, second}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reload();
        writeArrangementFile("{ not json");
        startAndSettle();
        ASSERT_TRUE(capture.first("appState", "Failed to load arrangement: "));
        ns::FileFaults full;
        full.writeFailsAfterBytes = 0;
        if (c.firstSaveFails) {
            ns::FileManager::defaultManager().setFaults(full);
            loop.run(state->moveItem(first, SectionType::visible, 0));
            ns::FileManager::defaultManager().setFaults({});
        }
        if (c.mend) writeArrangementFile(mended.encodedDocument());
        loop.run(state->moveItem(c.firstSaveFails ? second : first, SectionType::visible, 0));

        auto saved = IconArrangement::decodeDocument(readArrangementFile());
        EXPECT_EQ(saved, state->currentArrangement());
        std::vector<MenuBarItemID> ids;
        for (const auto& [id, visibility] : saved.assignments()) ids.push_back(id);
        EXPECT_EQ(std::unordered_set<MenuBarItemID>(ids.begin(), ids.end()),
                  std::unordered_set<MenuBarItemID>(c.saved.begin(), c.saved.end()));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(arrangementFile().parent_path()),
                                std::filesystem::directory_iterator{}),
                  c.keptAside ? 2 : 1);
        EXPECT_EQ(capture.count("appState", "Loaded arrangement with 2 items"), c.mend ? 1u : 0u);
    }
}
