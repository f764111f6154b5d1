#include "macos/Dispatch/Queue.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using namespace std::chrono_literals;

TEST(MainQueueTest, DelayedBlocksRunAtTheirDeadlinesInOrderAndNeverInline) {
    runtime::ManualLoop loop;
    std::vector<int> ran;
    dispatch::Queue::main().asyncAfter(2s, [&] { ran.push_back(2); });
    dispatch::Queue::main().asyncAfter(1s, [&] { ran.push_back(1); });
    dispatch::Queue::main().asyncAfter(0s, [&] { ran.push_back(0); });
    dispatch::Queue::main().asyncAfter(1s, [&] { ran.push_back(11); });
    EXPECT_TRUE(ran.empty());
    loop.runUntilIdle();
    EXPECT_EQ(ran, (std::vector<int>{0}));
    loop.advance(999ms);
    EXPECT_EQ(ran, (std::vector<int>{0}));
    loop.advance(1ms);
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 11}));
    loop.advance(1s);
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 11, 2}));
}
