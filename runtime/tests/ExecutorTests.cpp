#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Sleep.hpp"
#include "stashbay/runtime/Task.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace runtime;
using namespace std::chrono_literals;

namespace {

Task<void> record(std::vector<std::string>* log, std::string name, int steps) {
    for (int i = 0; i < steps; ++i) {
        log->push_back(name + std::to_string(i));
        co_await yield();
    }
}

Task<void> onExecutor(Executor* executor, std::vector<std::string>* log, std::string name, int steps) {
    co_await hopTo(*executor);
    for (int i = 0; i < steps; ++i) {
        log->push_back(name + std::to_string(i) + "@" + currentExecutor().name());
        co_await yield();
    }
}

// An actor that reports where it ran, and where its caller continued.
class Counter {
public:
    SerialExecutor executor{"counter"};
    int value = 0;

    Task<int> increment() {
        co_await hopTo(executor);
        where = currentExecutor().name();
        co_return ++value;
    }
    std::string where;
};

Task<std::string> callActor(Counter* counter, int* result) {
    *result = co_await counter->increment();
    co_return currentExecutor().name();
}

}  // namespace

TEST(Executor, JobsOnOneExecutorRunInFirstInFirstOutOrder) {
    ManualLoop loop;
    std::vector<int> order;
    for (int i = 0; i < 5; ++i) mainExecutor().enqueue(nullptr, [&order, i] { order.push_back(i); });
    EXPECT_TRUE(order.empty()) << "enqueue never runs a job inline";
    loop.runUntilIdle();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(Executor, TwoExecutorsInterleaveAtSuspensionPoints) {
    ManualLoop loop;
    SerialExecutor a{"a"}, b{"b"};
    std::vector<std::string> log;
    spawn(mainExecutor(), onExecutor(&a, &log, "x", 3));
    spawn(mainExecutor(), onExecutor(&b, &log, "y", 3));
    loop.runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"x0@a", "y0@b", "x1@a", "y1@b", "x2@a", "y2@b"}));
}

TEST(Executor, CoroutineContinuesOnItsOwnExecutorAfterAwaitingAnother) {
    ManualLoop loop;
    Counter counter;
    int result = 0;
    auto where = loop.run(callActor(&counter, &result));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(counter.where, "counter");
    EXPECT_EQ(where, "main");
}

TEST(Executor, HopToTheCurrentExecutorDoesNotSuspend) {
    ManualLoop loop;
    std::vector<std::string> log;
    auto task = [](std::vector<std::string>* log) -> Task<void> {
        log->push_back("before");
        co_await hopTo(mainExecutor());
        log->push_back("after");
    };
    spawn(mainExecutor(), task(&log));
    mainExecutor().enqueue(nullptr, [&log] { log.push_back("other"); });
    loop.runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"before", "after", "other"}));
}

TEST(Executor, YieldsOfTwoTasksOnOneExecutorAlternate) {
    ManualLoop loop;
    std::vector<std::string> log;
    spawn(mainExecutor(), record(&log, "a", 2));
    spawn(mainExecutor(), record(&log, "b", 2));
    loop.runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"a0", "b0", "a1", "b1"}));
}

namespace {
// An actor whose method awaits a callback that calls back into the same actor.
class Reentrant : public std::enable_shared_from_this<Reentrant> {
public:
    SerialExecutor executor{"reentrant"};
    std::vector<std::string> log;

    Task<int> outer() {
        co_await hopTo(executor);
        log.push_back("outer start");
        int inner = co_await callback();
        log.push_back("outer end");
        co_return inner + 1;
    }
    Task<int> inner() {
        co_await hopTo(executor);
        log.push_back("inner");
        co_return 41;
    }

private:
    // Stands for a callback on another executor that calls into this actor.
    Task<int> callback() {
        co_await hopTo(mainExecutor());
        co_return co_await inner();
    }
};
}  // namespace

TEST(Executor, ActorAwaitingACallbackServesACallIntoItself) {
    ManualLoop loop;
    auto actor = std::make_shared<Reentrant>();
    EXPECT_EQ(loop.run(actor->outer()), 42);
    EXPECT_EQ(actor->log, (std::vector<std::string>{"outer start", "inner", "outer end"}));
}

namespace {
class Service {
public:
    int calls = 0;
};

Task<void> pollWeakly(std::weak_ptr<Service> weak, std::vector<bool>* seen) {
    for (int i = 0; i < 3; ++i) {
        co_await sleepFor(1s);
        auto strong = weak.lock();
        seen->push_back(static_cast<bool>(strong));
        if (strong) ++strong->calls;
    }
}
}  // namespace

TEST(Executor, TaskHoldingAServiceWeaklyOutlivesIt) {
    ManualLoop loop;
    auto service = std::make_shared<Service>();
    std::vector<bool> seen;
    spawn(mainExecutor(), pollWeakly(service, &seen));
    loop.advance(1s);
    service.reset();
    loop.advance(5s);
    EXPECT_EQ(seen, (std::vector<bool>{true, false, false}));
}

TEST(Executor, TestBodyCountsAsTheMainExecutor) {
    ManualLoop loop;
    EXPECT_TRUE(isOnMainExecutor());
    SerialExecutor other{"other"};
    bool onMain = true;
    other.enqueue(nullptr, [&onMain] { onMain = isOnMainExecutor(); });
    loop.runUntilIdle();
    EXPECT_FALSE(onMain);
}

TEST(ExecutorDeathTest, MainThreadCheckFailsOffTheMainExecutor) {
#ifdef NDEBUG
    GTEST_SKIP() << "the check is compiled out of release builds";
#else
    EXPECT_DEATH(
        {
            ManualLoop loop;
            SerialExecutor other{"scanner"};
            other.enqueue(nullptr, [] { assertMainExecutor("NSScreen.screens"); });
            loop.runUntilIdle();
        },
        "NSScreen.screens called on executor 'scanner'");
#endif
}

TEST(ExecutorDeathTest, IsolationCheckFailsOffTheActorsExecutor) {
#ifdef NDEBUG
    GTEST_SKIP() << "the check is compiled out of release builds";
#else
    // On its own executor the check passes, also after the actor awaited work elsewhere.
    {
        ManualLoop loop;
        SerialExecutor actor{"actor"};
        auto body = [](SerialExecutor* actor) -> Task<void> {
            co_await hopTo(*actor);
            assertIsolated(*actor, "Actor.first");
            co_await hopTo(mainExecutor());
            co_await hopTo(*actor);
            assertIsolated(*actor, "Actor.second");
        };
        loop.run(body(&actor));
    }
    EXPECT_DEATH(
        {
            ManualLoop loop;
            SerialExecutor actor{"scanner"};
            // The test body runs as the main executor: a call that forgot its hop.
            assertIsolated(actor, "MenuBarScanner.debounce");
        },
        "MenuBarScanner.debounce called on executor 'main', not on 'scanner'");
    EXPECT_DEATH(
        {
            ManualLoop loop;
            SerialExecutor actor{"scanner"};
            SerialExecutor other{"display"};
            other.enqueue(nullptr, [&actor] { assertIsolated(actor, "MenuBarScanner.isPaused"); });
            loop.runUntilIdle();
        },
        "MenuBarScanner.isPaused called on executor 'display', not on 'scanner'");
#endif
}
