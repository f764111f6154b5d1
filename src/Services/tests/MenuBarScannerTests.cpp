#include "Services/IdleHeapTrim.hpp"
#include "Services/MenuBarScanner.hpp"
#include "System/WindowListBridge.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace stashbay;
using namespace std::chrono_literals;

namespace {

struct Received {
    runtime::Instant at;
    MenuBarScanner::Snapshot items;
};

// Reads a snapshot stream on the main executor and keeps what arrived and when.
struct Consumer {
    std::vector<Received> received;
    bool ended = false;
    runtime::Duration slowness{0};
};

runtime::Task<void> consume(MenuBarScanner::SnapshotStream stream, std::shared_ptr<Consumer> consumer) {
    for (;;) {
        auto reading = stream.next();
        auto next = co_await reading;
        if (!next) break;
        consumer->received.push_back({runtime::now(), std::move(*next)});
        if (consumer->slowness > runtime::Duration::zero()) {
            auto sleeping = runtime::sleepFor(consumer->slowness);
            co_await sleeping;
        }
    }
    consumer->ended = true;
}

runtime::Task<void> startAndConsume(std::shared_ptr<MenuBarScanner> scanner, std::shared_ptr<Consumer> consumer) {
    auto starting = scanner->startScanning();
    auto stream = co_await starting;
    auto consuming = consume(std::move(stream), consumer);
    co_await consuming;
}

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override { os::LogStore::shared().setEchoToStderr(false); }

    std::shared_ptr<Consumer> start() {
        auto consumer = std::make_shared<Consumer>();
        auto stream = loop.run(scanner->startScanning());
        runtime::spawn(runtime::mainExecutor(), consume(std::move(stream), consumer));
        loop.runUntilIdle();
        return consumer;
    }

    // Like start(), but the consumer waits before the first scan is published, so it sees two
    // snapshots published one right after the other.
    std::shared_ptr<Consumer> startReadingAtOnce() {
        auto consumer = std::make_shared<Consumer>();
        runtime::spawn(runtime::mainExecutor(), startAndConsume(scanner, consumer));
        loop.runUntilIdle();
        return consumer;
    }

    static std::vector<double> gapsInSeconds(const Consumer& c) {
        std::vector<double> gaps;
        for (std::size_t i = 1; i < c.received.size(); ++i)
            gaps.push_back(runtime::seconds(c.received[i].at - c.received[i - 1].at));
        return gaps;
    }

    static std::vector<std::string> names(const MenuBarScanner::Snapshot& items) {
        std::vector<std::string> out;
        for (const auto& i : items) out.push_back(i.displayName());
        return out;
    }

    runtime::ManualLoop loop;
    std::unique_ptr<sim::World> world = std::make_unique<sim::World>();
    std::shared_ptr<MenuBarScanner> scanner = MenuBarScanner::create();
    os::LogCapture log;
};

// Application B of the small world, launched again under a new process id.
sim::ProcessSpec applicationB() {
    sim::ProcessSpec spec{std::nullopt, "com.b", "B"};
    sim::StatusItemSpec item;
    item.title = "B";
    item.width = 30;
    spec.statusItems.push_back(item);
    return spec;
}

sim::Scenario smallWorld() {
    return sim::parseScenario(R"({
      "version": 1,
      "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
                   "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 576}, "displayNumber": 3}],
      "menuBar": {"leftLimit": 100},
      "applications": [
        {"pid": 10, "bundleIdentifier": "com.a", "name": "A", "statusItems": [{"title": "A", "width": 30}]},
        {"pid": 11, "bundleIdentifier": "com.b", "name": "B", "statusItems": [{"title": "B", "width": 30}]},
        {"pid": 12, "bundleIdentifier": "com.c", "name": "C", "statusItems": [{"title": "C", "width": 30}]}
      ]})",
                              "small.json");
}

}  // namespace

TEST_F(ScannerTest, StartAndStopRecordTheirTransitions) {
    loop.run(scanner->stopScanning());
    EXPECT_EQ(log.texts("scanning", os::LogLevel::info), (std::vector<std::string>{"Menu bar scanning stopped"}));
    log.clear();
    auto consumer = start();
    auto info = log.texts("scanning", os::LogLevel::info);
    ASSERT_GE(info.size(), 2u);
    EXPECT_EQ(info[0], "Menu bar scanning stopped");
    EXPECT_EQ(info[1], "Menu bar scanning started");
    loop.run(scanner->stopScanning());
    loop.runUntilIdle();
    EXPECT_TRUE(consumer->ended);
}

TEST_F(ScannerTest, DefaultWorldSnapshotHoldsEveryItemWithWhatTheWorldPlaced) {
    auto consumer = start();
    ASSERT_EQ(consumer->received.size(), 1u) << "the first snapshot comes after one scan, without a wait";
    const auto& items = consumer->received[0].items;
    auto placed = world->statusItems();
    ASSERT_EQ(items.size(), placed.size());
    std::map<std::string, std::int64_t> ranks;
    int hidden = 0, offBar = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto& item = items[i];
        const auto* truth = placed[i];
        SCOPED_TRACE(item.displayName());
        EXPECT_EQ(item.windowID(), truth->window) << "right to left, as the bar lays them out";
        // The scenario's one item without a status window is matched to none and has no icon.
        const bool windowless = truth->window == 0;
        EXPECT_EQ(item.isVerified(), !windowless);
        EXPECT_EQ(item.ownerPID(), truth->owner);
        // Seen exactly when on the bar and not behind the camera housing (centre left of 870).
        bool seen = truth->onBar && truth->frame.midX() >= 870.0;
        EXPECT_EQ(item.isOnScreen(), seen);
        EXPECT_EQ(item.isOnScreen(), truth->shown) << "the desktop draws in the bar exactly what the app sees";
        if (!item.isOnScreen()) ++hidden;
        if (!truth->onBar) ++offBar;
        auto owner = world->processes().find(truth->owner);
        std::string key = owner->bundleIdentifier().value_or("pid-" + std::to_string(truth->owner));
        EXPECT_EQ(item.id(), MenuBarItemID(key, ranks[key]++));
        EXPECT_EQ(item.capturedImage() != nullptr, !windowless);
    }
    EXPECT_GE(hidden, 5);
    // The items that do not fit beside the housing fill it; the rest are off the bar.
    EXPECT_EQ(offBar, 8);
    EXPECT_TRUE(log.first("scanning",
                          "hybridDetect complete: 31 items (13 hidden, 18 visible), notch=true, "
                          "notchRect=(662.0, 945.0, 188.0, 37.0)"));
}

TEST_F(ScannerTest, IdleIntervalComesFromTheStoredScanInterval) {
    struct Case {
        std::optional<double> stored;
        double gap;
    } cases[] = {{std::nullopt, 2.0}, {0.0, 2.0}, {-3.0, 2.0}, {0.5, 0.5}, {15.0, 15.0}};
    for (const auto& c : cases) {
        ns::UserDefaults::resetStandard(std::nullopt);
        if (c.stored) ns::UserDefaults::standard().set(*c.stored, "scanInterval");
        EXPECT_EQ(runtime::seconds(scanner->idleScanInterval()), c.gap);
    }
    ns::UserDefaults::standard().set(1e300, "scanInterval");
    EXPECT_EQ(runtime::seconds(scanner->idleScanInterval()), MenuBarScanner::longestWait);
}

TEST_F(ScannerTest, WaitsAreCountedFromTheEndOfEachScanAndAChangeAppliesToTheNextWait) {
    auto consumer = start();
    loop.advance(3s);
    ns::UserDefaults::standard().set(5.0, "scanInterval");
    loop.advance(20s);
    auto gaps = gapsInSeconds(*consumer);
    ASSERT_GE(gaps.size(), 4u);
    EXPECT_EQ(gaps[0], 2.0);
    EXPECT_EQ(gaps[1], 2.0) << "the wait under way keeps its length";
    EXPECT_EQ(gaps[2], 5.0);
}

TEST_F(ScannerTest, ARescanRequestedWhileIdleIsServedAfterTheFirstScanOfTheNextStart) {
    start();
    loop.advance(1s);
    loop.run(scanner->stopScanning());
    loop.run(scanner->triggerRescan());
    loop.advance(10s);
    auto consumer = startReadingAtOnce();
    loop.advance(3s);
    auto gaps = gapsInSeconds(*consumer);
    ASSERT_GE(gaps.size(), 2u);
    EXPECT_EQ(gaps[0], 0.0) << "the request survives the stop and is served at once";
    EXPECT_EQ(gaps[1], 2.0) << "and only once";
}

TEST_F(ScannerTest, RescansNeverShortenAWaitAndCoalesce) {
    auto consumer = start();
    loop.advance(1s);
    loop.run(scanner->triggerRescan());
    loop.run(scanner->triggerRescan());
    loop.run(scanner->triggerRescan());
    loop.advance(10s);
    auto gaps = gapsInSeconds(*consumer);
    ASSERT_GE(gaps.size(), 3u);
    EXPECT_EQ(gaps[0], 2.0) << "the wait under way runs to its end";
    EXPECT_EQ(gaps[1], 0.0) << "one extra scan follows at once";
    EXPECT_EQ(gaps[2], 2.0) << "several requests give one extra scan";
}

TEST_F(ScannerTest, ARescanRequestedDuringAScanRunsRightAfterItsPublication) {
    // Every capture goes through the screen-capture framework, which takes virtual time.
    world->faults().windowImageFails = true;
    auto consumer = start();
    loop.advance(2s + 100ms);  // the second scan is under way
    ASSERT_EQ(consumer->received.size(), 1u);
    loop.run(scanner->triggerRescan());
    loop.advance(10s);
    ASSERT_GE(consumer->received.size(), 4u);
    // The third scan starts as soon as the second is published: the gap is its own length,
    // well under the 2 s wait that follows it.
    EXPECT_LT(consumer->received[2].at - consumer->received[1].at, 1s);
    EXPECT_GT(consumer->received[3].at - consumer->received[2].at, 2s);
}

TEST_F(ScannerTest, PausesSuspendScanningAndAnotherPauseExtendsThem) {
    auto consumer = start();
    loop.run(scanner->pauseFor(15.0));
    loop.advance(10s);
    EXPECT_EQ(consumer->received.size(), 1u);
    loop.run(scanner->pauseFor(15.0));
    loop.advance(14s);
    EXPECT_EQ(consumer->received.size(), 1u) << "the pause ends 15 s after the second call";
    loop.advance(1200ms);
    EXPECT_EQ(consumer->received.size(), 2u) << "scanning resumes within 200 ms";
    EXPECT_TRUE(log.contains("scanning", os::LogLevel::debug, "Scanning paused for 15.000000s"));
    EXPECT_EQ(log.count("scanning", "Scanning resumed"), 1u);
}

TEST_F(ScannerTest, APauseRequestedDuringAScanLetsThatScanPublish) {
    world->faults().windowImageFails = true;  // captures take virtual time: the first scan, 1.1 s
    auto consumer = start();
    loop.advance(500ms);
    ASSERT_EQ(consumer->received.size(), 0u) << "the first scan is under way";
    loop.run(scanner->pauseFor(15.0));
    loop.advance(2s);
    ASSERT_EQ(consumer->received.size(), 1u) << "the interrupted scan completes and is published";
    EXPECT_GT(consumer->received[0].at, runtime::Instant{} + 500ms);
    EXPECT_FALSE(consumer->received[0].items.empty());
    loop.advance(12s);
    EXPECT_EQ(consumer->received.size(), 1u) << "no further scan while paused";
}

TEST_F(ScannerTest, StoppingClearsAPauseSoARestartedScannerScans) {
    start();
    loop.run(scanner->pauseFor(15.0));
    loop.run(scanner->stopScanning());
    EXPECT_FALSE(loop.run(scanner->isPaused()));
    auto consumer = start();
    EXPECT_EQ(consumer->received.size(), 1u);
}

TEST_F(ScannerTest, AnOpenPanelScansEveryHalfSecond) {
    auto consumer = start();
    loop.run(scanner->setPanelOpen(true));
    loop.advance(2s);  // the first wait keeps its length
    loop.advance(1s);
    loop.run(scanner->setPanelOpen(false));
    loop.advance(5s);
    auto gaps = gapsInSeconds(*consumer);
    ASSERT_GE(gaps.size(), 4u);
    EXPECT_EQ(gaps[0], 2.0);
    EXPECT_EQ(gaps[1], 0.5);
    EXPECT_EQ(gaps[2], 0.5);
    EXPECT_TRUE(log.contains("scanning", os::LogLevel::debug, "Panel open state changed to true"));
}

TEST_F(ScannerTest, GoingIdleWithFreeHeapTrimsItOnceAMinuteAtMost) {
    // The heap as the trim sees it: what is free, and each trim with when it came.
    std::size_t free = 8 << 20;
    std::vector<std::pair<runtime::Instant, std::size_t>> trims;
    scanner = MenuBarScanner::create(std::make_shared<IdleHeapTrim>(IdleHeapTrim::Heap{[&free] { return free; },
                                                                                       [&](std::size_t keep) {
                                                                                           trims.emplace_back(
                                                                                               loop.now(), keep);
                                                                                           free = keep;
                                                                                       }}));
    auto consumer = start();
    ASSERT_EQ(consumer->received.size(), 1u);
    ASSERT_EQ(trims.size(), 1u) << "as the first scan goes idle";
    EXPECT_EQ(trims[0].second, IdleHeapTrim::keptFree);

    // A later peak, freed: trimmed at the first idle a minute after the last look, not before.
    loop.advance(10s);
    free = 6 << 20;
    loop.advance(40s);
    EXPECT_EQ(trims.size(), 1u);
    loop.advance(12s);
    ASSERT_EQ(trims.size(), 2u);
    EXPECT_GE(trims[1].first - trims[0].first, IdleHeapTrim::lookInterval);
    EXPECT_LT(trims[1].first - trims[0].first, IdleHeapTrim::lookInterval + scanner->idleScanInterval() + 1s);
    // Little free heap: a look trims nothing.
    free = 512 << 10;
    loop.advance(70s);
    EXPECT_EQ(trims.size(), 2u);
    EXPECT_GT(consumer->received.size(), 60u) << "the scans went on";
}

TEST_F(ScannerTest, ASlowConsumerGetsOnlyTheNewestSnapshot) {
    auto consumer = std::make_shared<Consumer>();
    consumer->slowness = 5s;
    auto stream = loop.run(scanner->startScanning());
    runtime::spawn(runtime::mainExecutor(), consume(std::move(stream), consumer));
    loop.advance(11s);
    // Scans at 0, 2, 4, 6, 8, 10; reads at 0, 5 (the scan of 4) and 10 (the scan of 10).
    ASSERT_EQ(consumer->received.size(), 3u);
    EXPECT_EQ(consumer->received[1].at, runtime::Instant{} + 5s);
}

TEST_F(ScannerTest, RestartEndsTheEarlierStream) {
    auto first = start();
    loop.advance(1s);
    auto second = start();
    EXPECT_TRUE(first->ended);
    EXPECT_FALSE(second->ended);
    loop.advance(4s);
    EXPECT_EQ(second->received.size(), 3u) << "only the new loop scans: at 1, 3 and 5 s";
}

TEST_F(ScannerTest, ScanOfOneAndAQuarterSecondsLogs1250ms) {
    world.reset();
    auto scenario = smallWorld();
    world = std::make_unique<sim::World>(scenario);
    // Stashbay answers for free; each of the three applications' seven reads costs 1250/21 ms.
    for (int pid : {10, 11, 12}) world->behaviour(pid).accessibilityCallCost = std::chrono::microseconds(59524);
    loop.run(scanner->scanOnce());
    EXPECT_TRUE(log.first("scanning", "Scan completed: 3 items in 1250ms"));
}

TEST_F(ScannerTest, ScanOnceIsNotPublishedButUpdatesTheDebounceState) {
    auto consumer = start();
    world->quitApplication(411);
    auto result = loop.run(scanner->scanOnce());
    EXPECT_EQ(consumer->received.size(), 1u);
    auto counters = loop.run(scanner->absenceCountersForTesting());
    EXPECT_EQ(counters.size(), 2u) << "Muffle's two items are counted absent once";
    EXPECT_EQ(result.size(), world->statusItems().size() + 2);
}

TEST_F(ScannerTest, AQuitApplicationsItemsStayForTwoScansAndComeBackAtOnceWithTheSameIdentities) {
    world.reset();
    world = std::make_unique<sim::World>(smallWorld());
    auto consumer = start();
    auto before = consumer->received.back().items;
    world->quitApplication(11);
    loop.advance(6s);
    ASSERT_EQ(consumer->received.size(), 4u);
    EXPECT_EQ(names(consumer->received[1].items), (std::vector<std::string>{"A", "C", "B"}));
    EXPECT_EQ(names(consumer->received[2].items), (std::vector<std::string>{"A", "C", "B"}));
    EXPECT_EQ(names(consumer->received[3].items), (std::vector<std::string>{"A", "C"}));
    EXPECT_TRUE(log.contains("scanning", os::LogLevel::debug, "Debouncing B: absent 2/3"));
    EXPECT_TRUE(log.contains("scanning", os::LogLevel::debug, "Dropped B after 3 absent scans"));

    sim::ProcessSpec again{std::nullopt, "com.b", "B"};
    sim::StatusItemSpec b;
    b.title = "B";
    b.width = 30;
    again.statusItems.push_back(b);
    world->launchApplication(again);
    loop.advance(2s);
    auto back = consumer->received.back().items;
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[2].displayName(), "B");
    EXPECT_EQ(back[2].id(), before[1].id());
}

TEST_F(ScannerTest, AnItemThatCameBackStartsItsAbsenceCountAgain) {
    world.reset();
    world = std::make_unique<sim::World>(smallWorld());
    auto scan = [&] { return names(loop.run(scanner->scanOnce())); };
    const std::vector<std::string> all{"A", "C", "B"};
    ASSERT_EQ(scan(), (std::vector<std::string>{"A", "B", "C"}));
    world->quitApplication(11);
    EXPECT_EQ(scan(), all) << "absent once";
    auto b = world->launchApplication(applicationB());
    ASSERT_EQ(scan().size(), 3u) << "back";
    world->quitApplication(b->pid());
    EXPECT_EQ(scan(), all) << "absent once again, not twice";
    EXPECT_EQ(scan(), all) << "absent twice";
    EXPECT_EQ(scan(), (std::vector<std::string>{"A", "C"})) << "dropped on the third absence";
    EXPECT_EQ(log.count("scanning", "Dropped B after 3 absent scans"), 1u);
}

// Counters are kept only for items the snapshot still carries: items that never come back leave
// none behind after their third absent scan, whether one owner quit or every item vanished at once.
TEST_F(ScannerTest, ItemsGoneForGoodLeaveNoAbsenceCountersAfterTheirThirdAbsentScan) {
    const std::vector<std::pair<std::string, std::function<void(sim::World&)>>> losses{
        {"one owner quits", [](sim::World& w) { w.quitApplication(11); }},
        {"accessibility revoked", [](sim::World& w) { w.permissions().accessibility = false; }},
    };
    for (const auto& [what, lose] : losses) {
        SCOPED_TRACE(what);
        world.reset();
        world = std::make_unique<sim::World>(smallWorld());
        scanner = MenuBarScanner::create();
        ASSERT_EQ(loop.run(scanner->scanOnce()).size(), 3u);
        lose(*world);
        MenuBarScanner::Snapshot snapshot;
        for (int scan = 1; scan <= 3; ++scan) {
            snapshot = loop.run(scanner->scanOnce());
            auto counters = loop.run(scanner->absenceCountersForTesting());
            EXPECT_LE(counters.size(), snapshot.size()) << "after absent scan " << scan;
        }
        EXPECT_TRUE(loop.run(scanner->absenceCountersForTesting()).empty());
        for (int scan = 0; scan < 5; ++scan) loop.run(scanner->scanOnce());
        EXPECT_TRUE(loop.run(scanner->absenceCountersForTesting()).empty()) << "nothing comes back";
    }
}

TEST_F(ScannerTest, WithoutAccessibilityTheSnapshotIsEmptyAndAnErrorIsLogged) {
    world->permissions().accessibility = false;
    auto consumer = start();
    ASSERT_EQ(consumer->received.size(), 1u);
    EXPECT_TRUE(consumer->received[0].items.empty());
    EXPECT_TRUE(log.contains("scanning", os::LogLevel::error, "Scan returned 0 items — possible permissions issue"));
}

TEST_F(ScannerTest, AWindowListAnsweringNilVerifiesNothing) {
    world->faults().windowListUnavailable = true;
    auto items = loop.run(scanner->scanOnce());
    ASSERT_FALSE(items.empty());
    for (const auto& item : items) {
        EXPECT_FALSE(item.isVerified());
        EXPECT_EQ(item.windowID(), 0u);
        EXPECT_EQ(item.capturedImage(), nullptr);
    }
    EXPECT_TRUE(log.contains("scanning", os::LogLevel::error, "CGWindowListCopyWindowInfo returned nil."));
}

TEST_F(ScannerTest, AFailingCaptureLeavesThatItemWithoutAnIcon) {
    auto* lumen = world->mutableStatusItem(world->statusItems()[13]->id);
    ASSERT_EQ(lumen->spec.title, "Lumen");
    world->windowServer().find(lumen->window)->captureFails = true;
    auto items = loop.run(scanner->scanOnce());
    int withoutIcon = 0;
    for (const auto& item : items) {
        // The scenario's item without a status window has nothing to capture.
        if (item.capturedImage() || item.windowID() == 0) continue;
        ++withoutIcon;
        EXPECT_EQ(item.displayName(), "Lumen");
    }
    EXPECT_EQ(withoutIcon, 1);
    EXPECT_TRUE(log.first("scanning", "Image capture failed for window " + std::to_string(lumen->window) + " (Lumen)"));
    EXPECT_TRUE(log.first("scanning", "Image capture: 29/31 icons captured"));
}

TEST_F(ScannerTest, AHungApplicationsItemsAreMissingAndTheScanShowsTheTimeout) {
    world->behaviour(411).hung = true;
    auto items = loop.run(scanner->scanOnce());
    for (const auto& item : items) EXPECT_NE(item.ownerPID(), 411);
    EXPECT_EQ(items.size(), world->statusItems().size() - 2);
    EXPECT_TRUE(log.first("scanning", "Scan completed: 29 items in 6000ms"));
}

TEST_F(ScannerTest, AScreenUnpluggedInTheMiddleOfAScanIsSeenByTheNextScan) {
    world->faults().windowImageFails = true;  // captures take virtual time: the first scan, 1.1 s
    auto consumer = start();
    // The first scan has read the screens and is capturing icons.
    world->schedule(500ms, [this] { world->removeScreen(0); });
    loop.advance(10s);
    ASSERT_GE(consumer->received.size(), 2u);
    // The interrupted scan read the screen before it went; its snapshot is still published.
    const auto& interrupted = consumer->received[0];
    EXPECT_GT(interrupted.at, runtime::Instant{} + 500ms);
    EXPECT_EQ(interrupted.items.size(), world->statusItems().size());
    EXPECT_TRUE(std::any_of(interrupted.items.begin(), interrupted.items.end(),
                            [](const MenuBarItem& item) { return item.isOnScreen(); }));
    for (const auto& item : consumer->received.back().items) EXPECT_FALSE(item.isOnScreen());
}

TEST_F(ScannerTest, IconsComeFromTheCacheForThirtySeconds) {
    world.reset();
    world = std::make_unique<sim::World>(smallWorld());
    auto captures = [&] { return world->captureService().windowImageRequests; };
    loop.run(scanner->scanOnce());
    int first = captures();
    EXPECT_EQ(first, 3);
    EXPECT_TRUE(log.first("scanning", "Image capture: 3/3 icons captured"));
    loop.advance(29s);
    loop.run(scanner->scanOnce());
    EXPECT_EQ(captures(), first) << "29 s old: reused";
    loop.advance(1s);
    loop.run(scanner->scanOnce());
    EXPECT_EQ(captures(), first) << "exactly 30 s old: still reused";
    EXPECT_TRUE(log.first("scanning", "Image capture: 0/3 icons captured"));
    loop.advance(1s);
    world->faults().windowImageFails = true;
    world->faults().screenshotFails = true;
    auto items = loop.run(scanner->scanOnce());
    for (const auto& item : items) EXPECT_EQ(item.capturedImage(), nullptr) << "an expired entry is not served";
    world->faults().windowImageFails = false;
    world->faults().screenshotFails = false;
    int beforeRetry = captures();
    loop.run(scanner->scanOnce());
    EXPECT_EQ(captures(), beforeRetry + 3) << "failures are not stored: the next scan captures again";
}

// An application that quits while detection is still asking the others: its items were read, but
// its status window and its running-application record are gone by the time they are matched and
// named. Scripted once by the number of the accessibility call, once by a virtual instant that
// falls inside a call into another application. A's item is the leftmost, so no other item moves
// into its place when it goes.
TEST_F(ScannerTest, AnApplicationQuittingMidDetectionLeavesItsItemsUnknownAndIdentifiedByProcessId) {
    struct Case {
        const char* name;
        const char* script;
    };
    const Case cases[] = {
        {"at C's first call", R"({"action": "quit", "pid": 10, "atAccessibilityCall": 1, "callsTo": 12})"},
        {"inside a call into C", R"({"action": "quit", "pid": 10, "atMs": 50})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        world.reset();
        // Asked in this order: B, A, then C (no items, slow to answer).
        auto text = std::string(R"({
          "version": 1,
          "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
                       "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 576}, "displayNumber": 3}],
          "menuBar": {"leftLimit": 100},
          "applications": [
            {"pid": 11, "bundleIdentifier": "com.b", "name": "B", "statusItems": [{"title": "B", "width": 30}]},
            {"pid": 10, "bundleIdentifier": "com.a", "name": "A", "statusItems": [{"title": "A", "width": 30}]},
            {"pid": 12, "bundleIdentifier": "com.c", "name": "C", "behaviour": {"accessibilityCallCostMs": 100}}
          ],
          "script": [)") +
                    c.script + "]}";
        world = std::make_unique<sim::World>(sim::parseScenario(text, "quits.json"));
        scanner = MenuBarScanner::create();
        auto items = loop.run(scanner->scanOnce());
        ASSERT_EQ(items.size(), 2u);
        EXPECT_EQ(world->processes().find(10), nullptr);
        auto a = std::find_if(items.begin(), items.end(), [](const MenuBarItem& i) { return i.title() == "A"; });
        ASSERT_NE(a, items.end());
        EXPECT_EQ(a->ownerName(), "Unknown");
        EXPECT_EQ(a->ownerBundleID(), std::nullopt);
        EXPECT_EQ(a->id(), MenuBarItemID("pid-10", 0));
        EXPECT_FALSE(a->isVerified());
        EXPECT_EQ(a->windowID(), 0u);
        EXPECT_EQ(a->capturedImage(), nullptr);
        auto b = std::find_if(items.begin(), items.end(), [](const MenuBarItem& i) { return i.title() == "B"; });
        ASSERT_NE(b, items.end());
        EXPECT_EQ(b->id(), MenuBarItemID("com.b", 0));
        EXPECT_TRUE(b->isVerified());
    }
}

// Newer systems name the control-centre application as the owner of every status window. The
// scan keeps its rules: other applications' items come from accessibility alone, unverified,
// without a window number or an icon; the control centre's own items still find their windows.
TEST_F(ScannerTest, StatusWindowsOwnedByTheControlCentreLeaveOtherItemsUnverifiedWithoutIcons) {
    world.reset();
    auto scenario = sim::defaultScenario();
    scenario.statusWindowsOwnedByControlCenter = true;
    world = std::make_unique<sim::World>(scenario);
    const sim::ProcessID controlCentre = 304;
    for (const auto& w : WindowListBridge::menuBarWindows()) EXPECT_EQ(w.ownerPID, controlCentre);

    auto items = loop.run(scanner->scanOnce());
    EXPECT_EQ(items.size(), world->statusItems().size()) << "every item is still found";
    int verified = 0;
    for (const auto& item : items) {
        SCOPED_TRACE(item.displayName());
        if (item.ownerPID() == controlCentre) {
            verified += item.isVerified() ? 1 : 0;
            continue;
        }
        EXPECT_FALSE(item.isVerified());
        EXPECT_EQ(item.windowID(), 0u);
        EXPECT_EQ(item.capturedImage(), nullptr);
    }
    EXPECT_EQ(verified, 4);
    EXPECT_TRUE(log.first("scanning", "Image capture: 4/31 icons captured"));
}

// Above the cache's hundred entries: 200 status windows. Visited in one order every scan, each
// entry would be evicted just before its next use; the scans alternate, so that every scan after
// the first finds half of the icons in the cache.
TEST_F(ScannerTest, TwoHundredIconsAreHalfServedFromTheCacheInEveryLaterScan) {
    sim::Scenario scenario = smallWorld();
    scenario.applications.clear();
    for (int a = 0; a < 50; ++a) {
        sim::ProcessSpec app{20 + a, "com.example.app" + std::to_string(a), "App " + std::to_string(a)};
        for (int i = 0; i < 4; ++i) {
            sim::StatusItemSpec item;
            item.title = "Item " + std::to_string(i);
            item.width = 24;
            app.statusItems.push_back(item);
        }
        scenario.applications.push_back(app);
    }
    world.reset();
    world = std::make_unique<sim::World>(scenario);
    auto detected = loop.run(scanner->hybridDetectForTesting());
    ASSERT_EQ(detected.size(), 200u);
    for (const auto& item : detected) ASSERT_NE(item.windowID(), 0u);

    auto captures = [&] { return world->captureService().windowImageRequests; };
    int before = captures();
    loop.run(scanner->captureIconsForTesting(detected));
    EXPECT_EQ(captures() - before, 200) << "an empty cache serves nothing";
    for (int scan = 0; scan < 4; ++scan) {
        SCOPED_TRACE(scan);
        before = captures();
        auto items = loop.run(scanner->captureIconsForTesting(detected));
        EXPECT_EQ(captures() - before, 100) << "a hit rate of one half";
        EXPECT_EQ(loop.run(scanner->imageCacheCountForTesting()), 100u) << "the count limit stays";
        ASSERT_EQ(items.size(), detected.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].id(), detected[i].id()) << "items keep their places, whatever the visit's order";
            EXPECT_NE(items[i].capturedImage(), nullptr);
        }
    }
    EXPECT_EQ(log.count("scanning", "Image capture: 100/200 icons captured"), 4u);
}
