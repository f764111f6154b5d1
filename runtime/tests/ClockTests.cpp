#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Sleep.hpp"
#include "stashbay/runtime/Task.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace runtime;
using namespace std::chrono_literals;

namespace {
Task<void> wakeAfter(Duration d, std::string name, std::vector<std::pair<std::string, Instant>>* log) {
    auto sleeping = sleepFor(d);
    co_await sleeping;
    log->push_back({name, now()});
}
}  // namespace

TEST(ManualClock, AdvanceRunsDueWorkInDeadlineOrderAndFirstInFirstOutAmongEquals) {
    ManualLoop loop;
    std::vector<std::pair<std::string, Instant>> log;
    spawn(mainExecutor(), wakeAfter(3s, "c", &log));
    spawn(mainExecutor(), wakeAfter(1s, "a", &log));
    spawn(mainExecutor(), wakeAfter(2s, "b1", &log));
    spawn(mainExecutor(), wakeAfter(2s, "b2", &log));
    spawn(mainExecutor(), wakeAfter(5s, "late", &log));
    loop.advance(3s);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], (std::pair<std::string, Instant>{"a", Instant{} + 1s}));
    EXPECT_EQ(log[1], (std::pair<std::string, Instant>{"b1", Instant{} + 2s}));
    EXPECT_EQ(log[2], (std::pair<std::string, Instant>{"b2", Instant{} + 2s}));
    EXPECT_EQ(log[3], (std::pair<std::string, Instant>{"c", Instant{} + 3s}));
    EXPECT_EQ(loop.now(), Instant{} + 3s);
}

TEST(ManualClock, AdvanceMovesTheWallClockDateWithTheContinuousClock) {
    ManualLoop loop{Date{1000.0}};
    EXPECT_EQ(loop.date(), Date{1000.0});
    EXPECT_EQ(currentDate(), Date{1000.0});
    loop.advance(2500ms);
    EXPECT_DOUBLE_EQ(currentDate().timeIntervalSinceReferenceDate, 1002.5);
    EXPECT_EQ(now(), Instant{} + 2500ms);
}

TEST(ManualClock, ConsumedTimeMovesTheClockWithoutRunningAnything) {
    ManualLoop loop;
    std::vector<std::pair<std::string, Instant>> log;
    spawn(mainExecutor(), wakeAfter(1s, "timer", &log));
    loop.runUntilIdle();
    loop.clock().consume(1250ms);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(now(), Instant{} + 1250ms);
    loop.advance(0s);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].second, Instant{} + 1250ms) << "a late timer fires at the time it is noticed";
}

TEST(ManualClock, TimersScheduledByDueWorkRunWithinTheSameAdvance) {
    ManualLoop loop;
    std::vector<Instant> ticks;
    auto ticker = [](std::vector<Instant>* ticks) -> Task<void> {
        for (int i = 0; i < 4; ++i) {
            auto sleeping = sleepFor(500ms);
            co_await sleeping;
            ticks->push_back(now());
        }
    };
    spawn(mainExecutor(), ticker(&ticks));
    loop.advance(1500ms);
    EXPECT_EQ(ticks, (std::vector<Instant>{Instant{} + 500ms, Instant{} + 1000ms, Instant{} + 1500ms}));
}

TEST(Time, DurationFromSecondsBoundsValuesThatDoNotFit) {
    EXPECT_EQ(durationFromSeconds(1.25), 1250ms);
    EXPECT_EQ(durationFromSeconds(std::nan("")), Duration::zero());
    EXPECT_GT(durationFromSeconds(INFINITY), std::chrono::hours(24 * 365 * 200));
    EXPECT_LT(durationFromSeconds(-INFINITY), Duration::zero());
    EXPECT_EQ(durationFromSeconds(1e300), durationFromSeconds(INFINITY));
}

TEST(Time, DatesKeepThePlatformsReferenceDate) {
    EXPECT_EQ(Date::distantPast().timeIntervalSinceReferenceDate, -63114076800.0);
    EXPECT_DOUBLE_EQ(Date::fromUnixTime(978307200.0).timeIntervalSinceReferenceDate, 0.0);
    EXPECT_DOUBLE_EQ(Date{10.0}.timeIntervalSince(Date{4.5}), 5.5);
}
