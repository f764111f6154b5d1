#include "macos/Foundation/Cache.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using ImageCache = ns::Cache<std::uint32_t, std::shared_ptr<const std::string>>;

namespace {
std::shared_ptr<const std::string> image(std::string name) { return std::make_shared<const std::string>(name); }
}  // namespace

TEST(Cache, TheCountLimitDiscardsTheLeastRecentlyUsedEntryFirst) {
    ImageCache cache;
    cache.setCountLimit(2);
    cache.setObject(image("a"), 1);
    cache.setObject(image("b"), 2);
    ASSERT_TRUE(cache.object(1).has_value());  // 1 is now more recently used than 2
    cache.setObject(image("c"), 3);
    EXPECT_EQ(cache.count(), 2u);
    EXPECT_EQ(**cache.object(1), "a");
    EXPECT_FALSE(cache.object(2).has_value());
    EXPECT_EQ(**cache.object(3), "c");
}

TEST(Cache, TheTotalCostLimitDiscardsUntilTheCostFits) {
    ImageCache cache;
    cache.setTotalCostLimit(100);
    cache.setObject(image("a"), 1, 40);
    cache.setObject(image("b"), 2, 40);
    cache.setObject(image("c"), 3, 40);
    EXPECT_FALSE(cache.object(1).has_value());
    EXPECT_EQ(cache.totalCost(), 80u);

    cache.setObject(image("b2"), 2, 10);  // replacing an entry replaces its cost
    EXPECT_EQ(cache.totalCost(), 50u);
    EXPECT_EQ(**cache.object(2), "b2");

    cache.setObject(image("huge"), 4, 101);
    EXPECT_FALSE(cache.object(4).has_value()) << "an entry costlier than the limit is not kept";
    EXPECT_EQ(cache.count(), 0u) << "and it pushed the cheaper ones out on the way";
}

TEST(Cache, EntriesWithoutCostAreBoundedByTheCountOnly) {
    ImageCache cache;
    cache.setCountLimit(100);
    cache.setTotalCostLimit(5'242'880);
    for (std::uint32_t window = 1; window <= 150; ++window) cache.setObject(image("icon"), window);
    EXPECT_EQ(cache.count(), 100u);
    EXPECT_FALSE(cache.object(50).has_value());
    EXPECT_TRUE(cache.object(51).has_value());
}

TEST(Cache, MemoryPressureAndRemovalsDiscardEntries) {
    ImageCache cache;
    for (std::uint32_t window = 1; window <= 5; ++window) cache.setObject(image("icon"), window, 1);
    cache.simulateMemoryPressure(2);
    EXPECT_EQ(cache.count(), 2u);
    EXPECT_TRUE(cache.object(4).has_value());
    EXPECT_TRUE(cache.object(5).has_value());
    cache.removeObject(4);
    EXPECT_FALSE(cache.object(4).has_value());
    EXPECT_EQ(cache.totalCost(), 1u);
    cache.removeAllObjects();
    EXPECT_EQ(cache.count(), 0u);
    EXPECT_EQ(cache.totalCost(), 0u);
    cache.simulateMemoryPressure();
    EXPECT_EQ(cache.count(), 0u);
}

TEST(Cache, LoweringALimitDiscardsAtOnce) {
    ImageCache cache;
    for (std::uint32_t window = 1; window <= 5; ++window) cache.setObject(image("icon"), window, 10);
    cache.setCountLimit(3);
    EXPECT_EQ(cache.count(), 3u);
    cache.setTotalCostLimit(15);
    EXPECT_EQ(cache.count(), 1u);
    EXPECT_TRUE(cache.object(5).has_value());
}

TEST(Cache, StaysConsistentUnderConcurrentUse) {
    ImageCache cache;
    cache.setCountLimit(16);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&cache, t] {
            for (std::uint32_t i = 0; i < 2000; ++i) {
                cache.setObject(image("icon"), (i + static_cast<std::uint32_t>(t)) % 40, 1);
                (void)cache.object(i % 40);
                if (i % 97 == 0) cache.removeObject(i % 40);
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_LE(cache.count(), 16u);
    EXPECT_EQ(cache.totalCost(), cache.count());
}
