#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Sleep.hpp"
#include "stashbay/runtime/Stream.hpp"
#include "stashbay/runtime/Task.hpp"

#include <gtest/gtest.h>

#include <vector>

using namespace runtime;
using namespace std::chrono_literals;

namespace {
Task<void> consume(AsyncStream<int> stream, std::vector<int>* got, bool* ended) {
    for (;;) {
        auto reading = stream.next();
        auto next = co_await reading;
        if (!next) break;
        got->push_back(*next);
    }
    *ended = true;
}
}  // namespace

TEST(Stream, NewestOneReplacesAnUnreadElement) {
    ManualLoop loop;
    auto [stream, producer] = AsyncStream<int>::make(BufferingPolicy::bufferingNewest(1));
    EXPECT_EQ(producer.yield(1), YieldResult::enqueued);
    EXPECT_EQ(producer.yield(2), YieldResult::dropped);
    producer.finish();
    std::vector<int> got;
    bool ended = false;
    spawn(mainExecutor(), consume(std::move(stream), &got, &ended));
    loop.runUntilIdle();
    EXPECT_EQ(got, (std::vector<int>{2}));
    EXPECT_TRUE(ended);
}

TEST(Stream, NewestSixtyFourKeepsTheLastSixtyFourOfSixtyFive) {
    ManualLoop loop;
    auto [stream, producer] = AsyncStream<int>::make(BufferingPolicy::bufferingNewest(64));
    for (int i = 1; i <= 65; ++i) producer.yield(i);
    producer.finish();
    std::vector<int> got;
    bool ended = false;
    spawn(mainExecutor(), consume(std::move(stream), &got, &ended));
    loop.runUntilIdle();
    ASSERT_EQ(got.size(), 64u);
    EXPECT_EQ(got.front(), 2);
    EXPECT_EQ(got.back(), 65);
}

TEST(Stream, FinishLetsTheConsumerDrainThenEnds) {
    ManualLoop loop;
    auto [stream, producer] = AsyncStream<int>::make();
    std::vector<int> got;
    bool ended = false;
    spawn(mainExecutor(), consume(std::move(stream), &got, &ended));
    loop.runUntilIdle();
    producer.yield(1);
    producer.yield(2);
    producer.yield(3);
    producer.finish();
    EXPECT_EQ(producer.yield(4), YieldResult::terminated);
    loop.runUntilIdle();
    EXPECT_EQ(got, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(ended);
}

TEST(Stream, CancellingTheConsumerEndsItsIteration) {
    ManualLoop loop;
    auto [stream, producer] = AsyncStream<int>::make();
    std::vector<int> got;
    bool ended = false;
    bool terminatedByCancel = false;
    producer.onTermination([&](Termination t) { terminatedByCancel = t == Termination::cancelled; });
    auto handle = spawn(mainExecutor(), consume(std::move(stream), &got, &ended));
    producer.yield(1);
    loop.runUntilIdle();
    handle.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(ended);
    EXPECT_TRUE(terminatedByCancel);
    EXPECT_EQ(producer.yield(2), YieldResult::terminated);
    EXPECT_EQ(got, (std::vector<int>{1}));
}

TEST(Stream, AWaitingConsumerIsResumedAsAQueuedJob) {
    ManualLoop loop;
    auto [stream, producer] = AsyncStream<int>::make(BufferingPolicy::bufferingNewest(1));
    std::vector<int> got;
    bool ended = false;
    spawn(mainExecutor(), consume(std::move(stream), &got, &ended));
    loop.runUntilIdle();
    producer.yield(7);
    EXPECT_TRUE(got.empty());
    producer.yield(8);
    loop.runUntilIdle();
    EXPECT_EQ(got, (std::vector<int>{7, 8}));
}

TEST(Stream, DroppingTheConsumerTerminatesTheStream) {
    ManualLoop loop;
    auto [stream, producer] = AsyncStream<int>::make();
    { auto gone = std::move(stream); }
    EXPECT_EQ(producer.yield(1), YieldResult::terminated);
}

TEST(Stream, SlowConsumerOnNewestOneSeesOnlyTheLatest) {
    ManualLoop loop;
    auto [stream, producer] = AsyncStream<int>::make(BufferingPolicy::bufferingNewest(1));
    std::vector<int> got;
    auto slow = [](AsyncStream<int> s, std::vector<int>* got) -> Task<void> {
        for (;;) {
            auto reading = s.next();
            auto next = co_await reading;
            if (!next) break;
            got->push_back(*next);
            auto sleeping = sleepFor(10s);
            co_await sleeping;
        }
    };
    spawn(mainExecutor(), slow(std::move(stream), &got));
    auto produce = [](AsyncStream<int>::Continuation p) -> Task<void> {
        for (int i = 1; i <= 6; ++i) {
            p.yield(i);
            auto sleeping = sleepFor(3s);
            co_await sleeping;
        }
        p.finish();
    };
    spawn(mainExecutor(), produce(producer));
    loop.advance(60s);
    // Reads at 0 s (1), 10 s (4, made at 9 s), 20 s (6, made at 15 s).
    EXPECT_EQ(got, (std::vector<int>{1, 4, 6}));
}
