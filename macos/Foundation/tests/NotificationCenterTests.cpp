#include "macos/Foundation/NotificationCenter.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(NotificationCenter, MainQueueObserversRunAsQueuedJobsOnTheMainExecutor) {
    runtime::ManualLoop loop;
    ns::NotificationCenter center;
    std::vector<std::string> seen;
    runtime::SerialExecutor other{"other"};
    auto token = center.addObserver("screens", &ns::OperationQueue::main(), [&](const ns::Notification& n) {
        seen.push_back(n.name + (runtime::isOnMainExecutor() ? "@main" : "@other"));
    });
    other.enqueue(nullptr, [&] { center.post("screens"); });
    center.post("ignored");
    loop.runUntilIdle();
    EXPECT_EQ(seen, (std::vector<std::string>{"screens@main"}));
}

TEST(NotificationCenter, SynchronousObserversRunOnThePoster) {
    runtime::ManualLoop loop;
    ns::NotificationCenter center;
    int count = 0;
    auto token = center.addObserver("", nullptr, [&](const ns::Notification&) { ++count; });
    center.post("anything");
    EXPECT_EQ(count, 1);
}

TEST(NotificationCenter, RemovingATokenStopsDeliveriesAlreadyQueued) {
    runtime::ManualLoop loop;
    ns::NotificationCenter center;
    int count = 0;
    auto token = center.addObserver("x", &ns::OperationQueue::main(), [&](const ns::Notification&) { ++count; });
    center.post("x");
    center.removeObserver(token);
    center.post("x");
    loop.runUntilIdle();
    EXPECT_EQ(count, 0);
    EXPECT_EQ(center.observerCount(), 0u);
}

TEST(NotificationCenter, QueuedDeliveriesDoNotOutliveTheCentre) {
    runtime::ManualLoop loop;
    int count = 0;
    {
        ns::NotificationCenter center;
        auto token = center.addObserver("x", &ns::OperationQueue::main(), [&](const ns::Notification&) { ++count; });
        center.post("x");
    }
    loop.runUntilIdle();
    EXPECT_EQ(count, 0);
}
