#include "Services/HybridDetection.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace stashbay;
using detection::AXItem;
using detection::Passes;
using detection::Window;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

AXItem ax(std::int32_t pid, double x, double y = 0, std::optional<std::string> title = std::nullopt, double w = 20) {
    return AXItem{pid, std::move(title), cg::Point{x, y}, cg::Size{w, 24}, true};
}

Window win(std::uint32_t id, std::int32_t pid, double x, double y = 0, bool onScreen = true) {
    return Window{id, pid, cg::Rect{x, y, 20, 24}, onScreen};
}

detection::Inputs inputs(std::vector<AXItem> items, std::vector<Window> windows = {},
                         std::map<std::int32_t, std::optional<std::string>> bundles = {}) {
    detection::Inputs in;
    in.items = std::move(items);
    in.windows = std::move(windows);
    in.owner = [bundles](std::int32_t pid) -> std::optional<detection::Owner> {
        auto it = bundles.find(pid);
        if (it == bundles.end())
            return detection::Owner{"com.app." + std::to_string(pid), "App " + std::to_string(pid)};
        if (!it->second) return detection::Owner{std::nullopt, "Nameless"};
        if (*it->second == "gone") return std::nullopt;
        return detection::Owner{it->second, *it->second};
    };
    in.now = runtime::Date{1000.0};
    return in;
}

// Runs both kinds of passes and checks that they agree, then gives the result.
std::vector<MenuBarItem> run(const detection::Inputs& in) {
    auto literal = detection::detect(in, 4.0, Passes::literal);
    auto indexed = detection::detect(in, 4.0, Passes::indexed);
    EXPECT_EQ(literal.size(), indexed.size());
    for (std::size_t i = 0; i < std::min(literal.size(), indexed.size()); ++i) {
        EXPECT_EQ(literal[i].id(), indexed[i].id());
        EXPECT_EQ(literal[i].windowID(), indexed[i].windowID());
        EXPECT_EQ(literal[i].isOnScreen(), indexed[i].isOnScreen());
    }
    return indexed;
}

const MenuBarItem* at(const std::vector<MenuBarItem>& items, double x) {
    for (const auto& i : items)
        if (i.position().x == x) return &i;
    return nullptr;
}

}  // namespace

TEST(HybridDetection, VisibilityBoundaryIsTheSmallestOnScreenWindowAtTheTop) {
    EXPECT_EQ(
        detection::visibilityBoundary({win(1, 1, 1200), win(2, 1, 1100), win(3, 1, 900), win(4, 1, -30, 0, false)}),
        900.0);
    EXPECT_EQ(detection::visibilityBoundary({win(1, 1, 700, 50.0)}), 0.0) << "y of exactly 50 does not count";
    EXPECT_EQ(detection::visibilityBoundary({win(1, 1, 0.0), win(2, 1, 300)}), 0.0);
    EXPECT_EQ(detection::visibilityBoundary({}), 0.0);
    // A display left of the main one puts its windows at negative x; on screen, they still do not
    // count, or every item of the main bar would lie right of the boundary.
    EXPECT_EQ(detection::visibilityBoundary({win(1, 1, 1200), win(2, 1, 900), win(3, 1, -800)}), 900.0);
    EXPECT_EQ(detection::visibilityBoundary({win(1, 1, -0.5)}), 0.0);
}

TEST(HybridDetection, UnmatchedItemsAreJudgedByTheBoundaryAndTheirCoordinates) {
    struct Case {
        AXItem item;
        bool onScreen;
    } cases[] = {
        {ax(9, 893.9), false},      {ax(9, 894.0), true}, {ax(9, 1000, 50.0), true},
        {ax(9, 1000, 50.1), false}, {ax(9, -0.1), false},
    };
    for (const auto& c : cases) {
        auto items = run(inputs({c.item}, {win(1, 1, 1200), win(2, 1, 900)}));
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].isOnScreen(), c.onScreen) << c.item.position.x << "," << c.item.position.y;
        EXPECT_FALSE(items[0].isVerified());
        EXPECT_EQ(items[0].windowID(), 0u);
    }
    auto zero = run(inputs({ax(9, 0.0)}, {}));
    EXPECT_TRUE(zero[0].isOnScreen()) << "x of exactly 0 is on the bar";
}

TEST(HybridDetection, MatchingTakesTheNearestWindowOfTheProcessWithinSixPoints) {
    auto items = run(inputs({ax(1, 1000)}, {win(10, 1, 1004), win(11, 1, 996)}));
    EXPECT_EQ(items[0].windowID(), 10u) << "equally near: the first in the list";
    EXPECT_EQ(run(inputs({ax(1, 1000)}, {win(10, 1, 1006)}))[0].windowID(), 0u);
    EXPECT_EQ(run(inputs({ax(1, 1000)}, {win(10, 1, 1005.9)}))[0].windowID(), 10u);
    EXPECT_EQ(run(inputs({ax(1, 1000)}, {win(10, 2, 1000)}))[0].windowID(), 0u) << "another process's window";

    // The second item sits below the bar so that it is not dropped as a duplicate of the first.
    auto two = run(inputs({ax(1, 1000, 0, "a"), ax(1, 1002, 60, "b")}, {win(10, 1, 1001)}));
    auto* first = at(two, 1000);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowID(), 10u) << "the first item enumerated claims the window";
    ASSERT_NE(at(two, 1002), nullptr);
    EXPECT_EQ(at(two, 1002)->windowID(), 0u);
}

TEST(HybridDetection, SecondPassMatchesOffTheBarItemsToTheNearestOffTheBarWindow) {
    auto items = run(inputs({ax(1, -200)}, {win(10, 1, 3000, 0, false)}));
    EXPECT_TRUE(items[0].isVerified());
    EXPECT_EQ(items[0].windowID(), 10u);
    EXPECT_FALSE(items[0].isOnScreen());
    auto onBar = run(inputs({ax(1, 300, 10)}, {win(10, 1, 3000, 0, false)}));
    EXPECT_EQ(onBar[0].windowID(), 0u) << "an item on the bar never enters the second pass";
}

TEST(HybridDetection, MatchedItemsTakeTheWindowsOnScreenFlag) {
    auto items = run(inputs({ax(1, 1000)}, {win(10, 1, 1000, 0, false)}));
    EXPECT_FALSE(items[0].isOnScreen());
}

TEST(HybridDetection, TheNotchHidesItemsWhoseCentreLiesLeftOfItsRightEdgePlusTwenty) {
    runtime::ManualLoop loop;
    sim::World world;  // the notched built-in display, 982 points high
    ScreenGeometry geometry(cg::Rect{662, 945, 188, 37}, cg::Rect{0, 945, 1512, 37}, cg::Rect{0, 0, 1512, 982}, 37);
    struct Case {
        double x;
        bool onScreen;
    } cases[] = {{859.9, false}, {860.0, true}, {90.0, false}};
    for (const auto& c : cases) {
        auto in = inputs({ax(1, c.x)}, {win(10, 1, c.x)});
        in.geometry = geometry;
        auto items = run(in);
        EXPECT_EQ(items[0].isOnScreen(), c.onScreen) << c.x;
        EXPECT_TRUE(items[0].isVerified());
    }
    auto in = inputs({ax(1, 100)});
    EXPECT_TRUE(run(in)[0].isOnScreen()) << "no geometry: the notch rule is skipped";
}

TEST(HybridDetection, OnScreenDuplicatesAreJudgedAgainstAcceptedItemsOnly) {
    auto pair = run(inputs({ax(1, 500.0), ax(2, 503.9)}, {win(10, 1, 500.0)}));
    ASSERT_EQ(pair.size(), 1u);
    EXPECT_EQ(pair[0].position().x, 500.0) << "the verified one survives";
    auto unverified = run(inputs({ax(1, 500.0), ax(2, 503.9)}));
    ASSERT_EQ(unverified.size(), 1u);
    EXPECT_EQ(unverified[0].position().x, 503.9) << "otherwise the one further right";
    EXPECT_EQ(run(inputs({ax(1, 500.0), ax(2, 504.0)})).size(), 2u);
    auto three = run(inputs({ax(1, 506), ax(2, 503), ax(3, 500)}));
    ASSERT_EQ(three.size(), 2u);
    EXPECT_EQ(three[0].position().x, 506);
    EXPECT_EQ(three[1].position().x, 500);
}

TEST(HybridDetection, OffScreenDuplicatesShareOwnerAndTitle) {
    auto same = run(inputs({ax(1, -400, 0, "t"), ax(1, -100, 0, "t")}));
    ASSERT_EQ(same.size(), 1u);
    EXPECT_EQ(same[0].position().x, -100);
    auto nameless = run(inputs({ax(1, -100), ax(2, -400)}, {}, {{1, std::nullopt}, {2, std::nullopt}}));
    EXPECT_EQ(nameless.size(), 1u) << "absent owners and absent titles are equal";
    auto mixed = run(inputs({ax(1, 500, 0, "t"), ax(1, 500, 60, "t")}));
    EXPECT_EQ(mixed.size(), 2u) << "on-screen and off-screen items are never compared";
}

TEST(HybridDetection, OrderIsRightToLeftThenTitleWithinAProcessThenProcessId) {
    auto byPid = run(inputs({ax(300, 700, 0, "x"), ax(200, 700, 60, "x")}));
    EXPECT_EQ(byPid[0].ownerPID(), 200);
    auto byTitle = run(inputs({ax(5, -50, 0, "b"), ax(5, -50, 0), ax(5, -50, 0, "B")}));
    ASSERT_EQ(byTitle.size(), 3u);
    EXPECT_EQ(byTitle[0].title(), std::nullopt);
    EXPECT_EQ(byTitle[1].title(), "B") << "capitals before small letters";
    EXPECT_EQ(byTitle[2].title(), "b");
    EXPECT_TRUE(detection::titleBefore("ab", "abc"));
    EXPECT_FALSE(detection::titleBefore("e\u0301", "\u00e9")) << "equal once composed";
    EXPECT_FALSE(detection::titleBefore("\u00e9", "e\u0301"));
}

TEST(HybridDetection, IdentitiesAreRanksPerOwnerCountedFromTheRight) {
    auto items = run(inputs({ax(1, -50, 0, "c"), ax(1, 700, 0, "b"), ax(1, 900, 0, "a"), ax(4711, 100)}, {},
                            {{1, "com.x"}, {4711, std::nullopt}}));
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].id(), (MenuBarItemID("com.x", 0)));
    EXPECT_EQ(items[1].id(), (MenuBarItemID("com.x", 1)));
    EXPECT_EQ(items[2].id(), (MenuBarItemID("pid-4711", 0)));
    EXPECT_EQ(items[2].ownerBundleID(), std::nullopt);
    EXPECT_EQ(items[3].id(), (MenuBarItemID("com.x", 2)));
    auto gone = run(inputs({ax(77, 10)}, {}, {{77, "gone"}}));
    EXPECT_EQ(gone[0].ownerName(), "Unknown");
    EXPECT_EQ(gone[0].id(), (MenuBarItemID("pid-77", 0)));
}

TEST(HybridDetection, StableSortIsDefinedWithNotANumberPositions) {
    std::vector<AXItem> items;
    for (int i = 0; i < 40; ++i)
        items.push_back(ax(i % 3 + 1, i % 4 == 0 ? notANumber : 10.0 * (i % 7), i % 5 == 0 ? 60 : 0));
    std::vector<Window> windows;
    for (int i = 0; i < 20; ++i) windows.push_back(win(100 + i, i % 3 + 1, i % 6 == 0 ? notANumber : 10.0 * i));
    auto result = run(inputs(items, windows));
    EXPECT_FALSE(result.empty());
    std::vector<int> v{3, 1, 2, 5, 4};
    detection::stableSort(v, [](int, int) { return true; });  // not an order at all
    EXPECT_EQ(v.size(), 5u);
}

// Random worlds: the indexed passes give exactly what the literal passes give.
TEST(HybridDetection, IndexedPassesEqualTheLiteralOnesOnRandomInputs) {
    std::mt19937 rng(20261210);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int round = 0; round < 300; ++round) {
        int n = 1 + pick(60);
        int apps = 1 + pick(8);
        std::vector<AXItem> items;
        std::vector<Window> windows;
        for (int i = 0; i < n; ++i) {
            double x =
                pick(10) == 0 ? notANumber : (pick(4) == 0 ? -1.0 * pick(800) : 400.0 + pick(1100) + pick(10) / 4.0);
            double y = pick(6) == 0 ? 60.0 + pick(900) : pick(3) == 0 ? 50.0 : 0.0;
            std::optional<std::string> title;
            if (pick(3)) title = std::string(1, static_cast<char>('a' + pick(3)));
            items.push_back(ax(1 + pick(apps), x, y, title));
            if (pick(4)) {
                double wx = std::isnan(x) ? 0 : x + (pick(13) - 6) * 0.75;
                windows.push_back(win(static_cast<std::uint32_t>(100 + i), items.back().pid, wx,
                                      pick(5) == 0 ? 60.0 : 0.0, pick(5) != 0));
            }
        }
        std::shuffle(windows.begin(), windows.end(), rng);
        std::map<std::int32_t, std::optional<std::string>> bundles;
        for (int p = 1; p <= apps; ++p)
            if (pick(3) == 0) bundles[p] = std::nullopt;
        auto in = inputs(items, windows, bundles);
        auto literal = detection::detect(in, 4.0, Passes::literal);
        auto indexed = detection::detect(in, 4.0, Passes::indexed);
        ASSERT_EQ(literal.size(), indexed.size()) << "round " << round;
        for (std::size_t i = 0; i < literal.size(); ++i) {
            ASSERT_EQ(literal[i].id(), indexed[i].id()) << "round " << round;
            ASSERT_EQ(literal[i].windowID(), indexed[i].windowID()) << "round " << round;
            ASSERT_EQ(literal[i].isOnScreen(), indexed[i].isOnScreen()) << "round " << round;
            ASSERT_EQ(literal[i].isVerified(), indexed[i].isVerified()) << "round " << round;
            ASSERT_EQ(literal[i].title(), indexed[i].title()) << "round " << round;
        }
    }
}
