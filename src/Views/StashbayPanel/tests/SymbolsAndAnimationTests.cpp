#include "Views/Settings/PageSymbols.hpp"
#include "Views/StashbayPanel/Animation.hpp"
#include "Views/StashbayPanel/Symbols.hpp"
#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace std::chrono_literals;

namespace {

TEST(SymbolsTest, EveryNamedSymbolDrawsInsideItsBoxAndOthersAreNone) {
    for (const char* name : {"xmark", "gearshape", "power", "exclamationmark.triangle.fill", "app.dashed",
                             "lock.shield", "checkmark.circle"}) {
        SCOPED_TRACE(name);
        auto symbol = stashbay::symbolNamed(name);
        ASSERT_TRUE(symbol);
        const QRectF bounds = symbol->stroke.boundingRect().united(symbol->fill.boundingRect());
        EXPECT_TRUE(QRectF(0, 0, 24, 24).contains(bounds));
        QImage image(24, 24, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            stashbay::drawSymbol(painter, name, QRectF(0, 0, 24, 24), 16, Qt::black);
        }
        int inked = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x) inked += qAlpha(image.pixel(x, y)) > 0;
        EXPECT_GT(inked, 10);
    }
    EXPECT_FALSE(stashbay::symbolNamed("star"));
}

TEST(AnimationTest, CurvesRunFromZeroToOneWithTheirShapes) {
    using stashbay::Curve;
    for (auto curve : {Curve::linear, Curve::easeOut, Curve::easeInOut}) {
        EXPECT_DOUBLE_EQ(stashbay::curveProgress(curve, 0), 0);
        EXPECT_DOUBLE_EQ(stashbay::curveProgress(curve, 1), 1);
        EXPECT_DOUBLE_EQ(stashbay::curveProgress(curve, 2), 1);
        double last = 0;
        for (double t = 0.05; t < 1; t += 0.05) {
            const double p = stashbay::curveProgress(curve, t);
            EXPECT_GE(p, last);
            last = p;
        }
    }
    EXPECT_GT(stashbay::curveProgress(Curve::easeOut, 0.25), 0.25);
    EXPECT_LT(stashbay::curveProgress(Curve::easeInOut, 0.25), 0.25);
    EXPECT_NEAR(stashbay::curveProgress(Curve::easeInOut, 0.5), 0.5, 1e-9);
}

TEST(AnimationTest, ValuesMoveOnTheClockGiven) {
    stashbay::TimedValue value(0, stashbay::Curve::linear, 200ms);
    const runtime::Instant start{10s};
    value.animateTo(10, start);
    EXPECT_DOUBLE_EQ(value.value(start + 50ms), 2.5);
    // Retargeted midway: from where it is.
    value.animateTo(0, start + 100ms);
    EXPECT_DOUBLE_EQ(value.value(start + 100ms), 5);
    EXPECT_DOUBLE_EQ(value.value(start + 300ms), 0);
    EXPECT_FALSE(value.isAnimating(start + 300ms));

    // The row's spring: a small overshoot, settled well within a second.
    const stashbay::Spring spring{0.3, 0.8};
    double lowest = 1;
    for (double t = 0; t < 1; t += 0.01) lowest = std::min(lowest, spring.displacement(t));
    EXPECT_LT(lowest, 0);
    EXPECT_GT(lowest, -0.05);
    EXPECT_LT(spring.settlingTime(), 1.0);
    stashbay::SpringValue x(0);
    x.animateTo(100, start);
    EXPECT_DOUBLE_EQ(x.value(start), 0);
    EXPECT_DOUBLE_EQ(x.value(start + 1s), 100);
}

}  // namespace

TEST(FrameRequesterTest, AsksForFramesWhileItsAnimationRunsTheEndIncludedAndNoneAfter) {
    runtime::ManualLoop loop;
    const auto end = runtime::now() + 100ms;
    std::vector<runtime::Instant> frames;
    stashbay::FrameRequester requester([&](runtime::Instant now) { return now < end; },
                                       [&] { frames.push_back(runtime::now()); });
    requester.start();
    requester.start();  // one request however often it is started
    EXPECT_TRUE(requester.isRequesting());
    loop.advance(50ms);
    EXPECT_EQ(frames.size(), 2u);
    loop.advance(1s);
    // Every sixtieth of a second, the first frame at or after the end the last.
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_GE(frames.back(), end);
    EXPECT_LT(frames[4], end);
    EXPECT_FALSE(requester.isRequesting());
    // Started once it has ended, it asks for nothing.
    requester.start();
    EXPECT_FALSE(requester.isRequesting());
    loop.advance(1s);
    EXPECT_EQ(frames.size(), 6u);
}

TEST(FrameRequesterTest, StoppingOrGoingEndsTheFramesOfAnEndlessAnimation) {
    runtime::ManualLoop loop;
    int frames = 0;
    {
        stashbay::FrameRequester requester([](runtime::Instant) { return true; }, [&] { ++frames; });
        requester.start();
        loop.advance(100ms);
        EXPECT_EQ(frames, 5);
        requester.stop();
        loop.advance(100ms);
        EXPECT_EQ(frames, 5);
        requester.start();
        loop.advance(20ms);
        EXPECT_EQ(frames, 6);
    }
    loop.advance(1s);
    EXPECT_EQ(frames, 6);
}

TEST(SpinnerTest, TurnsOnceASecondClockwiseAndItsDrawingFollows) {
    runtime::ManualLoop loop;
    const auto start = runtime::now();
    auto turned = [&](runtime::Duration d) {
        return std::fmod(stashbay::spinnerAngle(start + d) - stashbay::spinnerAngle(start) + 360.0, 360.0);
    };
    EXPECT_NEAR(turned(250ms), 90.0, 1e-6);
    EXPECT_NEAR(turned(500ms), 180.0, 1e-6);
    EXPECT_NEAR(turned(1s), 0.0, 1e-6);
    auto drawn = [&](runtime::Duration d) {
        QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        stashbay::drawSpinner(painter, QRectF(0, 0, 16, 16), Qt::black, 2, start + d);
        painter.end();
        return image;
    };
    EXPECT_NE(drawn(0ms), drawn(250ms));
    EXPECT_EQ(drawn(0ms), drawn(1s));
}
