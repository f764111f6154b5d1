#include "Services/DisplayManager.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using stashbay::DisplayInfo;
using stashbay::DisplayManager;

namespace {

constexpr const char* stopped = "Display monitoring stopped";
constexpr const char* started = "Display monitoring started";
constexpr const char* changeReceived = "Display change notification received, waiting for settle...";
constexpr const char* builtInRecord = "  Built-in Display: 0.0,0.0 1512.0x982.0, notch=true, main=true";

struct Received {
    runtime::Instant at;
    std::vector<DisplayInfo> displays;
};

// What one consumer of the display stream saw.
struct Consumer {
    std::vector<Received> lists;
    bool ended = false;
};

runtime::Task<void> consume(DisplayManager::DisplayStream stream, Consumer* consumer) {
    for (;;) {
        auto next = co_await stream.next();
        if (!next) break;
        consumer->lists.push_back(Received{runtime::now(), std::move(*next)});
    }
    consumer->ended = true;
}

// The helpers get the manager without owning it: the test decides when it goes.
runtime::Task<void> startAndConsume(DisplayManager* manager, Consumer* consumer) {
    auto stream = co_await manager->startMonitoring();
    auto reading = consume(std::move(stream), consumer);
    co_await reading;
}

runtime::Task<void> startOnly(DisplayManager* manager, std::optional<DisplayManager::DisplayStream>* out) {
    *out = co_await manager->startMonitoring();
}

sim::ScreenSpec screen(std::string name, cg::Rect frame) {
    sim::ScreenSpec spec;
    spec.localizedName = std::move(name);
    spec.frame = frame;
    spec.visibleFrame = cg::Rect(frame.origin.x, frame.origin.y, frame.size.width, frame.size.height - 25);
    spec.displayNumber = static_cast<std::uint32_t>(frame.origin.x + 10000);
    return spec;
}

std::vector<std::string> names(const std::vector<DisplayInfo>& displays) {
    std::vector<std::string> out;
    for (const auto& d : displays) out.push_back(d.displayName());
    return out;
}

// The default world: one notched built-in panel, 1512 x 982 at the origin.
class DisplayManagerTest : public ::testing::Test {
protected:
    void SetUp() override { os::LogStore::shared().setEchoToStderr(false); }

    // The manager's own records; the notch records of each screen reading are left out.
    std::vector<std::string> managerTexts() const {
        std::vector<std::string> out;
        for (const auto& text : capture.texts("display")) {
            if (text.rfind("Notch detected", 0) == 0 || text.rfind("No notch detected", 0) == 0) continue;
            out.push_back(text);
        }
        return out;
    }
    std::size_t count(const std::string& text) const { return capture.count("display", text); }

    void start(Consumer& consumer) {
        runtime::spawn(runtime::mainExecutor(), startAndConsume(manager.get(), &consumer));
        loop.runUntilIdle();
    }
    void stop() { loop.run(manager->stopMonitoring()); }
    void addExternalScreen() {
        auto width = world.screens().screens().back()->spec().frame.maxX();
        world.addScreen(screen("Studio " + std::to_string(world.screens().size()), cg::Rect(width, 0, 1920, 1080)));
    }

    runtime::ManualLoop loop;
    sim::World world;
    os::LogCapture capture;
    std::shared_ptr<DisplayManager> manager = DisplayManager::create();
};

}  // namespace

TEST_F(DisplayManagerTest, FirstStartStopsThenStartsThenPublishesTheCurrentList) {
    addExternalScreen();
    Consumer consumer;
    start(consumer);

    ASSERT_EQ(consumer.lists.size(), 1u);
    EXPECT_EQ(consumer.lists[0].at, runtime::Instant{});
    EXPECT_EQ(names(consumer.lists[0].displays), (std::vector<std::string>{"Built-in Display", "Studio 1"}));
    EXPECT_EQ(managerTexts(),
              (std::vector<std::string>{stopped, started, "Displays updated: 2 screen(s) (was 0)", builtInRecord,
                                        "  Studio 1: 1512.0,0.0 1920.0x1080.0, notch=false, main=false"}));
    EXPECT_EQ(capture.texts("display", os::LogLevel::info),
              (std::vector<std::string>{stopped, started, "Displays updated: 2 screen(s) (was 0)"}));
    EXPECT_FALSE(consumer.ended);
}

TEST_F(DisplayManagerTest, TheBuiltInPanelsRecordCarriesItsNameFrameAndBothFlags) {
    Consumer consumer;
    start(consumer);

    auto record = capture.first("display", "  Built-in Display");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->level, os::LogLevel::debug);
    EXPECT_EQ(record->text, builtInRecord);
    EXPECT_EQ(record->format, "  %s: %s, notch=%{bool}d, main=%{bool}d");
    EXPECT_EQ(record->arguments, (std::vector<os::LogArgument>{std::string("Built-in Display"),
                                                               std::string("0.0,0.0 1512.0x982.0"), true, true}));
    EXPECT_EQ(record->subsystem, "app.stashbay.Stashbay");
}

TEST_F(DisplayManagerTest, FrameTextsAreTheShortestExactNumbersWithNegativeOriginsAndFractions) {
    world.addScreen(screen("Left", cg::Rect(-1920, 0, 1920, 1080)));
    world.addScreen(screen("Odd", cg::Rect(1512, 0.5, 1280.5, 720.25)));
    world.addScreen(screen("Tiny", cg::Rect(2792.5, -0.1, 0.1, 100.001)));
    Consumer consumer;
    start(consumer);

    EXPECT_EQ(capture.texts("display", os::LogLevel::debug),
              (std::vector<std::string>{
                  "Notch detected: x=662.000000, width=188.000000",
                  "No notch detected for screen at origin (-1920.000000, 0.000000).",
                  "No notch detected for screen at origin (1512.000000, 0.500000).",
                  "No notch detected for screen at origin (2792.500000, -0.100000).",
                  builtInRecord,
                  "  Left: -1920.0,0.0 1920.0x1080.0, notch=false, main=false",
                  "  Odd: 1512.0,0.5 1280.5x720.25, notch=false, main=false",
                  "  Tiny: 2792.5,-0.1 0.1x100.001, notch=false, main=false",
              }));
}

TEST_F(DisplayManagerTest, ABurstOfChangesGivesOneListHalfASecondAfterTheLastOne) {
    Consumer consumer;
    start(consumer);
    for (int i = 0; i < 5; ++i) {
        if (i > 0) loop.advance(100ms);
        world.moveScreen(0, cg::Point{0, 0});
        loop.runUntilIdle();
    }
    const auto fifth = loop.now();
    EXPECT_EQ(count(changeReceived), 5u);
    EXPECT_EQ(capture.texts("display", os::LogLevel::debug).back(), changeReceived);

    loop.advance(499ms);
    EXPECT_EQ(consumer.lists.size(), 1u);
    loop.advance(1ms);
    ASSERT_EQ(consumer.lists.size(), 2u);
    EXPECT_EQ(consumer.lists[1].at, fifth + 500ms);

    loop.advance(5s);
    EXPECT_EQ(consumer.lists.size(), 2u);
    EXPECT_EQ(count("Displays updated: 1 screen(s) (was 1)"), 1u);
}

TEST_F(DisplayManagerTest, ChangesFurtherApartThanTheSettleDelayEachGiveAList) {
    Consumer consumer;
    start(consumer);
    addExternalScreen();
    loop.advance(600ms);
    addExternalScreen();
    loop.advance(600ms);

    ASSERT_EQ(consumer.lists.size(), 3u);
    EXPECT_EQ(consumer.lists[1].displays.size(), 2u);
    EXPECT_EQ(consumer.lists[1].at, runtime::Instant{} + 500ms);
    EXPECT_EQ(consumer.lists[2].displays.size(), 3u);
    EXPECT_EQ(consumer.lists[2].at, runtime::Instant{} + 1100ms);
}

TEST_F(DisplayManagerTest, StoppingDuringTheSettleWaitReadsNothingAndEndsTheStream) {
    Consumer consumer;
    start(consumer);
    addExternalScreen();
    loop.advance(200ms);
    stop();
    capture.clear();
    loop.advance(2s);

    EXPECT_TRUE(consumer.ended);
    EXPECT_EQ(consumer.lists.size(), 1u);
    EXPECT_TRUE(capture.texts("display").empty());
    auto displays = loop.run(manager->currentDisplays());
    EXPECT_EQ(displays.size(), 1u);
}

TEST_F(DisplayManagerTest, ChangesAfterAStopAreNoLongerObserved) {
    Consumer consumer;
    start(consumer);
    stop();
    capture.clear();
    addExternalScreen();
    loop.advance(1s);

    EXPECT_TRUE(capture.texts("display").empty());
    EXPECT_EQ(ns::NotificationCenter::defaultCenter().observerCount(), 0u);
}

TEST_F(DisplayManagerTest, ASecondStartEndsTheFirstStreamAndPublishesAFreshList) {
    Consumer first;
    start(first);
    capture.clear();
    Consumer second;
    start(second);

    EXPECT_TRUE(first.ended);
    EXPECT_EQ(first.lists.size(), 1u);
    ASSERT_EQ(second.lists.size(), 1u);
    EXPECT_FALSE(second.ended);
    EXPECT_EQ(managerTexts(),
              (std::vector<std::string>{stopped, started, "Displays updated: 1 screen(s) (was 1)", builtInRecord}));

    // One observer is left, so a change is handled once.
    capture.clear();
    addExternalScreen();
    loop.advance(500ms);
    EXPECT_EQ(count(changeReceived), 1u);
    EXPECT_EQ(second.lists.size(), 2u);
}

TEST_F(DisplayManagerTest, DetachingEveryScreenPublishesAnEmptyListWithTheErrorRecord) {
    Consumer consumer;
    start(consumer);
    capture.clear();
    world.removeScreen(0);
    loop.advance(500ms);

    ASSERT_EQ(consumer.lists.size(), 2u);
    EXPECT_TRUE(consumer.lists[1].displays.empty());
    EXPECT_EQ(managerTexts(), (std::vector<std::string>{changeReceived, "Displays updated: 0 screen(s) (was 1)",
                                                        "Display update yielded 0 screens \u2014 anomalous state"}));
    EXPECT_EQ(capture.texts("display", os::LogLevel::error),
              (std::vector<std::string>{"Display update yielded 0 screens \u2014 anomalous state"}));
    EXPECT_TRUE(loop.run(manager->currentDisplays()).empty());
    EXPECT_FALSE(loop.run(manager->menuBarDisplay()));
}

TEST_F(DisplayManagerTest, ASlowConsumerGetsOnlyTheNewestList) {
    std::optional<DisplayManager::DisplayStream> stream;
    runtime::spawn(runtime::mainExecutor(), startOnly(manager.get(), &stream));
    loop.runUntilIdle();
    addExternalScreen();
    loop.advance(1s);
    addExternalScreen();
    loop.advance(1s);
    ASSERT_TRUE(stream);
    EXPECT_EQ(count("Displays updated: 3 screen(s) (was 2)"), 1u);

    Consumer consumer;
    runtime::spawn(runtime::mainExecutor(), consume(std::move(*stream), &consumer));
    loop.runUntilIdle();
    ASSERT_EQ(consumer.lists.size(), 1u);
    EXPECT_EQ(consumer.lists[0].displays.size(), 3u);

    stop();
    EXPECT_TRUE(consumer.ended);
}

TEST_F(DisplayManagerTest, StopWithoutStartOnlyWritesItsRecord) {
    stop();

    EXPECT_EQ(capture.texts("display"), (std::vector<std::string>{stopped}));
    EXPECT_EQ(capture.texts("display", os::LogLevel::info), (std::vector<std::string>{stopped}));
    EXPECT_TRUE(loop.run(manager->currentDisplays()).empty());
    EXPECT_EQ(ns::NotificationCenter::defaultCenter().observerCount(), 0u);
    addExternalScreen();
    loop.advance(1s);
    EXPECT_EQ(capture.texts("display"), (std::vector<std::string>{stopped}));
}

TEST_F(DisplayManagerTest, StoredDisplaysAreEmptyBeforeTheFirstListAndKeptAfterAStop) {
    EXPECT_TRUE(loop.run(manager->currentDisplays()).empty());
    EXPECT_FALSE(loop.run(manager->menuBarDisplay()));

    world.addScreen(screen("Studio", cg::Rect(-1920, 0, 1920, 1080)), 0);
    Consumer consumer;
    start(consumer);
    stop();
    world.removeScreen(1);
    world.removeScreen(0);
    loop.advance(1s);

    auto displays = loop.run(manager->currentDisplays());
    EXPECT_EQ(names(displays), (std::vector<std::string>{"Studio", "Built-in Display"}));
    auto main = loop.run(manager->menuBarDisplay());
    ASSERT_TRUE(main);
    EXPECT_EQ(main->displayName(), "Studio");
    EXPECT_TRUE(main->isMain());
}

TEST_F(DisplayManagerTest, TheMenuBarDisplayIsAbsentWhenTheFirstScreenHasNoNumber) {
    auto spec = screen("Unnumbered", cg::Rect(0, 0, 800, 600));
    spec.displayNumber.reset();
    world.addScreen(spec, 0);
    Consumer consumer;
    start(consumer);

    EXPECT_EQ(names(loop.run(manager->currentDisplays())), (std::vector<std::string>{"Built-in Display"}));
    EXPECT_FALSE(loop.run(manager->menuBarDisplay()));
}

TEST_F(DisplayManagerTest, AStopBeforeTheFirstReadStoresTheListButPublishesNothing) {
    // The stop reaches the manager right after the start, before the first reading does.
    Consumer consumer;
    runtime::spawn(runtime::mainExecutor(), startAndConsume(manager.get(), &consumer));
    runtime::spawn(runtime::mainExecutor(), manager->stopMonitoring());
    loop.runUntilIdle();

    EXPECT_TRUE(consumer.ended);
    EXPECT_TRUE(consumer.lists.empty());
    EXPECT_EQ(managerTexts(), (std::vector<std::string>{stopped, started, stopped,
                                                        "Displays updated: 1 screen(s) (was 0)", builtInRecord}));
    EXPECT_EQ(loop.run(manager->currentDisplays()).size(), 1u);
}

TEST_F(DisplayManagerTest, ReleasingTheManagerEndsTheStreamAndLaterChangesFindNothing) {
    Consumer consumer;
    start(consumer);
    capture.clear();
    // The notification is queued for the main queue; the manager goes before it is delivered.
    addExternalScreen();
    manager.reset();
    loop.runUntilIdle();
    EXPECT_TRUE(consumer.ended);

    addExternalScreen();
    loop.advance(1s);
    EXPECT_EQ(consumer.lists.size(), 1u);
    EXPECT_TRUE(capture.texts("display").empty());
}

TEST_F(DisplayManagerTest, APendingSettleWaitFinishesBeforeTheManagerGoes) {
    Consumer consumer;
    start(consumer);
    addExternalScreen();
    loop.runUntilIdle();
    std::weak_ptr<DisplayManager> weak = manager;
    manager.reset();
    EXPECT_FALSE(weak.expired());

    loop.advance(500ms);
    ASSERT_EQ(consumer.lists.size(), 2u);
    EXPECT_EQ(consumer.lists[1].displays.size(), 2u);
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(consumer.ended);
}
