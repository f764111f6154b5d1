#include "macos/CoreGraphics/Geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>

using cg::Point;
using cg::Rect;

TEST(Geometry, ReadingsWorkOnTheStandardisedRectangle) {
    Rect r{10, 20, -4, 6};
    EXPECT_EQ(r.standardized(), (Rect{6, 20, 4, 6}));
    EXPECT_EQ(r.minX(), 6);
    EXPECT_EQ(r.midX(), 8);
    EXPECT_EQ(r.maxX(), 10);
    EXPECT_EQ(r.minY(), 20);
    EXPECT_EQ(r.midY(), 23);
    EXPECT_EQ(r.maxY(), 26);
}

TEST(Geometry, ContainmentIncludesMinEdgesAndExcludesMaxEdges) {
    Rect notch{662, 945, 188, 37};
    struct Case {
        Point p;
        bool inside;
    } cases[] = {
        {{662, 945}, true}, {{850, 960}, false}, {{700, 982}, false}, {{849.99, 981.99}, true}, {{661.99, 960}, false},
    };
    for (auto& c : cases) EXPECT_EQ(notch.contains(c.p), c.inside) << c.p.x << "," << c.p.y;
    EXPECT_FALSE(Rect::null().contains(Point{0, 0}));
}

TEST(Geometry, RectanglesThatOnlyTouchDoNotIntersect) {
    Rect a{0, 0, 10, 10};
    EXPECT_TRUE(a.intersects(Rect{5, 5, 10, 10}));
    EXPECT_EQ(a.intersection(Rect{5, 5, 10, 10}), (Rect{5, 5, 5, 5}));
    EXPECT_FALSE(a.intersects(Rect{10, 0, 5, 5}));
    EXPECT_FALSE(a.intersects(Rect{0, 10, 5, 5}));
    EXPECT_TRUE(a.intersection(Rect{20, 20, 1, 1}).isNull());
    EXPECT_FALSE(a.intersects(Rect::null()));
    EXPECT_TRUE(a.intersects(Rect{12, 12, -4, -4})) << "negative sizes are standardised first";
}

TEST(Geometry, NullRectangleIsEmptyAndUnionIgnoresIt) {
    EXPECT_TRUE(Rect::null().isNull());
    EXPECT_TRUE(Rect::null().isEmpty());
    EXPECT_FALSE(Rect::zero().isNull());
    EXPECT_EQ(Rect::null().unionWith(Rect{1, 2, 3, 4}), (Rect{1, 2, 3, 4}));
    EXPECT_EQ((Rect{0, 0, 1, 1}).unionWith(Rect{2, 2, 1, 1}), (Rect{0, 0, 3, 3}));
}

TEST(Geometry, DescriptionsUseTheShortestRoundTripWithATrailingZero) {
    EXPECT_EQ(cg::describe(Rect{662, 945, 188, 37}), "(662.0, 945.0, 188.0, 37.0)");
    EXPECT_EQ(cg::describe(0.1), "0.1");
    EXPECT_EQ(cg::describe(-1920.0), "-1920.0");
    EXPECT_EQ(cg::describe(869.9), "869.9");
    EXPECT_EQ(cg::describe(Point{1.5, -0.0}), "(1.5, -0.0)");
}
