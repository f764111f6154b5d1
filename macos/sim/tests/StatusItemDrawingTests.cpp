#include "macos/AppKit/StatusItem.hpp"
#include "macos/CoreGraphics/WindowImage.hpp"
#include "macos/ScreenCaptureKit/ScreenshotManager.hpp"
#include "macos/sim/StatusItemDrawing.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <string>

namespace {

class StatusItemDrawingTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    sim::World world;

    const sim::StatusItem& byTitle(const std::string& title) {
        for (const auto* item : world.statusItems())
            if (item->spec.title == title) return *item;
        throw std::runtime_error("no item " + title);
    }

    cg::ImageRef capture(const sim::StatusItem& item) {
        return cg::windowListCreateImage(cg::Rect::null(), cg::windowListOptionIncludingWindow, item.window,
                                         cg::windowImageBoundsIgnoreFraming | cg::windowImageBestResolution);
    }
};

std::uint32_t pixel(const cg::ImageRef& image, std::size_t x, std::size_t y) {
    const auto* p = &image->pixels()[(y * image->width() + x) * 4];
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Pixels that are drawn at all, and those that are (close to) the opaque colour.
struct Coverage {
    std::size_t drawn = 0;
    std::size_t ofColour = 0;
};

Coverage coverage(const cg::ImageRef& image, std::uint32_t rgba) {
    Coverage c;
    for (std::size_t y = 0; y < image->height(); ++y) {
        for (std::size_t x = 0; x < image->width(); ++x) {
            auto p = pixel(image, x, y);
            if ((p & 0xFF) == 0) continue;
            ++c.drawn;
            if (p == rgba) ++c.ofColour;
        }
    }
    return c;
}

}  // namespace

TEST_F(StatusItemDrawingTest, AStatusWindowsImageIsItsSymbolOnATransparentGround) {
    for (const char* title : {"Wi-Fi", "Battery", "Muffle", "Ledger"}) {
        const auto& item = byTitle(title);
        auto image = capture(item);
        ASSERT_NE(image, nullptr) << title;
        // The window's size at the screen's scale of 2.
        EXPECT_EQ(image->width(), static_cast<std::size_t>(item.frame.width() * 2)) << title;
        EXPECT_EQ(image->height(), 74u) << title;
        for (auto [x, y] : {std::pair<std::size_t, std::size_t>{0, 0},
                            {image->width() - 1, 0},
                            {0, image->height() - 1},
                            {image->width() - 1, image->height() - 1}})
            EXPECT_EQ(pixel(image, x, y), 0u) << title << ": a corner is transparent";
        auto c = coverage(image, item.spec.iconColor);
        EXPECT_GT(c.ofColour, 20u) << title << ": the symbol is drawn in the item's colour";
        EXPECT_LT(c.drawn, image->width() * image->height() / 3) << title << ": not a solid block";
    }
    // Two items' images differ even where their colours are alike.
    EXPECT_NE(capture(byTitle("Ledger"))->pixels(), capture(byTitle("Spotlight"))->pixels());
}

TEST_F(StatusItemDrawingTest, ATextItemShowsItsTextInTheBarsColour) {
    const auto& item = byTitle("1013 hPa");
    ASSERT_EQ(item.spec.text, "1013 hPa");
    auto image = capture(item);
    ASSERT_NE(image, nullptr);
    auto c = coverage(image, 0x141414FF);
    EXPECT_GT(c.ofColour, 100u);
    EXPECT_EQ(coverage(image, item.spec.iconColor).ofColour, 0u) << "text is drawn in the bar's colour";
    EXPECT_EQ(pixel(image, 0, 0), 0u);
}

TEST_F(StatusItemDrawingTest, TheImageIsTheDrawingTheBarPaints) {
    const auto& item = byTitle("Drizzle");
    auto image = capture(item);
    ASSERT_NE(image, nullptr);
    // The bar's drawing of the item, at the same scale, in a painter of its own.
    QImage bar(static_cast<int>(image->width()), static_cast<int>(image->height()),
               QImage::Format_RGBA8888_Premultiplied);
    bar.fill(Qt::transparent);
    {
        QPainter p(&bar);
        p.scale(2, 2);
        p.translate(-item.frame.minX(), -item.frame.minY());
        sim::paintStatusItem(p, world, item,
                             QRectF(item.frame.minX(), item.frame.minY(), item.frame.width(), item.frame.height()));
    }
    std::size_t differing = 0;
    for (std::size_t y = 0; y < image->height(); ++y)
        for (std::size_t x = 0; x < image->width(); ++x) {
            QRgb q = bar.pixel(static_cast<int>(x), static_cast<int>(y));
            if (qAlpha(q) != static_cast<int>(pixel(image, x, y) & 0xFF)) ++differing;
        }
    EXPECT_EQ(differing, 0u);
}

TEST_F(StatusItemDrawingTest, AScreenshotOfAStatusWindowDrawsTheItemOverTheBackground) {
    const auto& item = byTitle("Peek");
    sc::Window window;
    window.windowID = item.window;
    window.frame = item.frame;
    sc::ContentFilter filter(window);
    sc::StreamConfiguration configuration;
    configuration.width = 60;
    configuration.height = 74;
    configuration.backgroundColor = cg::Color::white();
    cg::ImageRef shot;
    sc::ScreenshotManager::captureImage(filter, configuration, [&](cg::ImageRef image, auto) { shot = image; });
    loop.advance(std::chrono::seconds(1));
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(pixel(shot, 0, 0), 0xFFFFFFFFu);
    EXPECT_GT(coverage(shot, item.spec.iconColor).ofColour, 20u);
}

TEST_F(StatusItemDrawingTest, AnOrdinaryWindowStillShowsItsColour) {
    sim::WindowSpec spec;
    spec.bounds = cg::Rect{10, 100, 20, 10};
    spec.color = 0x336699FF;
    auto n = world.openWindow(301, spec);
    auto image = cg::windowListCreateImage(cg::Rect::null(), cg::windowListOptionIncludingWindow, n,
                                           cg::windowImageNominalResolution);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(coverage(image, 0x336699FFu).ofColour, 200u);
}

TEST_F(StatusItemDrawingTest, AnUnknownSymbolIsNamedWithTheKnownOnes) {
    try {
        sim::parseScenario(R"({"version": 1, "screens": [], "applications": [
            {"pid": 10, "statusItems": [{"symbol": "teapot"}]}]})",
                           "symbols.json");
        FAIL() << "an unknown symbol was read";
    } catch (const sim::ScenarioError& e) {
        EXPECT_EQ(e.path(), "applications[0].statusItems[0].symbol");
        EXPECT_NE(e.problem().find("wifi"), std::string::npos) << e.problem();
    }
}

TEST_F(StatusItemDrawingTest, StashbaysOwnItemShowsItsButtonsImageInTheBarAndItsWindow) {
    auto own = ns::StatusItem::create();
    own->button()->setImage(ns::Image(cg::Image::filled(36, 36, 0xFF0000FF), cg::Size{18, 18}));
    const auto* item = world.statusItem(own->worldItem());
    ASSERT_NE(item, nullptr);
    auto image = capture(*item);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(pixel(image, 0, 0), 0u);
    EXPECT_EQ(pixel(image, image->width() / 2, image->height() / 2), 0xFF0000FFu);
    // An 18-point image at twice the scale covers 36 by 36 pixels.
    EXPECT_EQ(coverage(image, 0xFF0000FFu).ofColour, 36u * 36u);
}
