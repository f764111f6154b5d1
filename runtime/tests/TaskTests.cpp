#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Sleep.hpp"
#include "stashbay/runtime/Task.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace runtime;
using namespace std::chrono_literals;

namespace {

struct SleepOutcome {
    bool finished = false;
    bool cancelled = false;
    Instant wokeAt{};
};

Task<void> sleeper(Duration d, SleepOutcome* out) {
    co_await sleepFor(d);
    out->finished = true;
    out->cancelled = isCancelled();
    out->wokeAt = now();
}

Task<int> child(SleepOutcome* out) {
    co_await sleepFor(10s);
    out->finished = true;
    out->cancelled = isCancelled();
    co_return 7;
}

Task<int> parentAwaitingChild(SleepOutcome* out) { co_return co_await child(out); }

Task<void> parentSpawning(SleepOutcome* spawned, TaskHandle<>* handle) {
    *handle = spawn(mainExecutor(), sleeper(10s, spawned));
    co_await sleepFor(100s);
}

Task<int> thrower() {
    co_await yield();
    throw std::runtime_error("boom");
}

Task<std::string> catcher() {
    try {
        co_await thrower();
    } catch (const std::runtime_error& e) {
        co_return e.what();
    }
    co_return "none";
}

Task<long> one() { co_return 1; }

// An actor whose method its own loop calls: the hop costs no suspension there.
class Tally {
public:
    SerialExecutor executor{"tally"};
    Task<long> next() {
        co_await hopTo(executor);
        assertIsolated(executor, "Tally.next");
        co_return ++count_;
    }

private:
    long count_ = 0;
};

Task<long> awaitPlainTasks(long count) {
    long sum = 0;
    for (long i = 0; i < count; ++i) {
        auto task = one();
        sum += co_await task;
    }
    co_return sum;
}

Task<long> awaitActorCalls(Tally* tally, long count) {
    co_await hopTo(tally->executor);
    long last = 0;
    for (long i = 0; i < count; ++i) {
        auto call = tally->next();
        last = co_await call;
    }
    co_return last;
}

}  // namespace

// A loop that runs for days awaits tasks that finish at once, on its own executor. Each hand-over
// and return must leave the stack as it found it, whatever the optimiser does.
TEST(Task, AMillionAwaitsOfTasksThatFinishAtOnceKeepTheStackFlat) {
    constexpr long count = 1'000'000;
    ManualLoop loop;
    EXPECT_EQ(loop.run(awaitPlainTasks(count)), count);
    Tally tally;
    EXPECT_EQ(loop.run(awaitActorCalls(&tally, count)), count);
}

TEST(Task, CancellingASleepingTaskWakesItEarlyWithoutAnError) {
    ManualLoop loop;
    SleepOutcome out;
    auto handle = spawn(mainExecutor(), sleeper(10s, &out));
    loop.advance(3s);
    EXPECT_FALSE(out.finished);
    handle.cancel();
    EXPECT_FALSE(out.finished) << "cancellation enqueues the wake-up";
    loop.runUntilIdle();
    EXPECT_TRUE(out.finished);
    EXPECT_TRUE(out.cancelled);
    EXPECT_EQ(out.wokeAt, Instant{} + 3s);
    EXPECT_TRUE(handle.isCancelled());
    EXPECT_TRUE(handle.isFinished());
}

TEST(Task, AwaitedChildSharesTheParentsCancellation) {
    ManualLoop loop;
    SleepOutcome out;
    auto handle = spawn(mainExecutor(), parentAwaitingChild(&out));
    loop.advance(1s);
    handle.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(out.finished);
    EXPECT_TRUE(out.cancelled);
    EXPECT_EQ(handle.result(), 7);
}

TEST(Task, CancellingATaskDoesNotCancelTheTasksItSpawned) {
    ManualLoop loop;
    SleepOutcome spawned;
    TaskHandle<> inner;
    auto outer = spawn(mainExecutor(), parentSpawning(&spawned, &inner));
    loop.advance(1s);
    outer.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(outer.isFinished());
    EXPECT_FALSE(spawned.finished);
    EXPECT_FALSE(inner.isCancelled());
    loop.advance(9s);
    EXPECT_TRUE(spawned.finished);
    EXPECT_FALSE(spawned.cancelled);
}

TEST(Task, SleepingInACancelledTaskReturnsAtOnce) {
    ManualLoop loop;
    SleepOutcome out;
    auto handle = spawn(mainExecutor(), sleeper(10s, &out));
    handle.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(out.finished);
    EXPECT_EQ(out.wokeAt, Instant{});
}

TEST(Task, ErrorsPropagateToTheAwaitingTask) {
    ManualLoop loop;
    EXPECT_EQ(loop.run(catcher()), "boom");
    auto handle = spawn(mainExecutor(), thrower());
    loop.runUntilIdle();
    EXPECT_THROW(handle.result(), std::runtime_error);
}

TEST(Task, AwaitingAHandleGivesTheSpawnedTasksResult) {
    ManualLoop loop;
    SleepOutcome out;
    auto handle = spawn(mainExecutor(), parentAwaitingChild(&out));
    auto waiter = [](TaskHandle<int> h) -> Task<int> { co_return co_await h.value() * 2; };
    EXPECT_EQ(loop.run(waiter(handle)), 14);
    EXPECT_EQ(loop.now(), Instant{} + 10s);
}

TEST(Task, LoopTeardownDestroysSuspendedTasks) {
    auto destroyed = std::make_shared<int>(0);
    struct Probe {
        std::shared_ptr<int> counter;
        ~Probe() { ++*counter; }
    };
    auto task = [](std::shared_ptr<int> counter) -> Task<void> {
        Probe probe{counter};
        co_await sleepFor(1h);
    };
    {
        ManualLoop loop;
        spawn(mainExecutor(), task(destroyed));
        loop.advance(1s);
        EXPECT_EQ(loop.loop().liveRootCount(), 1u);
    }
    EXPECT_EQ(*destroyed, 1);
}

TEST(Task, FinishedTasksLeaveNoRoots) {
    ManualLoop loop;
    SleepOutcome out;
    spawn(mainExecutor(), sleeper(1s, &out));
    loop.advance(2s);
    EXPECT_EQ(loop.loop().liveRootCount(), 0u);
}
