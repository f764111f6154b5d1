#include "macos/AppKit/StatusItem.hpp"
#include "macos/CoreGraphics/WindowImage.hpp"
#include "macos/ScreenCaptureKit/ScreenshotManager.hpp"
#include "macos/sim/StatusItemDrawing.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <functional>
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

// A capture of a status window copies its backing store while its drawing is unchanged and draws
// again, exactly as a fresh drawing would, once anything it shows has changed.
TEST_F(StatusItemDrawingTest, ACaptureDrawsAgainExactlyWhenWhatTheWindowShowsChanges) {
    auto own = ns::StatusItem::create();
    own->button()->setImage(ns::Image(cg::Image::filled(36, 36, 0xFF0000FF), cg::Size{18, 18}));
    const sim::StatusItemID ownId = own->worldItem();
    auto idOf = [&](const char* title) { return byTitle(title).id; };
    auto spec = [&](sim::StatusItemID id) -> sim::StatusItemSpec& { return world.mutableStatusItem(id)->spec; };
    auto window = [&](sim::StatusItemID id) -> sim::Window& {
        return *world.windowServer().find(world.statusItem(id)->window);
    };
    struct Case {
        const char* change;
        sim::StatusItemID item;
        std::function<void()> apply;
        bool redraws;
        // Without fonts (as here) each character is a block: a new minute draws the same blocks.
        bool looksDifferent = redraws;
    };
    const auto ledger = idOf("Ledger");
    const auto reading = idOf("1013 hPa");
    const auto clock = idOf("Clock");
    const Case cases[] = {
        {"the symbol", ledger, [&] { spec(ledger).symbol = "globe"; }, true},
        {"the window's colour", ledger, [&] { window(ledger).color = 0xFF0000FF; }, true},
        {"the text", reading, [&] { spec(reading).text = "1013  hPa"; }, true},
        {"the minute of the time", clock, [&] { loop.advance(std::chrono::seconds(60)); }, true, false},
        {"the window's width", ledger, [&] { window(ledger).bounds.size.width += 10; }, true},
        {"the screen's scale", ledger,
         [&] {
             auto screen = world.screens().screens().front()->spec();
             screen.backingScaleFactor = 1;
             world.replaceScreen(0, screen);
         },
         true},
        {"the button's image", ownId,
         [&] { world.mutableStatusItem(ownId)->image = cg::Image::filled(36, 36, 0x00FF00FF); }, true},
        {"the button's image size", ownId,
         [&] {
             world.mutableStatusItem(ownId)->imageSize = cg::Size{12, 12};
         },
         true},
        // What the drawing does not show.
        {"a second within the minute", clock, [&] { loop.advance(std::chrono::seconds(59)); }, false},
        {"the window's place", ledger, [&] { window(ledger).bounds.origin.x += 5; }, false},
        {"the title", ledger, [&] { spec(ledger).title = "Journal"; }, false},
        {"the symbol of a text item", reading, [&] { spec(reading).symbol = "globe"; }, false},
        {"the text of an image item", ownId, [&] { spec(ownId).text = "hidden"; }, false},
        {"another item's symbol", reading, [&] { spec(ledger).symbol = "moon"; }, false},
    };
    for (const auto& c : cases) {
        auto& stores = world.windowServer().backingStores();
        const auto number = world.statusItem(c.item)->window;
        auto capture = [&] {
            return cg::windowListCreateImage(cg::Rect::null(), cg::windowListOptionIncludingWindow, number,
                                             cg::windowImageBoundsIgnoreFraming | cg::windowImageBestResolution);
        };
        auto before = capture();
        ASSERT_NE(before, nullptr) << c.change;
        const auto drawings = stores.drawingCount();
        EXPECT_EQ(capture()->pixels(), before->pixels()) << c.change << ": a second capture is a copy";
        EXPECT_EQ(stores.drawingCount(), drawings) << c.change << ": a second capture draws nothing";
        c.apply();
        auto after = capture();
        ASSERT_NE(after, nullptr) << c.change;
        EXPECT_EQ(stores.drawingCount(), drawings + (c.redraws ? 1 : 0)) << c.change;
        EXPECT_EQ(after->pixels() != before->pixels(), c.looksDifferent) << c.change;
        // Whatever was kept, the capture is what a fresh drawing shows.
        stores.forget(number);
        EXPECT_EQ(capture()->pixels(), after->pixels()) << c.change;
    }
}

TEST_F(StatusItemDrawingTest, AScreenshotsBackgroundIsPartOfTheKeptDrawing) {
    const auto& item = byTitle("Peek");
    const auto& window = *world.windowServer().find(item.window);
    auto& stores = world.windowServer().backingStores();
    auto white = sim::windowContentImage(world, window, 60, 74, cg::Color::white());
    auto black = sim::windowContentImage(world, window, 60, 74, cg::Color::black());
    EXPECT_EQ(pixel(white, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(black, 0, 0), 0x000000FFu);
    const auto drawings = stores.drawingCount();
    EXPECT_EQ(sim::windowContentImage(world, window, 60, 74, cg::Color::black())->pixels(), black->pixels());
    EXPECT_EQ(stores.drawingCount(), drawings);
    EXPECT_EQ(pixel(sim::windowContentImage(world, window, 60, 74, cg::Color::white()), 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(stores.drawingCount(), drawings + 1);
}

TEST_F(StatusItemDrawingTest, AClosedWindowsBackingStoreIsDropped) {
    const auto& item = byTitle("Ledger");
    ASSERT_NE(capture(item), nullptr);
    auto& stores = world.windowServer().backingStores();
    const auto kept = stores.size();
    const auto owner = item.owner;
    ASSERT_TRUE(world.quitApplication(owner));
    EXPECT_LT(stores.size(), kept);
}

TEST_F(StatusItemDrawingTest, AnAreaCuttingAStatusWindowShowsThePartOfItsImageInside) {
    const auto& item = byTitle("Ledger");
    auto whole = capture(item);
    ASSERT_NE(whole, nullptr);
    const cg::Rect frame = world.windowServer().find(item.window)->bounds.standardized();
    // Areas the window's image overhangs on each side, at the screen's scale of 2.
    for (auto [dx, dy] : {std::pair<double, double>{5, 3}, {-5, -3}, {5, -3}, {-5, 3}}) {
        const cg::Rect area(frame.minX() + dx, frame.minY() + dy, frame.width(), frame.height());
        auto cut = cg::windowListCreateImage(area, cg::windowListOptionIncludingWindow, item.window,
                                             cg::windowImageBoundsIgnoreFraming | cg::windowImageBestResolution);
        ASSERT_NE(cut, nullptr);
        ASSERT_EQ(cut->width(), whole->width());
        std::size_t differing = 0;
        for (std::size_t y = 0; y < cut->height(); ++y)
            for (std::size_t x = 0; x < cut->width(); ++x) {
                const auto sx = static_cast<double>(x) + 2 * dx;
                const auto sy = static_cast<double>(y) + 2 * dy;
                const bool inside = sx >= 0 && sy >= 0 && sx < static_cast<double>(whole->width()) &&
                                    sy < static_cast<double>(whole->height());
                const auto expected =
                    inside ? pixel(whole, static_cast<std::size_t>(sx), static_cast<std::size_t>(sy)) : 0u;
                differing += pixel(cut, x, y) != expected;
            }
        EXPECT_EQ(differing, 0u) << dx << ", " << dy;
    }
}
