#include "stashbay/runtime/Continuation.hpp"
#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Task.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using namespace runtime;

namespace {
Task<int> awaitValue(Continuation<int>* out) {
    auto waiting = withContinuation<int>([out](Continuation<int> c) { *out = c; });
    int v = co_await waiting;
    co_return v;
}

Task<void> awaitVoid(Continuation<>* out, bool* resumed) {
    auto waiting = withContinuation<void>([out](Continuation<> c) { *out = c; });
    co_await waiting;
    *resumed = true;
}

Task<std::string> awaitThrowing(Continuation<>* out) {
    try {
        auto waiting = withContinuation<void>([out](Continuation<> c) { *out = c; });
        co_await waiting;
    } catch (const std::runtime_error& e) {
        co_return e.what();
    }
    co_return "no error";
}
}  // namespace

TEST(Continuation, ResumesExactlyOnceAndIgnoresLaterResumes) {
    ManualLoop loop;
    Continuation<int> c;
    auto handle = spawn(mainExecutor(), awaitValue(&c));
    loop.runUntilIdle();
    EXPECT_TRUE(c.resume(1));
    EXPECT_FALSE(c.resume(2));
    EXPECT_FALSE(handle.isFinished()) << "a resume is queued, never inline";
    loop.runUntilIdle();
    EXPECT_EQ(handle.result(), 1);
}

TEST(Continuation, ResumedSynchronouslyInsideTheBodyStillQueuesTheResumption) {
    ManualLoop loop;
    auto task = []() -> Task<int> {
        auto waiting = withContinuation<int>([](Continuation<int> c) { c.resume(5); });
        co_return co_await waiting;
    };
    EXPECT_EQ(loop.run(task()), 5);
}

TEST(Continuation, ResumeThrowingRaisesInTheWaitingTask) {
    ManualLoop loop;
    Continuation<> c;
    auto handle = spawn(mainExecutor(), awaitThrowing(&c));
    loop.runUntilIdle();
    c.resumeThrowing(std::make_exception_ptr(std::runtime_error("deliveryTimeout")));
    c.resume();
    loop.runUntilIdle();
    EXPECT_EQ(handle.result(), "deliveryTimeout");
}

TEST(Continuation, ResumeFromAnotherThreadIsPostedToTheLoop) {
    ManualLoop loop;
    Continuation<> c;
    bool resumed = false;
    spawn(mainExecutor(), awaitVoid(&c, &resumed));
    loop.runUntilIdle();
    std::thread worker([c] { c.resume(); });
    worker.join();
    EXPECT_FALSE(resumed);
    loop.runUntilIdle();
    EXPECT_TRUE(resumed);
}

TEST(Continuation, ResumingAfterTheWaiterIsGoneDoesNothing) {
    Continuation<> c;
    bool resumed = false;
    {
        ManualLoop loop;
        spawn(mainExecutor(), awaitVoid(&c, &resumed));
        loop.runUntilIdle();
    }
    ManualLoop next;
    EXPECT_FALSE(c.isResumed());
    EXPECT_FALSE(resumed);
}
